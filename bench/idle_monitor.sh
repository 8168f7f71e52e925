#!/bin/bash
# Idle CPU cost of the clipboard monitor: the monitor alone polls the X11
# clipboard every 0.4 s, with no change, under a headless desktop of its own;
# its CPU time over the window is read from /proc/<pid>/stat. Goal: < 0.1 %.
#   bench/idle_monitor.sh [build-dir] [seconds, default 60]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
seconds=${2:-60}
program="$build/bench/idle_monitor"
[ -x "$program" ] || { echo "build $program first (cmake --build $build --target idle_monitor)" >&2; exit 1; }

state=$(mktemp -d)
export TINDREL_XDESKTOP_STATE=$state
unset DISPLAY
line=$("$here/../scripts/x-desktop.sh" up --tray=none)
export "$line"
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    "$here/../scripts/x-desktop.sh" down "$DISPLAY" >/dev/null
    rm -rf "$state"
}
trap cleanup EXIT

"$program" --idle-run $((seconds + 10)) >"$state/out" 2>"$state/err" &
pid=$!
for _ in $(seq 200); do grep -q ready "$state/out" && break; sleep 0.05; done
grep -q ready "$state/out" || { cat "$state/err" >&2; exit 1; }
sleep 2 # past start-up

# utime + stime (fields 14 and 15; the name in field 2 may hold spaces)
ticks() { sed 's/^.*) //' "/proc/$pid/stat" | awk '{ print $12 + $13 }'; }
hz=$(getconf CLK_TCK)
t0=$(date +%s.%N); c0=$(ticks)
sleep "$seconds"
t1=$(date +%s.%N); c1=$(ticks)
awk -v c="$((c1 - c0))" -v hz="$hz" -v t0="$t0" -v t1="$t1" 'BEGIN {
    cpu = c / hz; wall = t1 - t0
    printf "idle monitor: %.2f s CPU in %.1f s of polling at 0.4 s = %.3f %% (goal < 0.1 %%)\n", cpu, wall, 100 * cpu / wall
}'
