#!/bin/bash
# Under a Wayland display that cannot serve the clipboard, tindrel must take
# the clipboard through X11 and say why in one log line. Each case points
# WAYLAND_DISPLAY somewhere and DISPLAY at a headless X server of our own.
#   x11_fallback.sh <tindrel> <bare-wayland-helper>
set -u
tindrel=$1 bare=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/tindrel-wlfallback.XXXXXX)
export TINDREL_XDESKTOP_STATE=$work/xdesktop
pids=()
display=""
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    [ -n "$display" ] && "$here/../../scripts/x-desktop.sh" down "$display" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

line=$("$here/../../scripts/x-desktop.sh" up --tray=none --compositor=none) || {
    echo "FAIL: the headless X server did not start"; exit 1; }
display=${line#DISPLAY=}

export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
"$bare" wayland-bare >"$work/bare.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/bare.out" && break; sleep 0.05; done
grep -q ready "$work/bare.out" || { echo "FAIL: the bare Wayland display did not start"; exit 1; }

# Starts tindrel on its own bus and files; the log line it writes on the
# platform it chose, or FAIL after 30 s.
chosen() {
    local name=$1 wayland=$2 log=$work/$1.log
    mkdir -p "$work/$name/config" "$work/$name/data" "$work/$name/cache"
    env -u QT_QPA_PLATFORM DISPLAY="$display" WAYLAND_DISPLAY="$wayland" \
        XDG_CONFIG_HOME="$work/$name/config" XDG_DATA_HOME="$work/$name/data" \
        XDG_CACHE_HOME="$work/$name/cache" \
        dbus-run-session --config-file="$here/../support/private-bus.conf" -- \
        sh -c 'echo $$ >"$1"; exec "$2"' sh "$work/$name.pid" "$tindrel" \
        >"$log" 2>&1 &
    pids+=($!)
    for _ in $(seq 300); do
        grep -q '^Tindrel: clipboard through' "$log" && break
        sleep 0.1
    done
    grep -m1 '^Tindrel: clipboard through' "$log" || { echo "(no line; log follows)"; cat "$log"; }
    # Ended by its own PID; its bus session ends with it.
    [ -s "$work/$name.pid" ] && kill "$(cat "$work/$name.pid")" 2>/dev/null
}

failed=0
expect() {
    local name=$1 wayland=$2 want=$3
    local got
    got=$(chosen "$name" "$wayland")
    if [ "$got" = "$want" ]; then
        echo "ok   $name: $got"
    else
        echo "FAIL $name: wanted \"$want\", got \"$got\""
        failed=$((failed + 1))
    fi
}

expect no-data-control wayland-bare \
    "Tindrel: clipboard through X11 (the Wayland compositor offers no data-control protocol); shortcuts through the desktop portal; desktop: X11"
expect no-compositor wayland-nothing-here \
    "Tindrel: clipboard through X11 (cannot connect to the Wayland display); desktop: X11"

[ $failed -eq 0 ] && echo "2 passed, 0 failed" || echo "$((2 - failed)) passed, $failed failed"
exit $failed
