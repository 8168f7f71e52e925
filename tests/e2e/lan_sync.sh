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
started=$SECONDS
work=$(mktemp -d /tmp/tindrel-e2e-lan.XXXXXX)
source "$repo/tests/e2e/sync_pair.sh"
source "$repo/tests/e2e/lan_pair.sh"
if why=$(lan_unavailable); then
    rm -rf "$work"
    skip "$why"
fi
fail() {
    echo "FAIL: $*" >&2
    for f in "$work"/*/state/Tindrel/sync.log "$work"/*/tindrel.log "$TDL_SANDBOX_DIR"/*/avahi.log; do
        [ -f "$f" ] && { echo "--- $f" >&2; tail -n 30 "$f" >&2; }
    done
    exit 1
}
trap 'pair_down; lan_down; rm -rf "$work"' EXIT

lan_up Anna Bert || skip "the sandbox LAN did not come up here"

identity Anna
identity Bert
device_up Anna Bert || fail "Anna's desktop did not start"
device_up Bert Anna || fail "Bert's desktop did not start"

log_has() { # NAME TEXT
    grep -q -F "$2" "$work/$1/state/Tindrel/sync.log"
}
# Either side may dial first; both must end up with the link.
until_ok 30 lan_linked Anna Bert || fail "Anna did not connect to Bert"
until_ok 30 lan_linked Bert Anna || fail "Bert did not connect to Anna"
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
