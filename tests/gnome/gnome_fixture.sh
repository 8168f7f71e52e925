#!/bin/bash
# Starts or stops the headless GNOME Shell the gnome tests share: gnome-shell
# on mutter's headless backend with a virtual monitor and XWayland, on a
# session bus of its own where the desktop portals are activated as on a real
# GNOME session, with our Shell extension installed from the source tree and
# enabled, and a keyboard the tests press keys on (gnome_keyboard.py). Writes
# the environment its clients need to a file the tests read, or why there is
# no session. Its home and runtime folders live in the state folder.
#   gnome_fixture.sh up|down <env-file> <state-dir>
set -u
action=$1 file=$(realpath -m "$2") state=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
extension=$here/../../packaging/gnome-shell/tindrel@tindrel.io
# Desktop entries of the test clients, so the Shell resolves their app ids.
apps="io.tindrel.TestField io.tindrel.TestOther"

stop() {
    for f in keyboard shell bus sysbus; do
        [ -f "$state/$f.pid" ] && kill "$(cat "$state/$f.pid")" 2>/dev/null
        # The shell takes XWayland down with it: waited for, so that the
        # next session does not meet a display that is still going.
        if [ "$f" = shell ] && [ -f "$state/$f.pid" ]; then
            for _ in $(seq 100); do
                kill -0 "$(cat "$state/$f.pid")" 2>/dev/null || break
                sleep 0.1
            done
        fi
        rm -f "$state/$f.pid"
    done
    rm -f "$file"
}

skip() {
    stop
    echo "SKIP $1" >"$file"
    exit 0
}

shell_property() {
    gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell -t 5 \
        -m org.freedesktop.DBus.Properties.Get org.gnome.Shell "$1" 2>/dev/null
}

