#!/usr/bin/env bash
# Capture under a Wayland compositor, as bench/capture_latency.sh measures it
# under X11: a headless sway of its own, tindrel following its clipboard
# through data-control (its windows on a headless X server, as they would be
# on XWayland), a probe that takes the clipboard `copies` times and notes
# when tindrel first asks for each text (the compositor's own event). Also
# tindrel's idle CPU over `idle` seconds and its CPU per capture.
#   bench/wayland_capture.sh [build-dir] [tindrel binary] [copies] [idle seconds]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
bin=${2:-$build/bin/tindrel}
copies=${3:-20}
idle=${4:-60}
probe=$build/bench/probes/wayland_probe
[ -x "$bin" ] && [ -x "$probe" ] || { echo "build $bin and $probe first" >&2; exit 1; }
. "$repo/bench/lib/session.sh"
session_up "$(mktemp -d /tmp/tindrel-wlcapture.XXXXXX)"

# sway runs as nobody when we are root: it must reach its folder in here.
chmod 755 "$work"
sway_env=$work/sway.env
sway_down() {
    "$repo/tests/wayland/sway_fixture.sh" down "$sway_env" "$work/sway"
    session_down
}
trap sway_down EXIT
"$repo/tests/wayland/sway_fixture.sh" up "$sway_env" "$work/sway" >/dev/null
if grep -q '^SKIP' "$sway_env"; then
    cat "$sway_env" >&2
    exit 1
fi
runtime=$(sed -n 's/^XDG_RUNTIME_DIR=//p' "$sway_env")
# An absolute WAYLAND_DISPLAY lets tindrel keep its own runtime folder.
export WAYLAND_DISPLAY="$runtime/$(sed -n 's/^WAYLAND_DISPLAY=//p' "$sway_env")"
export SWAYSOCK=$(sed -n 's/^SWAYSOCK=//p' "$sway_env")

start_tindrel "$bin"
grep -m1 '^Tindrel: clipboard through' "$work/tindrel.log"
grep -q '^Tindrel: clipboard through Wayland' "$work/tindrel.log" || {
    echo "tindrel did not take the Wayland clipboard" >&2; exit 1; }

c0=$(cpu_ns "$tindrel_pid") t0=$(date +%s%N)
sleep "$idle"
c1=$(cpu_ns "$tindrel_pid") t1=$(date +%s%N)
idle_rate=$(awk -v c=$((c1 - c0)) -v t=$((t1 - t0)) 'BEGIN { print c / t }')

c0=$(cpu_ns "$tindrel_pid") t0=$(date +%s%N)
"$probe" "$copies" "$work/latency"
c1=$(cpu_ns "$tindrel_pid") t1=$(date +%s%N)

echo "capture latency under headless sway, $copies copies, on $(nproc) cores:"
grep -v missed "$work/latency" >"$work/ours" || true
missed=$(grep -c missed "$work/latency" || true)
summary "  tindrel" "$work/ours"
sort -g "$work/ours" | awk '{ v[NR] = $1 } END { if (NR) printf "  min %.1f ms, max %.1f ms\n", v[1], v[NR] }'
[ "$missed" -gt 0 ] && echo "  copies never read: $missed"
awk -v r="$idle_rate" -v s="$idle" 'BEGIN { printf "  tindrel idle CPU over %d s: %.4f %%\n", s, 100 * r }'
awk -v c=$((c1 - c0)) -v t=$((t1 - t0)) -v r="$idle_rate" -v n="$copies" 'BEGIN {
    printf "  tindrel CPU per capture: %.2f ms (idle share taken out)\n", (c - r * t) / n / 1e6 }'
# Recorded, not only asked for: the store file once its save is done.
sleep 3
recorded=$(cat "$XDG_DATA_HOME"/Tindrel/* 2>/dev/null | grep -o 'probe copy [0-9]*' | sort -u | wc -l)
echo "  copies recorded in the store: $recorded of $copies"
