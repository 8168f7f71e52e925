#!/usr/bin/env bash
# CPU of an idle, synced pair: two tindrel processes paired through their
# settings and linked through a tindrel-relay process, left alone for a
# while (default 60 s; polling at the default 0.4 s). Prints each one's CPU
# share and wake-ups per second over that time (bench/lib/proc_tree.py) and
# its resident memory at the end.
# Usage: bench/sync_idle.sh [build-dir] [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD bin=${1:-build}/bin seconds=${2:-60}
[ -x "$bin/tindrel" ] && [ -x "$bin/tindrel-relay" ] || { echo "build first" >&2; exit 1; }
bin=$(cd "$bin" && pwd)
work=$(mktemp -d /tmp/tindrel-bench.XXXXXX)
poll_interval=0.4
source tests/e2e/sync_pair.sh
trap 'pair_down; rm -rf "$work"' EXIT

relay_up
identity Anna
identity Bert
device_up Anna Bert
device_up Bert Anna
until_ok 20 relay_linked Anna Bert && until_ok 20 relay_linked Bert Anna ||
    { echo "the relay links did not come up" >&2; exit 1; }
sleep 2 # past the start-up work

snapshot() { python3 bench/lib/proc_tree.py snapshot "$2" >"$work/$1"; }
snapshot Anna.0 "$dev_Anna_pid"
snapshot Bert.0 "$dev_Bert_pid"
t0=$(date +%s%N)
sleep "$seconds"
snapshot Anna.1 "$dev_Anna_pid"
snapshot Bert.1 "$dev_Bert_pid"
t1=$(date +%s%N)
report() { # NAME PID
    local rss cpu_ns wakeups
    rss=$(awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$2/status")
    read -r cpu_ns wakeups < <(python3 bench/lib/proc_tree.py between "$work/$1.0" "$work/$1.1")
    awk -v n="$1" -v c="$cpu_ns" -v w="$wakeups" -v t=$((t1 - t0)) -v rss="$rss" 'BEGIN {
        printf "%s: %.4f %% CPU, %.3f wake-ups/s over %.0f s, %s MiB resident\n",
            n, 100 * c / t, w / (t / 1e9), t / 1e9, rss }'
}
report Anna "$dev_Anna_pid"
report Bert "$dev_Bert_pid"
