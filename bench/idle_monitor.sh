#!/usr/bin/env bash
# What an idle clipboard manager costs while nothing is copied: the tindrel
# program (of one build, or of two) and CopyQ, each with a fresh profile on a
# headless desktop and D-Bus buses of its own, left alone for a window
# after start-up. All of a round's programs are measured over the same
# window, so they share whatever else the machine is doing; the start order
# rotates from round to round. Per program and window:
#   wake-ups/s  context switches of its threads and of its live children
#   CPU %       their run time, with what children it reaped had used
# (bench/lib/proc_tree.py reads both from /proc; nothing traces the
# programs). Prints each round, then per program the median, and per round
# the ratios tindrel ÷ CopyQ (and A ÷ B with two builds): median, min, max.
#
# Usage: bench/idle_monitor.sh [--rounds N] [--seconds S] [--settle S]
#                              [build-dir] [other-build-dir]
#   A is build-dir/bin/tindrel (default build), B other-build-dir/bin/tindrel.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
rounds=5 seconds=60 settle=10
builds=()
while (($#)); do
    case $1 in
        --rounds) rounds=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --settle) settle=$2; shift 2 ;;
        -*) echo "unknown option $1" >&2; exit 2 ;;
        *) builds+=("$1"); shift ;;
    esac
done
names=() commands=()
for i in "${!builds[@]}"; do
    label=$([ "$i" = 0 ] && echo A || echo B)
    bin=$(cd "${builds[$i]}" && pwd)/bin/tindrel
    [ -x "$bin" ] || { echo "build first: $bin is missing" >&2; exit 1; }
    names+=("tindrel-$label") commands+=("$bin")
