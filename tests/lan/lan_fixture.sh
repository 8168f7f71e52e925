#!/bin/bash
# Brings the sandboxed LAN of the lan tests up or down. Where it cannot exist
# (not root, no network namespaces, no avahi-daemon) "up" still succeeds but
# writes the reason into the state file, and every test skips with it.
#   lan_fixture.sh up|down <prefix> <state-file> <devices>
set -u
here=$(cd "$(dirname "$0")" && pwd)
sandbox="$here/../../scripts/lan-sandbox.sh"
action=$1 prefix=$2 state=$3 devices=${4:-3}
export TDL_PREFIX=$prefix

unavailable() {
    echo "unavailable: $*" >"$state"
    echo "LAN sandbox unavailable: $*; the lan tests will skip"
    exit 0
}

case $action in
up)
    rm -f "$state"
    [ "$(id -u)" = 0 ] || unavailable "needs root for network namespaces"
    for tool in ip dbus-daemon avahi-daemon avahi-browse; do
        command -v "$tool" >/dev/null || unavailable "$tool is not installed"
    done
    "$sandbox" down >/dev/null 2>&1 # what an interrupted run left behind
    if ! out=$("$sandbox" up "$devices" 2>&1); then
        unavailable "$(echo "$out" | tail -1)"
    fi
    echo "$out"
    echo up >"$state"
    ;;
down)
    "$sandbox" down
    rm -f "$state"
    ;;
*)
    echo "usage: $0 up|down <prefix> <state-file> <devices>" >&2
    exit 2
    ;;
esac
