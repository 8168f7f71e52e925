#!/usr/bin/env bash
# CPU of an idle, synced pair: two tindrel processes paired through their
# settings and linked through a tindrel-relay process, left alone for a
# while (default 60 s; polling at the default 0.4 s). Prints each one's CPU
# share over that time and its resident memory at the end.
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

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
a0=$(ticks "$dev_Anna_pid") b0=$(ticks "$dev_Bert_pid")
sleep "$seconds"
a1=$(ticks "$dev_Anna_pid") b1=$(ticks "$dev_Bert_pid")
report() { # NAME T0 T1 PID
    local rss
    rss=$(awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$4/status")
    awk -v n="$1" -v d=$(($3 - $2)) -v hz="$hz" -v s="$seconds" -v rss="$rss" \
        'BEGIN { printf "%s: %.3f %% CPU over %d s, %s MiB resident\n", n, 100 * d / hz / s, s, rss }'
}
report Anna "$a0" "$a1" "$dev_Anna_pid"
report Bert "$b0" "$b1" "$dev_Bert_pid"
