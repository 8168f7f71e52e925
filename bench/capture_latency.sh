#!/usr/bin/env bash
# Capture as a user feels it, on a headless desktop of its own: an owner
# takes the clipboard 20 times, spread over the 0.4 s poll period, and
# notes when each reader first asks for the text (from the X server's
# events, not by polling). Tindrel and CopyQ run side by side and read the
# same copies. Also: Tindrel's idle CPU over 60 s and its CPU per capture.
#   bench/capture_latency.sh [build-dir] [tindrel binary] [copies] [idle seconds]
# WITH_COPYQ=0 leaves CopyQ out (for a tindrel binary whose reads are not
# named, whose requests would otherwise count as CopyQ's).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
bin=${2:-$build/bin/tindrel}
copies=${3:-20}
idle=${4:-60}
probe=$build/bench/probes/x11_probe
[ -x "$bin" ] && [ -x "$probe" ] || { echo "build $bin and $probe first" >&2; exit 1; }
with_copyq=${WITH_COPYQ:-1}
if [ "$with_copyq" = 1 ] && ! command -v copyq >/dev/null; then
    # The peer we compare with; installed for this script only.
    apt-get install -y --no-install-recommends copyq >/dev/null
fi
. "$repo/bench/lib/session.sh"
session_up "$(mktemp -d /tmp/tindrel-capture.XXXXXX)"

start_tindrel "$bin"
if [ "$with_copyq" = 1 ]; then
    COPYQ_SETTINGS_PATH="$work/copyq" copyq >"$work/copyq.log" 2>&1 &
    session_pids+=($!)
    sleep 3
fi

c0=$(cpu_ns "$tindrel_pid") t0=$(date +%s%N)
sleep "$idle"
c1=$(cpu_ns "$tindrel_pid") t1=$(date +%s%N)
idle_rate=$(awk -v c=$((c1 - c0)) -v t=$((t1 - t0)) 'BEGIN { print c / t }')

"$probe" capture "$copies" "$work/latency" &
probe_pid=$!
session_pids+=("$probe_pid")
c0=$(cpu_ns "$tindrel_pid") t0=$(date +%s%N)
wait "$probe_pid"
c1=$(cpu_ns "$tindrel_pid") t1=$(date +%s%N)

echo "capture latency, $copies copies over a 0.4 s poll period, on $(nproc) cores:"
if [ "$with_copyq" = 1 ]; then
    awk '$1 == "tindrel" { print $2 }' "$work/latency" >"$work/ours"
    awk '$1 == "other" { print $2 }' "$work/latency" >"$work/theirs"
    summary "  tindrel" "$work/ours"
    summary "  copyq  " "$work/theirs"
    # Both read the same copy at the same moment: each copy is one pair.
    if [ "$(wc -l <"$work/ours")" = "$(wc -l <"$work/theirs")" ]; then
        paste "$work/ours" "$work/theirs" | awk '$2 > 0 { print $1 / $2 }' | sort -g |
            awk '{ v[NR] = $1 } END { if (NR) printf "  tindrel/copyq per copy: median %.3f, min %.3f, max %.3f (n=%d)\n", v[int((NR + 1) / 2)], v[1], v[NR], NR }'
    else
        echo "  (a reader missed a copy: no per-copy ratios)"
    fi
else
    awk '{ print $2 }' "$work/latency" >"$work/ours"
    summary "  tindrel" "$work/ours"
fi
awk -v r="$idle_rate" -v s="$idle" 'BEGIN { printf "  tindrel idle CPU over %d s: %.4f %%\n", s, 100 * r }'
awk -v c=$((c1 - c0)) -v t=$((t1 - t0)) -v r="$idle_rate" -v n="$copies" 'BEGIN {
    printf "  tindrel CPU per capture: %.2f ms (idle share taken out)\n", (c - r * t) / n / 1e6 }'
