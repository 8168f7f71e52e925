#!/usr/bin/env bash
# Hot key -> panel mapped (MapNotify from the X server), right after a copy
# whose owner answers and right after one whose owner never answers, in
# alternating rounds on a headless desktop of its own. Reports the median
# of each and the median, min and max of the per-pair ratios hung/answering.
#   bench/panel_hung_owner.sh [build-dir] [tindrel binary] [pairs]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
bin=${2:-$build/bin/tindrel}
pairs=${3:-10}
probe=$build/bench/probes/x11_probe
[ -x "$bin" ] && [ -x "$probe" ] || { echo "build $bin and $probe first" >&2; exit 1; }
. "$repo/bench/lib/session.sh"
session_up "$(mktemp -d /tmp/tindrel-panel.XXXXXX)"
start_tindrel "$bin"

"$probe" panel $((2 * pairs)) "$work/rounds"
echo "hot key -> panel mapped, $pairs pairs on $(nproc) cores:"
awk '$1 == "answering" { print $2 }' "$work/rounds" >"$work/answering"
awk '$1 == "hung" { print $2 }' "$work/rounds" >"$work/hung"
summary "  owner answers     " "$work/answering"
summary "  owner never does  " "$work/hung"
paste "$work/answering" "$work/hung" | awk '{ print $2 / $1 }' | sort -n | awk '
    { v[NR] = $1 } END { printf "  ratio hung/answering per pair: median %.2f, min %.2f, max %.2f\n",
                         v[int((NR + 1) / 2)], v[1], v[NR] }'
