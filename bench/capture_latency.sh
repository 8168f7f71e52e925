#!/usr/bin/env bash
# Capture as a user feels it, on a headless desktop of its own: an owner
# takes the clipboard 20 times, spread over the 0.4 s poll period, and
# notes when each reader first asks for the text (from the X server's
# events, not by polling). Tindrel and CopyQ run side by side and read the
# same copies. Also: each one's idle CPU over 60 s and its CPU per capture,
# counting its child processes, live or reaped (CopyQ reads the clipboard
# in a child of its own, and runs its actions in others it reaps).
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
readers=(tindrel) reader_pids=("$tindrel_pid")
if [ "$with_copyq" = 1 ]; then
    COPYQ_SETTINGS_PATH="$work/copyq" copyq >"$work/copyq.log" 2>&1 &
    session_pids+=($!)
    readers+=(copyq) reader_pids+=($!)
    sleep 3
fi
# snapshot NAME: what each reader's process tree has used so far, in
# $work/READER.NAME; cpu_between A B READER: its CPU ns from A to B.
snapshot() {
    local i
    for i in "${!readers[@]}"; do
        python3 "$repo/bench/lib/proc_tree.py" snapshot "${reader_pids[$i]}" >"$work/${readers[$i]}.$1"
    done
}
cpu_between() {
    python3 "$repo/bench/lib/proc_tree.py" between "$work/$3.$1" "$work/$3.$2" | awk '{ print $1 }'
}

snapshot idle0
t0=$(date +%s%N)
sleep "$idle"
snapshot idle1
idle_ns=$(($(date +%s%N) - t0))

snapshot capture0
t0=$(date +%s%N)
"$probe" capture "$copies" "$work/latency" &
probe_pid=$!
session_pids+=("$probe_pid")
wait "$probe_pid"
sleep 1 # what a reader does with a copy after reading it counts too
snapshot capture1
capture_ns=$(($(date +%s%N) - t0))

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
for reader in "${readers[@]}"; do
    awk -v name="$reader" -v s="$idle" -v n="$copies" \
        -v ci="$(cpu_between idle0 idle1 "$reader")" -v ti="$idle_ns" \
        -v cc="$(cpu_between capture0 capture1 "$reader")" -v tc="$capture_ns" 'BEGIN {
        printf "  %-7s idle CPU over %d s: %.4f %%; CPU per capture: %.2f ms (idle share taken out)\n",
            name, s, 100 * ci / ti, (cc - ci / ti * tc) / n / 1e6 }'
done