case $action in
up)
    stop # a shell left behind by an interrupted run
    for tool in gnome-shell Xwayland dbus-daemon gdbus gsettings xdpyinfo; do
        command -v $tool >/dev/null || skip "$tool is not installed"
    done
    /usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null ||
        skip "python3-gi is not installed"
    rm -rf "$state"
    mkdir -p -m 700 "$state/run" "$state/home"
    export HOME=$state/home XDG_RUNTIME_DIR=$state/run XDG_CONFIG_HOME=$state/home/.config \
        XDG_DATA_HOME=$state/home/.local/share XDG_CACHE_HOME=$state/home/.cache \
        XDG_STATE_HOME=$state/home/.local/state XDG_CURRENT_DESKTOP=GNOME \
        XDG_SESSION_TYPE=wayland XDG_SESSION_DESKTOP=gnome
    unset DISPLAY WAYLAND_DISPLAY XAUTHORITY
    # The shell asks logind over the system bus when it sees a seat, and
    # gives up at start when there is no system bus at all: an empty one
    # stands in. The session bus is the one the shell, the portals and the
    # programs under test share.
    read -r sysaddress syspid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 |
        paste -sd' ')
    [ -n "${syspid:-}" ] || skip "dbus-daemon did not start"
    echo "$syspid" >"$state/sysbus.pid"
    read -r address pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 |
        paste -sd' ')
    [ -n "${pid:-}" ] || skip "dbus-daemon did not start"
    echo "$pid" >"$state/bus.pid"
    export DBUS_SESSION_BUS_ADDRESS=$address DBUS_SYSTEM_BUS_ADDRESS=$sysaddress

    mkdir -p "$XDG_DATA_HOME/applications" "$XDG_DATA_HOME/gnome-shell/extensions"
    for app in $apps; do
        printf '[Desktop Entry]\nType=Application\nName=%s\nExec=true\nNoDisplay=true\n' \
            "$app" >"$XDG_DATA_HOME/applications/$app.desktop"
    done
    enabled="[]"
    if [ -d "$extension" ]; then
        cp -r "$extension" "$XDG_DATA_HOME/gnome-shell/extensions/"
        enabled="['tindrel@tindrel.io']"
    fi
    # Written before the shell starts (dconf-service, activated on the
    # private bus, keeps them in the private home). Nobody moves the mouse
    # here: the screen must never blank or lock, which takes the keyboard
    # from every window.
    {
        gsettings set org.gnome.shell enabled-extensions "$enabled" &&
            gsettings set org.gnome.shell welcome-dialog-last-shown-version '999' &&
            gsettings set org.gnome.desktop.session idle-delay 0 &&
            gsettings set org.gnome.desktop.screensaver lock-enabled false
    } 2>"$state/gsettings.log" || skip "gsettings failed: $(tail -1 "$state/gsettings.log")"

    gnome-shell --headless --wayland --virtual-monitor 1280x800 --wayland-display=wayland-gs \
        >"$state/shell.log" 2>&1 &
    echo $! >"$state/shell.pid"
    for _ in $(seq 600); do # 60 s: the machine may be loaded
        kill -0 "$(cat "$state/shell.pid")" 2>/dev/null || break
        shell_property ShellVersion >/dev/null && break
        sleep 0.1
    done
    shell_property ShellVersion >/dev/null ||
        skip "gnome-shell did not start: $(grep -v '^$' "$state/shell.log" | tail -1)"

    # The shell opens the overview on its own a moment after it answers, and
    # no window gets the focus there: closed until it stays closed.
    closed=0
    for _ in $(seq 200); do
        if shell_property OverviewActive | grep -q false; then
            closed=$((closed + 1))
            [ "$closed" -ge 5 ] && break
        else
            closed=0
            gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell -t 5 \
                -m org.freedesktop.DBus.Properties.Set org.gnome.Shell OverviewActive \
                '<false>' >/dev/null 2>&1
        fi
        sleep 0.3
    done
    [ "$closed" -ge 5 ] || skip "the overview does not close"

    # mutter names XWayland's display and cookie only on its command line.
    display="" xauthority=""
    for _ in $(seq 600); do
        xwayland=$(pgrep -P "$(cat "$state/shell.pid")" Xwayland)
        if [ -n "$xwayland" ]; then
            display=$(tr '\0' '\n' <"/proc/$xwayland/cmdline" | grep -E '^:[0-9]+$' | head -1)
            xauthority=$(tr '\0' '\n' <"/proc/$xwayland/cmdline" | grep -A1 -x -- -auth | tail -1)
        fi
        [ -n "$display" ] && break
        sleep 0.05
    done
    [ -n "$display" ] || skip "XWayland did not start under gnome-shell"
    for _ in $(seq 200); do
        DISPLAY=$display XAUTHORITY=$xauthority xdpyinfo >/dev/null 2>&1 && break
        sleep 0.05
    done

    /usr/bin/python3 "$here/gnome_keyboard.py" >"$state/keyboard.log" 2>&1 &
    echo $! >"$state/keyboard.pid"
    for _ in $(seq 200); do
        grep -q '^keyboard ready' "$state/keyboard.log" && break
        kill -0 "$(cat "$state/keyboard.pid")" 2>/dev/null || break
        sleep 0.05
    done
    grep -q '^keyboard ready' "$state/keyboard.log" ||
        skip "no keyboard through mutter's remote desktop: $(tail -1 "$state/keyboard.log")"

    # Services the bus starts later (the portals) need the displays, and to
    # know the session is a GNOME one on Wayland: xdg-desktop-portal picks
    # its backends by XDG_CURRENT_DESKTOP.
    dbus-update-activation-environment WAYLAND_DISPLAY="$state/run/wayland-gs" \
        DISPLAY="$display" XAUTHORITY="$xauthority" XDG_SESSION_TYPE=wayland \
        XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_DESKTOP=gnome XDG_RUNTIME_DIR="$state/run" \
        HOME="$HOME" XDG_CONFIG_HOME="$XDG_CONFIG_HOME" XDG_DATA_HOME="$XDG_DATA_HOME"
    printf '%s\n' "WAYLAND_DISPLAY=$state/run/wayland-gs" "XDG_RUNTIME_DIR=$state/run" \
        "DISPLAY=$display" "XAUTHORITY=$xauthority" "DBUS_SESSION_BUS_ADDRESS=$address" \
        "HOME=$HOME" "XDG_CONFIG_HOME=$XDG_CONFIG_HOME" "XDG_DATA_HOME=$XDG_DATA_HOME" \
        "SHELL_LOG=$state/shell.log" >"$file"
    echo "headless gnome-shell $(shell_property ShellVersion) on $state/run/wayland-gs," \
        "XWayland on $display"
    ;;
down)
    stop
    ;;
*)
    echo "usage: $0 up|down <env-file> <state-dir>" >&2
    exit 2
    ;;
esac
