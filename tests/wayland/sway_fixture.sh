#!/bin/bash
# Starts or stops the headless sway the wayland tests share, and writes the
# environment its clients need to a file the tests read. sway will not run
# as root, so it and the real clients (wl-copy, wl-paste) run as nobody; the
# runtime folder is opened to the test process, whoever runs it.
#   sway_fixture.sh up|down <env-file> <state-dir>
set -u
action=$1 file=$2 state=$3
as_nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"

stop() {
    [ -f "$state/pid" ] && kill "$(cat "$state/pid")" 2>/dev/null
    rm -f "$file" "$state/pid"
}

case $action in
up)
    stop # a compositor left behind by an interrupted run
    if ! command -v sway >/dev/null || ! command -v wl-copy >/dev/null; then
        echo "SKIP sway or wl-clipboard is not installed" >"$file"
        exit 0
    fi
    if [ "$(id -u)" -eq 0 ]; then run=$as_nobody; else run=""; fi
    rm -rf "$state"; mkdir -p "$state/run"; chmod 755 "$state"; chmod 777 "$state/run"
    [ -n "$run" ] && chown -R nobody:nogroup "$state"
    printf 'output HEADLESS-1 resolution 1280x800\nxwayland disable\n' >"$state/sway.conf"
    chmod 644 "$state/sway.conf"
    $run env -i PATH=/usr/bin:/bin HOME="$state/run" XDG_RUNTIME_DIR="$state/run" \
        WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        sway -c "$state/sway.conf" >"$state/sway.log" 2>&1 &
    echo $! >"$state/pid"
    sock=""
    for _ in $(seq 600); do # 30 s: the machine may be loaded
        sock=$(ls "$state/run" 2>/dev/null | grep -E '^wayland-[0-9]+$' | head -1)
        [ -n "$sock" ] && break
        sleep 0.05
    done
    if [ -z "$sock" ]; then
        reason=$(tail -1 "$state/sway.log")
        stop
        echo "SKIP sway did not start: $reason" >"$file"
        exit 0
    fi
    chmod 777 "$state/run/$sock"
    ipc=""
    for _ in $(seq 200); do # its IPC socket comes a moment after
        ipc=$(ls "$state/run" 2>/dev/null | grep -E '^sway-ipc\..*\.sock$' | head -1)
        [ -n "$ipc" ] && break
        sleep 0.05
    done
    [ -n "$ipc" ] && chmod 777 "$state/run/$ipc" && ipc="$state/run/$ipc"
    printf 'WAYLAND_DISPLAY=%s\nXDG_RUNTIME_DIR=%s\nSWAYSOCK=%s\nRUN_AS=%s\n' \
        "$sock" "$state/run" "$ipc" "$run" >"$file"
    echo "headless sway on $sock"
    ;;
down)
    stop
    ;;
*)
    echo "usage: $0 up|down <env-file> <state-dir>" >&2
    exit 2
    ;;
esac
