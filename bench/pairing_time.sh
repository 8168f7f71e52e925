#!/usr/bin/env bash
# From "Pair" on one computer to the first clip on the other's clipboard:
# two unpaired tindrel processes on a sandboxed LAN (network namespaces with
# their own avahi-daemons; needs root), each on a headless desktop of its
# own. A run opens a window on Anna (`tindrel --pair`), joins it on Bert by
# the code or by the link, and copies on Anna every 50 ms until a copy shows
# on Bert's clipboard, as the X server reports it (XFixes). The two ways
# take turns; between runs the devices unpair each other. Prints every run,
# then the median, min and max of each way.
# Usage: bench/pairing_time.sh [build-dir] [runs of each]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD bin=${1:-build}/bin runs=${2:-5}
[ -x "$bin/tindrel" ] || { echo "build first" >&2; exit 1; }
bin=$(cd "$bin" && pwd)
work=$(mktemp -d /tmp/tindrel-bench.XXXXXX)
source tests/e2e/sync_pair.sh
source tests/e2e/lan_pair.sh
if why=$(lan_unavailable); then
    echo "$why" >&2
    rm -rf "$work"
    exit 1
fi
# Pairing links name only the addresses a LAN gives out, not link-local ones.
export TDL_NET4=10.97.78
watchers=()
finish() {
    for pid in "${watchers[@]}"; do kill "$pid" 2>/dev/null; done
    pair_down
    lan_down
    rm -rf "$work"
}
trap finish EXIT

lan_up Anna Bert
identity Anna
identity Bert
device_up Anna
device_up Bert
until_ok 15 on_bus Anna && until_ok 15 on_bus Bert || { echo "no command line" >&2; exit 1; }
DISPLAY=$dev_Bert_display python3 bench/selection_watch.py >"$work/Bert.owners" &
watchers+=($!)
until_ok 5 grep -q ready "$work/Bert.owners"
lines() { wc -l <"$1"; }
more_than() { [ "$(lines "$1")" -gt "$2" ]; }
unpaired() { [ -z "$(tindrel_on Anna devices)$(tindrel_on Bert devices)" ]; }

# run code|link: the time of one run in $ms
run() {
    local before t0 out i
    before=$(lines "$work/Bert.owners")
    # In the X server's time, which stamps the arrival too.
    t0=$(DISPLAY=$dev_Bert_display python3 bench/selection_watch.py --now)
    out=$(tindrel_on Anna --pair --no-wait)
    if [ "$1" = code ]; then
        tindrel_on Bert --join "$(sed -n 's/^Pairing code: //p' <<<"$out")" >/dev/null 2>&1 &
    else
        tindrel_on Bert --join "$(sed -n 's/^Pairing link: //p' <<<"$out")" >/dev/null 2>&1 &
    fi
    local joiner=$!
    for i in $(seq 200); do
        # New texts each run: a text sent lately is not sent again. xclip
        # stays behind to serve the copy: not on our output.
        printf 'run %s copy %s at %s' "$1" "$i" "$t0" |
            DISPLAY=$dev_Anna_display xclip -selection clipboard >/dev/null 2>&1
        more_than "$work/Bert.owners" "$before" && break
        sleep 0.05
    done
    more_than "$work/Bert.owners" "$before" || { echo "no clip arrived ($1)" >&2; exit 1; }
    wait "$joiner" || true
    local arrived
    arrived=$(sed -n "$((before + 1))p" "$work/Bert.owners")
    ms=$(((arrived - t0 + (1 << 32)) % (1 << 32)))
    tindrel_on Anna unpair Bert && tindrel_on Bert unpair Anna
    until_ok 10 unpaired
}

code=() link=()
for r in $(seq "$runs"); do
    run code
    code+=("$ms")
    echo "run $r by code: $ms ms"
    run link
    link+=("$ms")
    echo "run $r by link: $ms ms"
done
summary() { # NAME VALUES...
    local name=$1
    shift
    printf '%s\n' "$@" | sort -n | awk -v name="$name" '
        { v[NR] = $1 }
        END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
              printf "by %s, %d runs: median %.0f ms, min %.0f ms, max %.0f ms\n",
                  name, NR, m, v[1], v[NR] }'
}
summary code "${code[@]}"
summary link "${link[@]}"
