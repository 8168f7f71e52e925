#!/usr/bin/env bash
# Relay benchmark: tindrel-relay side by side with a minimal Node `ws` relay,
# both measured in the same run with the same load client, on 127.0.0.1.
#   - forwarding rate of 1 KiB messages across 100 rooms (messages/s), with
#     the relay's CPU share meanwhile and messages per relay CPU-second (the
#     load client may be the limit, so the last is the fairer comparison);
#     once on its own and once among many idle connections
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

# forward <port> <pid>: prints "<msgs/s> <relay CPU %> <msgs per relay CPU-second>"
forward() {
    local rate cpu
    read -r rate cpu < <(node "$here/relay_load.js" forward "$1" "$rooms" "$seconds" "$window" "$2")
    echo "$rate $cpu $(awk -v r="$rate" -v c="$cpu" 'BEGIN {printf "%.0f", (c > 0 ? r * 100 / c : 0)}')"
}

measure() {
    local name=$1
    shift
    local plain crowded before after
    start_relay "$name" "$tmp/$name-forward.log" "$@"
    plain=$(forward "$relay_port" "$relay_pid")
    stop_relay

    # A fresh relay for the memory figure, then the same load among the idle.
    start_relay "$name" "$tmp/$name-idle.log" "$@"
    sleep 0.5
    before=$(rss_kib "$relay_pid")
    : >"$tmp/$name-idle.out"
    node "$here/relay_load.js" idle "$relay_port" "$idle" >"$tmp/$name-idle.out" &
    local client=$!
    pids+=("$client")
    for _ in $(seq 600); do grep -q ready "$tmp/$name-idle.out" && break; sleep 0.05; done
    sleep 1
    after=$(rss_kib "$relay_pid")
    crowded=$(forward "$relay_port" "$relay_pid")
    kill "$client" 2>/dev/null || true
    wait "$client" 2>/dev/null || true
    stop_relay
    read -r r1 c1 e1 <<<"$plain"
    read -r r2 c2 e2 <<<"$crowded"
    printf '%-14s %9s %5s%% %9s | %9s %5s%% %9s | %8s\n' "$name" "$r1" "$c1" "$e1" "$r2" "$c2" "$e2" \
        "$(awk -v a="$after" -v b="$before" -v n="$idle" 'BEGIN {printf "%.1f", (a - b) / n}')"
}

# Our relay bounds connections per address; the load all comes from 127.0.0.1.
limits=(--per-address 100000 --max-connections 100000)
printf '%-14s %9s %6s %9s | %9s %6s %9s | %8s\n' "" msgs/s CPU per-CPU-s msgs/s CPU per-CPU-s "KiB/idle"
printf '%-14s %27s | %27s |\n' relay "alone" "among $idle idle connections"
measure tindrel-relay "$relay_bin" --listen 127.0.0.1 --port 0 "${limits[@]}"
measure node-ws node "$here/node_relay.js" 0
echo "(1 KiB messages, $rooms rooms, window $window per room, ${seconds}s; $idle idle connections)"
