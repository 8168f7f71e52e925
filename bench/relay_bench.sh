#!/usr/bin/env bash
# Relay benchmark: tindrel-relay against a minimal Node `ws` relay, measured
# in interleaved pairs on 127.0.0.1 (ours then theirs, then theirs then ours,
# and so on), each figure reported as the median of the per-pair ratios with
# their min and max; a shared machine drifts, and only pairs taken side by
# side compare fairly.
#   - forwarding rate of 1 KiB messages across 100 rooms (messages/s) and
#     messages per relay CPU-second (the load client may be the limit, so the
#     second is the fairer comparison); once on its own and once among many
#     idle connections
#   - resident memory per idle connection (RSS delta / connections)
#   - with haproxy installed, the forwarding rate through HAProxy to three of
#     our relays beside one relay alone, and the messages per CPU-second of
#     HAProxy and the relays together, again in interleaved pairs
# The ws package is installed from the npm registry into a temporary folder
# for this run only; it is never part of the project.
# Usage: bench/relay_bench.sh [build-dir]
#   (env: PAIRS, ROOMS, SECONDS_PER_RUN, WINDOW, IDLE)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
relay_bin=$build/bin/tindrel-relay
pairs=${PAIRS:-5}
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

# start_relay <log> <command...>: starts it, sets relay_pid and relay_port.
start_relay() {
    local log=$1
    shift
    "$@" 2>"$log" &
    relay_pid=$!
    pids+=("$relay_pid")
    for _ in $(seq 100); do
        relay_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log" 2>/dev/null | head -1)
        [ -n "$relay_port" ] && return 0
        sleep 0.05
    done
    echo "$* did not start" >&2
    exit 1
}

