#!/usr/bin/env bash
# End to end over the local network: two tindrel processes, each inside a
# network namespace of its own with its own system bus and avahi-daemon,
# find each other through DNS-SD, connect over TCP and carry a copy made
# with xclip on one desktop to the other's clipboard. No relay.
# Needs root, network namespaces and avahi-daemon; skips (77) without them.
# Usage: lan_sync.sh REPO BIN_DIR
set -euo pipefail
repo=$1 bin=$2
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root for network namespaces"
for tool in ip dbus-daemon avahi-daemon xclip; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
ip netns list >/dev/null 2>&1 || skip "network namespaces are not available"

started=$SECONDS
work=$(mktemp -d /tmp/tindrel-e2e-lan.XXXXXX)
# A sandbox of this run's own, so that parallel runs never share a LAN.
export TDL_PREFIX=te$(printf '%x' $$)
sandbox="$repo/scripts/lan-sandbox.sh"
relay_enabled=false
source "$repo/tests/e2e/sync_pair.sh"
fail() {
    echo "FAIL: $*" >&2
    for f in "$work"/*/state/Tindrel/sync.log "$work"/*/tindrel.log; do
        [ -f "$f" ] && { echo "--- $f" >&2; tail -n 30 "$f" >&2; }
    done
    exit 1
}
trap 'pair_down; "$sandbox" down >/dev/null 2>&1; rm -rf "$work"' EXIT

# Each device runs in its own namespace; the X server's socket is a file,
# so the desktops stay reachable from there.
lan_dev_Anna=1 lan_dev_Bert=2
launch_device() {
    local k
    eval "k=\$lan_dev_$1"
    shift
    exec "$sandbox" exec "$k" "$@"
}

out=$("$sandbox" up 2 2>&1) || skip "the sandbox LAN did not come up: $(echo "$out" | tail -1)"

identity Anna
identity Bert
device_up Anna Bert || fail "Anna's desktop did not start"
device_up Bert Anna || fail "Bert's desktop did not start"

log_has() { # NAME TEXT
    grep -q -F "$2" "$work/$1/state/Tindrel/sync.log"
}
# Either side may dial first; both must end up with the link.
until_ok 30 log_has Anna "lan connected for Bert" || fail "Anna did not connect to Bert"
until_ok 30 log_has Bert "lan connected for Anna" || fail "Bert did not connect to Anna"
log_has Anna "dialling Bert at 169.254.77.2:" || log_has Bert "dialling Anna at 169.254.77.1:" ||
    log_has Anna "dialling Bert at fe80:" || log_has Bert "dialling Anna at fe80:" ||
    fail "neither device dialled the address its peer published"

copy_and_expect() { # FROM TO TEXT
    local from to
    eval "from=\$dev_${1}_display to=\$dev_${2}_display"
    # In the foreground (-quiet) so that its PID is ours to stop.
    printf '%s' "$3" | DISPLAY=$from xclip -quiet -selection clipboard >/dev/null 2>&1 &
    pids+=($!)
    until_ok 10 clipboard_is "$to" "$3" ||
        fail "$1's copy did not reach $2's clipboard"
}
copy_and_expect Anna Bert "Over the LAN from Anna $(date +%s%N)"
log_has Bert "Received a clip from Anna" || fail "Bert's clip did not come over the LAN link"
copy_and_expect Bert Anna "Bert answers over the LAN $(date +%s%N)"
log_has Anna "Received a clip from Bert" || fail "Anna's clip did not come over the LAN link"
echo "lan sync: discovery, TCP link and clips both ways OK ($((SECONDS - started)) s)"
