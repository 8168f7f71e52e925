#!/usr/bin/env bash
# Resident memory of one tindrel process with N paired devices (default 10)
# connected through a tindrel-relay process; the devices are sync services
# of a helper process. Prints the memory once all N links are up.
# Usage: bench/sync_memory.sh [build-dir] [devices]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD build=${1:-build} count=${2:-10}
bin=$build/bin
[ -x "$bin/tindrel" ] && [ -x "$bin/tindrel-sync-peers" ] || { echo "build first" >&2; exit 1; }
bin=$(cd "$bin" && pwd)
poll_interval=0.4
work=$(mktemp -d /tmp/tindrel-bench.XXXXXX)
source tests/e2e/sync_pair.sh
trap 'pair_down; rm -rf "$work"' EXIT

relay_up
identity Anna
"$bin/tindrel-sync-peers" "ws://127.0.0.1:$relay_port" "$id_Anna" "$key_Anna" "$count" \
    >"$work/peers" 2>/dev/null &
pids+=($!)
all_printed() { [ "$(wc -l <"$work/peers")" -ge "$count" ]; }
until_ok 20 all_printed
names=()
i=0
while read -r id key; do
    i=$((i + 1))
    eval "id_Peer$i=$id key_Peer$i=$key"
    names+=("Peer$i")
done <"$work/peers"
device_up Anna "${names[@]}"
linked_all() { [ "$(grep -c 'relay connected for Peer' "$work/Anna/state/Tindrel/sync.log")" -ge "$count" ]; }
until_ok 30 linked_all || { echo "not every link came up" >&2; exit 1; }
sleep 3 # past the exchange that follows each link
rss=$(awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$dev_Anna_pid/status")
echo "tindrel with $count paired devices linked through the relay: $rss MiB resident"
