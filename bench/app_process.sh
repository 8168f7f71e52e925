#!/usr/bin/env bash
# Process-level figures of the tindrel program on a headless desktop of its
# own, with a store of 1,000 clips:
#   - start-up to tray icon (ms)
#   - global shortcut to visible panel (ms, median of several openings)
#   - resident memory after start (MiB)
# Usage: bench/app_process.sh [build-dir]   (after a build; nothing else runs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin="$build/bin/tindrel"
[ -x "$bin" ] || { echo "build first: $bin is missing" >&2; exit 1; }

work=$(mktemp -d /tmp/tindrel-bench.XXXXXX)
export TINDREL_XDESKTOP_STATE="$work/desktop"
line=$(env -u DISPLAY scripts/x-desktop.sh up) || { rm -rf "$work"; exit 1; }
export "$line"
pid=""
finish() {
    set +e # clean up everything, whatever fails on the way
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    scripts/x-desktop.sh down "$DISPLAY" >/dev/null 2>&1
    rm -rf "$work"
}
trap finish EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Tindrel" "$XDG_DATA_HOME/Tindrel"
printf '[General]\nhistoryLimit=1000\n' >"$XDG_CONFIG_HOME/Tindrel/Tindrel.conf"

# 1,000 clips of 20 to 400 characters, 5 of them pinned.
python3 - "$XDG_DATA_HOME/Tindrel/store.json" <<'PY'
import json, random, sys, uuid
random.seed(7)
words = "alpha beta gamma delta copy paste clip panel search pin tray shortcut".split()
def text(i):
    return f"{i}: " + " ".join(random.choice(words) for _ in range(random.randint(3, 60)))
now = 700000000.0
history = [{"id": str(uuid.uuid4()).upper(), "text": text(i), "createdAt": now - i} for i in range(1000)]
pinned = [{"id": str(uuid.uuid4()).upper(), "text": f"pin {k}", "createdAt": now, "pinnedAt": now - k}
          for k in range(5)]
json.dump({"history": history, "pinned": pinned, "unpinned": {}}, open(sys.argv[1], "w"))
PY



now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# Our windows on screen, one "WIDTHxHEIGHT" per line.
sizes() {
    local window
    for window in $(xdotool search --onlyvisible --classname '^tindrel$' 2>/dev/null); do
        xdotool getwindowgeometry "$window" 2>/dev/null | awk '/Geometry:/ { print $2 }'
    done
}
has_tray_icon() { sizes | awk -F x '$1 < 64 && $2 < 64 { found = 1 } END { exit !found }'; }
panel_visible() { sizes | awk -F x '$1 >= 280 { found = 1 } END { exit !found }'; }
panel_hidden() { ! panel_visible; }
panel_focused() {
    local active
    active=$(xdotool getactivewindow 2>/dev/null) || return 1
    xprop -id "$active" WM_CLASS 2>/dev/null | grep -q '"tindrel"'
}
wait_for() { # wait_for <max ms> <check...>
    local limit=$1
    shift
    local deadline=$(( $(now_ms) + limit ))
    while ! "$@"; do
        if (( $(now_ms) > deadline )); then return 1; fi
        sleep 0.005
    done
}

start=$(now_ms)
"$bin" >"$work/tindrel.log" 2>&1 &
pid=$!
wait_for 20000 has_tray_icon || {
    echo "no tray icon after $(( $(now_ms) - start )) ms" >&2
    cat "$work/tindrel.log" >&2
    xwininfo -root -tree | grep -i tindrel >&2 || true
    exit 1
}
startup=$(( $(now_ms) - start ))

sleep 2
rss_kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")

times=()
for _ in $(seq 7); do
    sleep 0.4 # past the panel's toggle debounce
    t0=$(now_ms)
    xdotool key ctrl+alt+v
    wait_for 5000 panel_visible || { echo "the panel did not open" >&2; exit 1; }
    times+=($(( $(now_ms) - t0 )))
    wait_for 5000 panel_focused || { echo "the panel did not get the keyboard" >&2; exit 1; }
    xdotool key Escape
    wait_for 5000 panel_hidden || { echo "Escape did not close the panel" >&2; exit 1; }
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (${#times[@]} + 1) / 2 ))p")

echo "tindrel with 1,000 clips on $(nproc) cores:"
echo "  start-up to tray icon:        ${startup} ms"
echo "  shortcut to visible panel:    ${median} ms median (of ${times[*]} ms)"
echo "  resident memory after start:  $(( rss_kb / 1024 )) MiB (${rss_kb} KiB)"
echo "(times include the X round trips of the polling that watches for the windows)"
