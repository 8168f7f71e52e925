#!/usr/bin/env bash
# Start-up with a large store, on a headless desktop of its own: from the
# start of the process to its tray icon mapped (the X server's MapNotify,
# through bench/probes/x11_map_timer) and resident memory a second later,
# as interleaved pairs of two programs (A, B, A, B, ...; which goes first
# alternates). Both hold the same clips: tindrel a store file of N clips of
# 20 to 400 characters (its history keeping at most 1,000 of them); CopyQ,
# as B, a tab of the same N texts with room for all of them. Prints each
# side's median and the median of the per-pair ratios A/B with min and max.
#
# Usage: bench/store_startup.sh [--pairs N] [--clips N] [--session-bus]
#                               [build-dir] [other-build-dir | copyq]
#   B is other-build-dir/bin/tindrel, or CopyQ (installed with apt-get when
#   missing); by default A again, which shows how noisy the machine is.
#   --session-bus runs both on a session bus of their own, as on a desktop;
#   without one, a program that asks for it has libdbus start one first.
set -euo pipefail
cd "$(dirname "$0")/.."

pairs=7
clips=10000
session_bus=0
args=()
while (($#)); do
    case $1 in
        --pairs) pairs=$2; shift 2 ;;
        --clips) clips=$2; shift 2 ;;
        --session-bus) session_bus=1; shift ;;
        -*) echo "unknown option $1" >&2; exit 2 ;;
        *) args+=("$1"); shift ;;
    esac
done
a_build=${args[0]:-build}
b_side=${args[1]:-$a_build}
a_bin="$a_build/bin/tindrel"
timer="$a_build/bench/probes/x11_map_timer"
[ -x "$timer" ] || timer="build/bench/probes/x11_map_timer"
if [ "$b_side" = copyq ]; then
    if ! command -v copyq >/dev/null; then
        echo "installing copyq (only a peer to measure against)" >&2
        apt-get install -y --no-install-recommends copyq >/dev/null
    fi
    b_name=copyq
else
    b_name="$b_side/bin/tindrel"
fi
for f in "$a_bin" "$timer"; do
    [ -x "$f" ] || { echo "build first: $f is missing" >&2; exit 1; }
done
[ "$b_side" = copyq ] || [ -x "$b_name" ] || { echo "build first: $b_name is missing" >&2; exit 1; }

work=$(mktemp -d /tmp/tindrel-startup.XXXXXX)
export TINDREL_XDESKTOP_STATE="$work/desktop"
line=$(env -u DISPLAY scripts/x-desktop.sh up) || { rm -rf "$work"; exit 1; }
export "$line"
bus_pid=""
if ((session_bus)); then
    bus=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1)
    export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
    bus_pid=${bus##*$'\n'}
else
    unset DBUS_SESSION_BUS_ADDRESS
fi
pid=""
stop_app() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        # Not our child (the timer started it): make sure it is gone before
        # the next run, which would find its lock or its server.
        for _ in $(seq 500); do kill -0 "$pid" 2>/dev/null || break; sleep 0.02; done
        kill -9 "$pid" 2>/dev/null || true
        pid=""
    fi
}
finish() {
    set +e # clean up everything, whatever fails on the way
    stop_app
    [ -z "$bus_pid" ] || kill "$bus_pid"
    scripts/x-desktop.sh down "$DISPLAY" >/dev/null 2>&1
    rm -rf "$work"
}
trap finish EXIT

# The texts, one a line, newest first; the tindrel store holds them, 5 pins
# besides.
python3 - "$work/store.json" "$work/texts" "$clips" <<'PY'
import json, random, sys, uuid
random.seed(7)
words = "alpha beta gamma delta copy paste clip panel search pin tray shortcut".split()
def text(i):
    return f"{i}: " + " ".join(random.choice(words) for _ in range(random.randint(3, 60)))