done
if ((${#names[@]} == 0)); then
    [ -x build/bin/tindrel ] || { echo "build first: build/bin/tindrel is missing" >&2; exit 1; }
    names+=(tindrel-A) commands+=("$repo/build/bin/tindrel")
fi
if ! command -v copyq >/dev/null; then
    # The peer we compare with; installed for this script only.
    apt-get install -y --no-install-recommends copyq >/dev/null
fi
names+=(copyq) commands+=(copyq)
count=${#names[@]}

work=$(mktemp -d /tmp/tindrel-idle.XXXXXX)
pids=() displays=()
stop_round() {
    local k
    for ((k = ${#pids[@]} - 1; k >= 0; k--)); do
        kill "${pids[k]}" 2>/dev/null && wait "${pids[k]}" 2>/dev/null
    done
    local entry
    for entry in "${displays[@]}"; do
        TINDREL_XDESKTOP_STATE=${entry%|*} "$repo/scripts/x-desktop.sh" down "${entry#*|}" \
            >/dev/null 2>&1
    done
    pids=() displays=()
}
finish() {
    set +e
    stop_round
    rm -rf "$work"
}
trap finish EXIT

# start NAME COMMAND: its desktop, bus and folders under $work/NAME; sets $pid.
start() {
    local home="$work/$1" line display
    rm -rf "$home"
    mkdir -p -m 700 "$home/config" "$home/data" "$home/state" "$home/run"
    # A busy machine sometimes keeps the window manager from coming up in time.
    line=$(TINDREL_XDESKTOP_STATE="$home/desktop" env -u DISPLAY scripts/x-desktop.sh up) ||
        line=$(TINDREL_XDESKTOP_STATE="$home/desktop" env -u DISPLAY scripts/x-desktop.sh up) ||
        return 1
    display=${line#DISPLAY=}
    displays+=("$home/desktop|$display")
    # A session bus, and a system bus as every desktop has one (without it
    # Avahi's client would keep trying to reach it); no avahi-daemon on it.
    local bus
    for bus in bus system_bus; do
        dbus-daemon --config-file="$repo/tests/support/private-bus.conf" --nofork --nopidfile \
            --address="unix:path=$home/run/$bus" >"$home/$bus.log" 2>&1 </dev/null &
        pids+=($!)
        for _ in $(seq 100); do [ -S "$home/run/$bus" ] && break; sleep 0.05; done
    done
    DISPLAY=$display XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
        XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/run" \
        DBUS_SESSION_BUS_ADDRESS="unix:path=$home/run/bus" \
        DBUS_SYSTEM_BUS_ADDRESS="unix:path=$home/run/system_bus" COPYQ_SETTINGS_PATH="$home/copyq" \
        "$2" >"$home/log" 2>&1 </dev/null &
    pid=$!
    pids+=("$pid")
}

results="$work/results"
: >"$results"
for round in $(seq "$rounds"); do
    declare -A pid_of=()
    for k in $(seq 0 $((count - 1))); do
        i=$(((k + round - 1) % count))
        start "${names[$i]}" "${commands[$i]}"
        pid_of[$i]=$pid
    done
    sleep "$settle" # start-up is not idling
    for i in "${!pid_of[@]}"; do
        kill -0 "${pid_of[$i]}" 2>/dev/null ||
            { echo "${names[$i]} did not keep running:" >&2; cat "$work/${names[$i]}/log" >&2; exit 1; }
    done
    for i in "${!pid_of[@]}"; do
        python3 bench/lib/proc_tree.py snapshot "${pid_of[$i]}" >"$work/$i.0"
    done
    t0=$(date +%s%N)
    sleep "$seconds"
    t1=$(date +%s%N)
    for i in "${!pid_of[@]}"; do
        python3 bench/lib/proc_tree.py snapshot "${pid_of[$i]}" >"$work/$i.1"
    done
    line="round $round:"
    for i in $(seq 0 $((count - 1))); do
        read -r cpu_ns wakeups < <(python3 bench/lib/proc_tree.py between "$work/$i.0" "$work/$i.1")
        read -r rate share < <(awk -v w="$wakeups" -v c="$cpu_ns" -v t=$((t1 - t0)) \
            'BEGIN { printf "%.4f %.5f\n", w / (t / 1e9), 100 * c / t }')
        echo "$round ${names[$i]} $rate $share" >>"$results"
        line+=" ${names[$i]} $rate wake-ups/s $share % CPU;"
    done
    echo "${line%;}"
    stop_round
    unset pid_of
done

echo "idle over ${seconds} s after ${settle} s of start-up, $rounds rounds, on $(nproc) cores:"
awk -v names="${names[*]}" '
function median(a, n,   i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
function ratios(x, y, col, what,   r, n, k, lo, hi, v) {
    n = 0
    for (r = 1; r <= rounds; r++) {
        if (!((r, x) in val) || !((r, y) in val)) continue
        split(val[r, x], p); split(val[r, y], q)
        if (q[col] <= 0) continue
        v = p[col] / q[col]; n++; s[n] = v
        if (n == 1 || v < lo) lo = v
        if (n == 1 || v > hi) hi = v
    }
    if (n) printf "  %s ÷ %s, %s: median %.3f, min %.3f, max %.3f (n=%d)\n", x, y, what, median(s, n), lo, hi, n
    else printf "  %s ÷ %s, %s: no ratio (the divisor was 0)\n", x, y, what
}
{ val[$1, $2] = $3 " " $4; if ($1 > rounds) rounds = $1 }
END {
    m = split(names, name, " ")
    for (i = 1; i <= m; i++) {
        n = 0
        for (r = 1; r <= rounds; r++) { split(val[r, name[i]], p); n++; w[n] = p[1]; c[n] = p[2] }
        printf "  %-10s median %.3f wake-ups/s, %.4f %% CPU\n", name[i], median(w, n), median(c, n)
    }
    for (i = 1; i < m; i++) { ratios(name[i], "copyq", 1, "wake-ups"); ratios(name[i], "copyq", 2, "CPU") }
    if (m == 3) { ratios(name[1], name[2], 1, "wake-ups"); ratios(name[1], name[2], 2, "CPU") }
}' "$results"
