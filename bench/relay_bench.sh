#!/usr/bin/env bash
# Relay benchmark: tindrel-relay side by side with a minimal Node `ws` relay,
# both measured in the same run with the same load client, on 127.0.0.1.
#   - forwarding rate of 1 KiB messages across 100 rooms (messages/s), with
#     the relay's CPU share meanwhile (the load client may be the limit)
#   - resident memory per idle connection (RSS delta / connections)
# The ws package is installed from the npm registry into a temporary folder
# for this run only; it is never part of the project.
# Usage: bench/relay_bench.sh [build-dir]
#   (env: ROOMS, SECONDS_PER_RUN, WINDOW, IDLE)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
relay_bin=$build/bin/tindrel-relay
rooms=${ROOMS:-100}
seconds=${SECONDS_PER_RUN:-5}
window=${WINDOW:-8}
idle=${IDLE:-1000}

[ -x "$relay_bin" ] || { echo "build tindrel-relay first ($relay_bin)" >&2; exit 1; }
command -v node >/dev/null && command -v npm >/dev/null ||
    { echo "node and npm are needed (Debian: apt-get install nodejs npm)" >&2; exit 1; }

tmp=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

npm install --prefix "$tmp" --no-save --no-audit --no-fund --silent ws@8 >/dev/null
export NODE_PATH=$tmp/node_modules

# start_relay <name> <log> <command...>: starts it, sets relay_pid and relay_port.
start_relay() {
    local name=$1 log=$2
    shift 2
    "$@" 2>"$log" &
    relay_pid=$!
    pids+=("$relay_pid")
    for _ in $(seq 100); do
        relay_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log" | head -1)
        [ -n "$relay_port" ] && return 0
        sleep 0.05
    done
    echo "$name did not start" >&2
    exit 1
}

stop_relay() {
    kill "$relay_pid" 2>/dev/null || true
    wait "$relay_pid" 2>/dev/null || true
}

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

measure() {
    local name=$1
    shift
    start_relay "$name" "$tmp/$name-forward.log" "$@"
    local rate cpu
    read -r rate cpu < <(node "$here/relay_load.js" forward "$relay_port" "$rooms" "$seconds" \
        "$window" "$relay_pid")
    stop_relay

    start_relay "$name" "$tmp/$name-idle.log" "$@"
    sleep 0.5
    local before after
    before=$(rss_kib "$relay_pid")
    node "$here/relay_load.js" idle "$relay_port" "$idle" >"$tmp/$name-idle.out" &
    local client=$!
    pids+=("$client")
    for _ in $(seq 600); do grep -q ready "$tmp/$name-idle.out" && break; sleep 0.05; done
    sleep 1
    after=$(rss_kib "$relay_pid")
    kill "$client" 2>/dev/null || true
    wait "$client" 2>/dev/null || true
    stop_relay
    printf '%-14s %10s %10s %16s %14s\n' "$name" "$rate" "$cpu%" \
        "$(awk -v r="$rate" -v c="$cpu" 'BEGIN {printf "%.0f", (c > 0 ? r * 100 / c : 0)}')" \
        "$(awk -v a="$after" -v b="$before" -v n="$idle" 'BEGIN {printf "%.1f", (a - b) / n}')"
}

# Our relay bounds connections per address; the load all comes from 127.0.0.1.
limits=(--per-address 100000 --max-connections 100000)
printf '%-14s %10s %10s %16s %14s\n' relay "msgs/s" "relay CPU" "msgs/CPU-second" "KiB/idle conn"
measure tindrel-relay "$relay_bin" --listen 127.0.0.1 --port 0 "${limits[@]}"
measure node-ws node "$here/node_relay.js" 0
echo "(1 KiB messages, $rooms rooms, window $window per room, ${seconds}s; $idle idle connections)"