now = 700000000.0
texts = [text(i) for i in range(int(sys.argv[3]))]
history = [{"id": str(uuid.uuid4()).upper(), "text": t, "createdAt": now - i}
           for i, t in enumerate(texts)]
pinned = [{"id": str(uuid.uuid4()).upper(), "text": f"pin {k}", "createdAt": now, "pinnedAt": now - k}
          for k in range(5)]
json.dump({"history": history, "pinned": pinned, "unpinned": {}}, open(sys.argv[1], "w"))
open(sys.argv[2], "w").write("\n".join(texts))
PY

fresh_home() {
    local home="$work/run"
    rm -rf "$home"
    export XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_STATE_HOME="$home/state"
    export XDG_RUNTIME_DIR="$home/xdg-run" COPYQ_SETTINGS_PATH="$home/copyq"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Tindrel" "$XDG_DATA_HOME/Tindrel"
}

# CopyQ's tab, filled once through its own commands and copied for each run.
if [ "$b_side" = copyq ]; then
    fresh_home
    copyq >"$work/copyq-fill.log" 2>&1 &
    filler=$!
    for _ in $(seq 100); do copyq eval 1 >/dev/null 2>&1 && break; sleep 0.1; done
    copyq config maxitems "$clips" >/dev/null
    # Oldest first, so the newest ends on top as in tindrel's store. (The
    # copyq command turns a backslash-n in its arguments into a line feed.)
    copyq eval "var f = new File('$work/texts'); f.openReadOnly();
        var texts = str(f.readAll()).split(String.fromCharCode(10)); f.close();
        for (var i = texts.length - 1; i >= 0; --i) add(texts[i]);" >/dev/null
    held=$(copyq count)
    copyq exit >/dev/null 2>&1 || true
    wait "$filler" 2>/dev/null || true
    [ "$held" = "$clips" ] || { echo "CopyQ holds $held clips, not $clips" >&2; exit 1; }
    cp -a "$COPYQ_SETTINGS_PATH" "$work/copyq-filled"
fi

# One run: prints "startup_ms rss_kib".
run_once() {
    local side=$1 class=tindrel
    fresh_home
    local command=("$a_bin")
    if [ "$side" = B ]; then
        if [ "$b_side" = copyq ]; then
            cp -a "$work/copyq-filled" "$COPYQ_SETTINGS_PATH"
            class=copyq
            command=(copyq)
        else
            command=("$b_name")
        fi
    fi
    printf '[General]\nhistoryLimit=1000\nmaxClipLength=0\n' >"$XDG_CONFIG_HOME/Tindrel/Tindrel.conf"
    cp "$work/store.json" "$XDG_DATA_HOME/Tindrel/store.json"
    local started
    started=$("$timer" launch --class "$class" --max-width 63 --timeout 20000 -- "${command[@]}" \
        2>>"$work/app.log") || { echo "no tray icon: $started" >&2; cat "$work/app.log" >&2; exit 1; }
    pid=${started%% *}
    local startup=${started#* }
    sleep 1 # what start-up leaves for later counts in the memory
    local rss
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
    stop_app
    echo "$startup $rss"
}

results="$work/results"
: >"$results"
for i in $(seq "$pairs"); do
    if (( i % 2 )); then
        a=$(run_once A); b=$(run_once B)
    else
        b=$(run_once B); a=$(run_once A)
    fi
    echo "$i $a $b" >>"$results"
    echo "pair $i: A $a  B $b (start-up ms, RSS KiB)" >&2
done

echo "start-up with $clips clips on $(nproc) cores, $pairs interleaved pairs, $( ((session_bus)) && echo "on a session bus" || echo "without a session bus")"
echo "A: $a_bin"
echo "B: $b_name"
awk -v cols=2 -f bench/lib/pair_report.awk -f /dev/stdin "$results" <<'EOF'
END {
    report("start-up to tray icon", 1, "ms ", 1)
    report("resident memory after start", 2, "MiB", 1024)
}
EOF
