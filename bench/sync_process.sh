#!/usr/bin/env bash
# Copy on one device -> the text on the other device's clipboard, through a
# tindrel-relay process, or (lan) over a direct TCP link between devices that
# found each other through avahi-daemons of a sandboxed LAN (needs root):
# two tindrel processes on headless desktops of their own, paired through
# their settings, polling at the settings' default of 0.4 s as a user's
# would. Each window is timed by the X servers' own stamps on their events:
# from the CLIPBOARD owner change that xclip makes on A to the one tindrel
# makes on B (both servers count the same monotonic clock). Prints every
# copy, then the median and the worst of them.
# Usage: bench/sync_process.sh [build-dir] [copies] [relay|lan]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD bin=${1:-build}/bin copies=${2:-20} path=${3:-relay}
[ -x "$bin/tindrel" ] && [ -x "$bin/tindrel-relay" ] || { echo "build first" >&2; exit 1; }
bin=$(cd "$bin" && pwd)
work=$(mktemp -d /tmp/tindrel-bench.XXXXXX)
poll_interval=0.4
source tests/e2e/sync_pair.sh
if [ "$path" = lan ]; then
    source tests/e2e/lan_pair.sh
    if why=$(lan_unavailable); then
        echo "$why" >&2
        rm -rf "$work"
        exit 1
    fi
fi
watchers=()
finish() {
    for pid in "${watchers[@]}"; do kill "$pid" 2>/dev/null; done
    pair_down
    [ "$path" = lan ] && lan_down
    rm -rf "$work"
}
trap finish EXIT

if [ "$path" = lan ]; then
    lan_up Anna Bert
    linked=lan_linked
else
    relay_up
    linked=relay_linked
fi
identity Anna
identity Bert
device_up Anna Bert
device_up Bert Anna
until_ok 20 $linked Anna Bert && until_ok 20 $linked Bert Anna ||
    { echo "the $path links did not come up" >&2; exit 1; }

watch() { # NAME
    local display
    eval "display=\$dev_${1}_display"
    DISPLAY=$display python3 bench/selection_watch.py >"$work/$1.owners" &
    watchers+=($!)
    until_ok 5 grep -q ready "$work/$1.owners"
}
watch Anna
watch Bert
lines() { wc -l <"$1"; }
more_than() { [ "$(lines "$1")" -gt "$2" ]; }

results=()
for i in $(seq "$copies"); do
    a=$(lines "$work/Anna.owners") b=$(lines "$work/Bert.owners")
    printf 'copy %s %s' "$i" "$(date +%s%N)" | DISPLAY=$dev_Anna_display xclip -selection clipboard
    until_ok 10 more_than "$work/Bert.owners" "$b" || { echo "copy $i did not arrive" >&2; exit 1; }
    until_ok 2 more_than "$work/Anna.owners" "$a"
    copied=$(sed -n "$((a + 1))p" "$work/Anna.owners")
    arrived=$(sed -n "$((b + 1))p" "$work/Bert.owners")
    # Server times are 32 bits of milliseconds.
    ms=$(((arrived - copied + (1 << 32)) % (1 << 32)))
    results+=("$ms")
    echo "copy $i: $ms ms"
    # A new phase against the poll timer each time.
    sleep "0.$((RANDOM % 5 + 3))"
done
printf '%s\n' "${results[@]}" | sort -n | awk -v path="$path" '
    { v[NR] = $1 }
    END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%s, %d copies: median %.1f ms, worst %.1f ms\n", path, NR, m, v[NR] }'
