# The devices of sync_pair.sh on a sandboxed LAN instead of the relay: each
# tindrel runs inside a network namespace of its own, with its own system
# bus and avahi-daemon (scripts/lan-sandbox.sh), so that the devices meet
# through DNS-SD and a direct TCP link. Source after sync_pair.sh; needs
# root and $repo.
#
#   skip_without_lan exits 77 (a skipped test) saying why, where no sandbox
#                    can exist
#   lan_up NAME...   brings up one namespace per NAME; device_up NAME then
#                    starts that device inside it
#   lan_down         stops the sandbox's daemons and deletes its namespaces

lan_sandbox="$repo/scripts/lan-sandbox.sh"
relay_enabled=false
# A sandbox of this run's own, so that parallel runs never share a LAN.
export TDL_PREFIX=te$(printf '%x' $$)
# Outside $work: the daemons drop root and could not enter it.
export TDL_SANDBOX_DIR=/tmp/tindrel-lan-$TDL_PREFIX

# lan_unavailable: prints why the sandbox cannot exist here, if it cannot
lan_unavailable() {
    [ "$(id -u)" = 0 ] || { echo "needs root for network namespaces"; return 0; }
    local tool
    for tool in ip dbus-daemon avahi-daemon xclip; do
        command -v "$tool" >/dev/null || { echo "$tool is not installed"; return 0; }
    done
    ip netns list >/dev/null 2>&1 || { echo "network namespaces are not available"; return 0; }
    return 1
}

skip() {
    echo "SKIP: $*"
    exit 77
}

skip_without_lan() {
    local why
    if why=$(lan_unavailable); then
        rm -rf "$work"
        skip "$why"
    fi
}

lan_up() {
    local k=0 name out
    for name in "$@"; do
        k=$((k + 1))
        eval "lan_dev_$name=$k"
    done
    out=$("$lan_sandbox" up "$k" 2>&1) ||
        { echo "$out" | grep -m1 'lan-sandbox.sh:' >&2; return 1; }
}

# The X server's socket is a file, so the desktops stay reachable from
# inside the namespaces.
launch_device() {
    local k
    eval "k=\$lan_dev_$1"
    shift
    exec "$lan_sandbox" exec "$k" "$@"
}

# lan_linked NAME PEERNAME: NAME has greeted PEERNAME over a direct link
lan_linked() {
    grep -q -F "lan connected for $2" "$work/$1/state/Tindrel/sync.log"
}

lan_down() {
    "$lan_sandbox" down >/dev/null 2>&1
    rm -rf "$TDL_SANDBOX_DIR"
}
