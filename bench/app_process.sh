#!/usr/bin/env bash
# Process-level figures of the tindrel program on a headless desktop of its
# own, with a store of 1,000 clips (or --clips N, the history keeping at most
# 1,000), as interleaved pairs of two programs (A, B, A, B, ...; which goes
# first alternates):
#   - start-up to tray icon mapped (ms)
#   - global shortcut to panel mapped, the first opening of a run (ms)
#   - global shortcut to panel mapped (ms, median of the later openings)
#   - Esc to panel unmapped (ms, likewise; includes work the panel still had
#     queued, such as painting, which the map does not wait for)
#   - resident memory after start (MiB)
# Windows are timed by the X server's own MapNotify events
# (bench/probes/x11_map_timer), not by polling tools whose round trips cost
# more than what they measure. Per figure it prints each side's median over
# the runs and the median of the per-pair ratios A/B with min and max.
#
# Usage: bench/app_process.sh [--pairs N] [--openings N] [--clips N]
#                             [--huge-clip] [build-dir] [other-build-dir]
#   A is build-dir/bin/tindrel, B other-build-dir/bin/tindrel (by default A
#   again: the ratios then show how noisy the machine is). Both run on the
#   same store. --huge-clip adds a clip of 3,000,000 characters on one line
#   as the newest clip.
set -euo pipefail
cd "$(dirname "$0")/.."

pairs=5
openings=5
clips=1000
huge=0
builds=()
while (($#)); do
    case $1 in
        --pairs) pairs=$2; shift 2 ;;
        --openings) openings=$2; shift 2 ;;
        --clips) clips=$2; shift 2 ;;
        --huge-clip) huge=1; shift ;;
        -*) echo "unknown option $1" >&2; exit 2 ;;
        *) builds+=("$1"); shift ;;
    esac
done
a_build=${builds[0]:-build}
b_build=${builds[1]:-$a_build}
a_bin="$a_build/bin/tindrel"
b_bin="$b_build/bin/tindrel"
timer="$a_build/bench/probes/x11_map_timer"
[ -x "$timer" ] || timer="build/bench/probes/x11_map_timer"
for f in "$a_bin" "$b_bin" "$timer"; do
    [ -x "$f" ] || { echo "build first: $f is missing" >&2; exit 1; }
done

work=$(mktemp -d /tmp/tindrel-bench.XXXXXX)
export TINDREL_XDESKTOP_STATE="$work/desktop"
line=$(env -u DISPLAY scripts/x-desktop.sh up) || { rm -rf "$work"; exit 1; }
export "$line"
pid=""
stop_app() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        # Not our child (the timer started it): wait for it to go, and make
        # sure it has, or the next run finds it still holding the instance lock.
        for _ in $(seq 500); do kill -0 "$pid" 2>/dev/null || break; sleep 0.02; done
        kill -9 "$pid" 2>/dev/null || true
        pid=""
    fi
}
finish() {
    set +e # clean up everything, whatever fails on the way
    stop_app
    scripts/x-desktop.sh down "$DISPLAY" >/dev/null 2>&1
    rm -rf "$work"
}
trap finish EXIT

# $clips clips of 20 to 400 characters, 5 of them pinned (and the huge one).
python3 - "$work/store.json" "$huge" "$clips" <<'PY'
import json, random, sys, uuid
random.seed(7)
words = "alpha beta gamma delta copy paste clip panel search pin tray shortcut".split()
def text(i):
    return f"{i}: " + " ".join(random.choice(words) for _ in range(random.randint(3, 60)))
now = 700000000.0
history = [{"id": str(uuid.uuid4()).upper(), "text": text(i), "createdAt": now - i} for i in range(int(sys.argv[3]))]
if sys.argv[2] == "1":
    history.insert(0, {"id": str(uuid.uuid4()).upper(), "text": "L" * 3000000 + " end",
                       "createdAt": now + 1})
pinned = [{"id": str(uuid.uuid4()).upper(), "text": f"pin {k}", "createdAt": now, "pinnedAt": now - k}
          for k in range(5)]
json.dump({"history": history, "pinned": pinned, "unpinned": {}}, open(sys.argv[1], "w"))
PY

# One run of `bin`: prints "startup_ms first_open_ms open_ms close_ms rss_kib".
run_once() {
    local bin=$1 home="$work/run"
    rm -rf "$home"
    export XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_STATE_HOME="$home/state"
    export XDG_RUNTIME_DIR="$home/xdg-run"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Tindrel" "$XDG_DATA_HOME/Tindrel"
    printf '[General]\nhistoryLimit=1000\nmaxClipLength=0\n' >"$XDG_CONFIG_HOME/Tindrel/Tindrel.conf"
    cp "$work/store.json" "$XDG_DATA_HOME/Tindrel/store.json"

    local started
    started=$("$timer" launch --class tindrel --max-width 63 --timeout 20000 -- "$bin" \
        2>>"$work/app.log") || { echo "no tray icon: $started" >&2; cat "$work/app.log" >&2; exit 1; }
    pid=${started%% *}
    local startup=${started#* }
    sleep 1 # let start-up work settle before reading memory and opening
    local rss
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
    # A panel that does not close in time ends the run's openings; what was
    # measured until then counts, and the failure is reported.
    local times
    times=$("$timer" hotkey --class tindrel --min-width 280 --keys ctrl+alt+v --close Escape \
        --count "$openings" --timeout 5000) || echo "Esc did not close the panel of $1" >&2
    stop_app
    local first open close
    first=$(printf '%s\n' "$times" | awk '$1 + 0 == $1 { print $1; exit }')
    open=$(printf '%s\n' "$times" | awk '$1 + 0 == $1 && ++n > 1 { print $1 }' | sort -n |
        awk '{ v[NR] = $1 } END { print NR ? v[int((NR + 1) / 2)] : "nan" }')
    close=$(printf '%s\n' "$times" | awk '$2 + 0 == $2 && $2 != "" { print $2 }' | sort -n |
        awk '{ v[NR] = $1 } END { print NR ? v[int((NR + 1) / 2)] : 5000 }')
    echo "$startup ${first:-nan} $open $close $rss"
}

results="$work/results"
: >"$results"
for i in $(seq "$pairs"); do
    if (( i % 2 )); then
        a=$(run_once "$a_bin"); b=$(run_once "$b_bin")
    else
        b=$(run_once "$b_bin"); a=$(run_once "$a_bin")
    fi
    echo "$i $a $b" >>"$results"
    echo "pair $i: A $a  B $b (start-up ms, first open ms, later open ms, close ms, RSS KiB)" >&2
done

echo "tindrel with $clips clips$( ((huge)) && echo " and a 3,000,000-character line") on $(nproc) cores, $pairs interleaved pairs"
echo "A: $a_bin"
echo "B: $b_bin"
awk -v cols=5 -f bench/lib/pair_report.awk -f /dev/stdin "$results" <<'EOF'
END {
    report("start-up to tray icon", 1, "ms ", 1)
    report("first shortcut to panel mapped", 2, "ms ", 1)
    report("later shortcut to panel mapped", 3, "ms ", 1)
    report("Esc to panel unmapped", 4, "ms ", 1)
    report("resident memory after start", 5, "MiB", 1024)
}
EOF
echo "(a panel that did not close counts as 5000 ms to unmap)"