stop_pid() {
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

# forward <port> <pid>: prints "<msgs/s> <msgs per relay CPU-second>"
forward() {
    local rate cpu
    read -r rate cpu < <(node "$here/relay_load.js" forward "$1" "$rooms" "$seconds" "$window" "$2")
    echo "$rate $(awk -v r="$rate" -v c="$cpu" 'BEGIN {printf "%.0f", (c > 0 ? r * 100 / c : 0)}')"
}

# measure <name> <command...>: prints "<msgs/s> <per CPU-s> <msgs/s> <per CPU-s> <KiB/idle>",
# alone and then among the idle connections.
measure() {
    local name=$1
    shift
    local plain crowded before after client
    start_relay "$tmp/$name.log" "$@"
    plain=$(forward "$relay_port" "$relay_pid")
    stop_pid "$relay_pid"

    # A fresh relay for the memory figure, then the same load among the idle.
    start_relay "$tmp/$name.log" "$@"
    sleep 0.5
    before=$(rss_kib "$relay_pid")
    node "$here/relay_load.js" idle "$relay_port" "$idle" >"$tmp/$name-idle.out" &
    client=$!
    pids+=("$client")
    for _ in $(seq 600); do grep -q ready "$tmp/$name-idle.out" && break; sleep 0.05; done
    sleep 1
    after=$(rss_kib "$relay_pid")
    crowded=$(forward "$relay_port" "$relay_pid")
    stop_pid "$client"
    stop_pid "$relay_pid"
    echo "$plain $crowded $(awk -v a="$after" -v b="$before" -v n="$idle" 'BEGIN {printf "%.1f", (a - b) / n}')"
}

# summary <file of "a1 a2 ... | b1 b2 ..." lines> <label>...: per column, the
# medians of each side and the median, min and max of the per-pair a/b ratios.
summary() {
    local file=$1
    shift
    local IFS=,
    awk -v labels="$*" '
        function sort(a, n,   i, j, t) { for (i = 2; i <= n; ++i) for (j = i; j > 1 && a[j-1] > a[j]; --j) { t = a[j]; a[j] = a[j-1]; a[j-1] = t } }
        function median(a, n) { sort(a, n); return n % 2 ? a[(n+1)/2] : (a[n/2] + a[n/2+1]) / 2 }
        {
            split($0, halves, "|"); na = split(halves[1], a, " "); split(halves[2], b, " ")
            for (c = 1; c <= na; ++c) { A[c, NR] = a[c]; B[c, NR] = b[c]; R[c, NR] = (b[c] > 0 ? a[c] / b[c] : 0) }
            cols = na; rows = NR
        }
        END {
            n = split(labels, name, ",")
            printf "%-34s %12s %12s %8s %8s %8s\n", "", "ours", "theirs", "ratio", "min", "max"
            for (c = 1; c <= cols; ++c) {
                for (r = 1; r <= rows; ++r) { x[r] = A[c, r]; y[r] = B[c, r]; z[r] = R[c, r] }
                ma = median(x, rows); mb = median(y, rows); mr = median(z, rows)
                printf "%-34s %12.1f %12.1f %8.2f %8.2f %8.2f\n", name[c], ma, mb, mr, z[1], z[rows]
            }
        }' "$file"
}

# Our relay bounds connections per address; the load all comes from 127.0.0.1.
limits=(--per-address 100000 --max-connections 100000)
ours=("$relay_bin" --listen 127.0.0.1 --port 0 "${limits[@]}")
theirs=(node "$here/node_relay.js" 0)

: >"$tmp/pairs"
for i in $(seq "$pairs"); do
    if [ $((i % 2)) -eq 1 ]; then
        a=$(measure ours "${ours[@]}"); b=$(measure theirs "${theirs[@]}")
    else
        b=$(measure theirs "${theirs[@]}"); a=$(measure ours "${ours[@]}")
    fi
    echo "pair $i: ours $a | theirs $b" >&2
    echo "$a | $b" >>"$tmp/pairs"
done
echo "tindrel-relay (ours) against a minimal Node ws relay (theirs), $pairs interleaved pairs"
summary "$tmp/pairs" "msgs/s alone" "msgs per CPU-s alone" "msgs/s among $idle idle" \
    "msgs per CPU-s among $idle idle" "KiB per idle connection"
echo "(1 KiB messages, $rooms rooms, window $window per room, ${seconds}s; ratio = ours/theirs,"
echo " the median of the per-pair ratios; for KiB lower is better)"

command -v haproxy >/dev/null || { echo "haproxy not installed: no scale-out figures"; exit 0; }

# Three relays behind HAProxy (balanced by room) beside one relay alone.
through_haproxy() {
    local ports=() relays=() front cfg=$tmp/haproxy.cfg
    for n in 1 2 3; do
        start_relay "$tmp/scale$n.log" "${ours[@]}" --metrics 127.0.0.1:0
        relays+=("$relay_pid")
        ports+=("$relay_port $(sed -n 's/.*metrics on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$tmp/scale$n.log")")
    done
    front=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    {
        printf 'defaults\n    mode http\n    timeout connect 2s\n    timeout client 120s\n'
        printf '    timeout server 120s\n    timeout tunnel 1h\n'
        printf 'frontend relay\n    bind 127.0.0.1:%s\n    default_backend relays\n' "$front"
        printf 'backend relays\n    balance url_param room\n    hash-type consistent\n'
        printf '    option httpchk GET /healthz\n    default-server inter 1s fall 2 rise 2\n'
        for n in 0 1 2; do
            read -r port metrics <<<"${ports[$n]}"
            printf '    server relay%s 127.0.0.1:%s check port %s\n' "$n" "$port" "$metrics"
        done
    } >"$cfg"
    haproxy -db -f "$cfg" 2>"$tmp/haproxy.log" &
    local balancer=$!
    pids+=("$balancer")
    sleep 1
    local all
    all=$(IFS=,; echo "${relays[*]},$balancer")
    forward "$front" "$all"
    stop_pid "$balancer"
    for pid in "${relays[@]}"; do stop_pid "$pid"; done
}
single() {
    start_relay "$tmp/single.log" "${ours[@]}"
    forward "$relay_port" "$relay_pid"
    stop_pid "$relay_pid"
}
: >"$tmp/scale"
for i in $(seq "$pairs"); do
    if [ $((i % 2)) -eq 1 ]; then a=$(through_haproxy); b=$(single); else b=$(single); a=$(through_haproxy); fi
    echo "pair $i: haproxy+3 $a | one relay $b" >&2
    echo "$a | $b" >>"$tmp/scale"
done
echo
echo "HAProxy in front of three relays (ours) against one relay alone (theirs), $pairs pairs"
summary "$tmp/scale" "msgs/s" "msgs per CPU-s (relays + HAProxy)"
