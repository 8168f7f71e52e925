#!/bin/bash
# Starts or stops the headless KDE Plasma compositor the kde tests share:
# kwin_wayland on its virtual backend with XWayland, on a session bus of its
# own where KDE's services (kglobalaccel inside KWin, the desktop portals) are
# activated as on a real Plasma session; writes the environment its clients
# need to a file the tests read. Its home and runtime folders live in the
# state folder, so nothing of the user's own session is touched.
#   kwin_fixture.sh up|down <env-file> <state-dir>
set -u
action=$1 file=$(realpath -m "$2") state=$(realpath -m "$3")

stop() {
    for f in kwin bus; do
        [ -f "$state/$f.pid" ] && kill "$(cat "$state/$f.pid")" 2>/dev/null
        rm -f "$state/$f.pid"
    done
    rm -f "$file"
}

skip() {
    stop
    echo "SKIP $1" >"$file"
    exit 0
}

case $action in
up)
    stop # a compositor left behind by an interrupted run
    for tool in kwin_wayland Xwayland dbus-daemon wl-copy xclip; do
        command -v $tool >/dev/null || skip "$tool is not installed"
    done
    rm -rf "$state"
    mkdir -p -m 700 "$state/run" "$state/home"
    export HOME=$state/home XDG_RUNTIME_DIR=$state/run XDG_CONFIG_HOME=$state/home/.config \
        XDG_DATA_HOME=$state/home/.local/share XDG_CACHE_HOME=$state/home/.cache \
        XDG_STATE_HOME=$state/home/.local/state XDG_CURRENT_DESKTOP=KDE \
        KDE_SESSION_VERSION=5 KDE_FULL_SESSION=true
    unset DISPLAY WAYLAND_DISPLAY
    # KWin locks an idle screen after five minutes, and a locked screen takes
    # the keyboard from every window: nobody here moves the mouse.
    mkdir -p "$XDG_CONFIG_HOME"
    printf '[Daemon]\nAutolock=false\nLockOnResume=false\n' >"$XDG_CONFIG_HOME/kscreenlockerrc"
    # The bus first: KWin, the portals and the programs under test share it.
    read -r address pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 |
        paste -sd' ')
    [ -n "${pid:-}" ] || skip "dbus-daemon did not start"
    echo "$pid" >"$state/bus.pid"
    export DBUS_SESSION_BUS_ADDRESS=$address
    # Debian's binary carries cap_sys_resource (for real-time scheduling);
    # where the bounding set lacks it the kernel refuses to run it at all,
    # so a copy without the capability runs instead.
    kwin=$(command -v kwin_wayland)
    if ! capsh --has-b=cap_sys_resource 2>/dev/null && [ -n "$(getcap "$kwin" 2>/dev/null)" ]; then
        cp "$kwin" "$state/kwin_wayland"
        kwin=$state/kwin_wayland
    fi
    # No GPU here: QPainter compositing.
    KWIN_COMPOSE=Q "$kwin" --virtual --width 1280 --height 800 --xwayland \
        --socket wayland-kwin >"$state/kwin.log" 2>&1 &
    echo $! >"$state/kwin.pid"
    for _ in $(seq 600); do # 30 s: the machine may be loaded
        [ -S "$state/run/wayland-kwin" ] && break
        sleep 0.05
    done
    [ -S "$state/run/wayland-kwin" ] || skip "kwin did not start: $(tail -1 "$state/kwin.log")"
    # KWin names XWayland's display nowhere; it is on Xwayland's command line.
    display=""
    for _ in $(seq 600); do
        xwayland=$(pgrep -P "$(cat "$state/kwin.pid")" Xwayland)
        [ -n "$xwayland" ] &&
            display=$(tr '\0' '\n' <"/proc/$xwayland/cmdline" | grep -E '^:[0-9]+$' | head -1)
        [ -n "$display" ] && break
        sleep 0.05
    done
    [ -n "$display" ] || skip "XWayland did not start under kwin"
    for _ in $(seq 200); do
        DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
        sleep 0.05
    done
    # Services the bus activates later (the portals) need the displays, and
    # to know the session is a Wayland one: without that Qt puts the KDE
    # portal on XWayland, where it finds none of KWin's remote control.
    dbus-update-activation-environment WAYLAND_DISPLAY="$state/run/wayland-kwin" \
        DISPLAY="$display" XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE \
        KDE_SESSION_VERSION=5 KDE_FULL_SESSION=true XDG_RUNTIME_DIR="$state/run" HOME="$HOME" \
        XDG_CONFIG_HOME="$XDG_CONFIG_HOME"
    printf '%s\n' "WAYLAND_DISPLAY=$state/run/wayland-kwin" "XDG_RUNTIME_DIR=$state/run" \
        "DISPLAY=$display" "DBUS_SESSION_BUS_ADDRESS=$address" "HOME=$HOME" \
        "XDG_CONFIG_HOME=$XDG_CONFIG_HOME" >"$file"
    echo "headless kwin on $state/run/wayland-kwin, XWayland on $display"
    ;;
down)
    stop
    ;;
*)
    echo "usage: $0 up|down <env-file> <state-dir>" >&2
    exit 2
    ;;
esac
