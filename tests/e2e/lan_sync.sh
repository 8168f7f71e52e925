#!/usr/bin/env bash
# End to end over the local network: two tindrel processes, each inside a
# network namespace of its own with its own system bus and avahi-daemon,
# find each other through DNS-SD, connect over TCP and carry a copy made
# with xclip on one desktop to the other's clipboard. No relay. Then a pin
# made in Anna's panel with the keyboard reaches Bert's store, and pausing,
# resuming and unpairing Bert on Anna's command line stop and restart the
# flow.
# Needs root, network namespaces and avahi-daemon; skips (77) without them.
# Usage: lan_sync.sh REPO BIN_DIR
set -euo pipefail
repo=$1 bin=$2
started=$SECONDS
work=$(mktemp -d /tmp/tindrel-e2e-lan.XXXXXX)
source "$repo/tests/e2e/sync_pair.sh"
source "$repo/tests/e2e/lan_pair.sh"
skip_without_lan
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

until_ok 15 on_bus Anna || fail "Anna's command line does not reach her"

# A pin made the way a user makes it: the shortcut opens Anna's panel, the
# newest clip is selected, Ctrl+P pins it.
pinned="Pin me from the panel $(date +%s%N)"
copy_and_expect Anna Bert "$pinned"
until_ok 10 in_store Anna history "$pinned" || fail "Anna did not record her own copy"
panel_active() {
    [ "$(DISPLAY=$dev_Anna_display xdotool getactivewindow getwindowname 2>/dev/null)" = Tindrel ]
}
DISPLAY=$dev_Anna_display xdotool key ctrl+alt+v
until_ok 10 panel_active || fail "the shortcut did not open Anna's panel"
DISPLAY=$dev_Anna_display xdotool key ctrl+p
until_ok 10 in_store Anna pinned "$pinned" || fail "Ctrl+P in the panel did not pin the clip"
DISPLAY=$dev_Anna_display xdotool key Escape
until_ok 10 in_store Bert pinned "$pinned" || fail "Anna's pin did not reach Bert's store"

# Paused on Anna, Bert gets nothing from her; resumed, he does again, and
# what was copied meanwhile is not sent late.
tindrel_on Anna pause-device Bert || fail "Anna could not pause Bert"
tindrel_on Anna devices | grep -q -P "\tBert\tpaused$" || fail "Anna does not list Bert as paused"
until_ok 10 eval '! listed_as Bert Anna connected' || fail "Bert still counts Anna as connected"
while_paused="Copied while Bert is paused $(date +%s%N)"
copy_on Anna "$while_paused"
tindrel_on Anna resume-device Bert || fail "Anna could not resume Bert"
until_ok 20 listed_as Anna Bert connected || fail "Anna did not reconnect to Bert after resuming"
copy_and_expect Anna Bert "After resuming $(date +%s%N)"
! in_store Bert history "$while_paused" || fail "a clip copied while Bert was paused reached him"
log_has Anna "Paused syncing with Bert" && log_has Anna "Resumed syncing with Bert" ||
    fail "Anna's sync log does not show the pause and the resume"

# Unpaired on Anna, Bert is gone for good: out of her settings, remembered
# as unpaired, and her copies no longer reach him.
tindrel_on Anna unpair Bert || fail "Anna could not unpair Bert"
[ "$(tindrel_on Anna devices)" = "No paired devices." ] || fail "Anna still lists Bert after unpairing"
conf="$work/Anna/config/Tindrel/Tindrel.conf"
until_ok 5 grep -q "syncUnpairedIds=.*$id_Bert" "$conf" || fail "Anna did not remember Bert as unpaired"
grep "^syncPeers=" "$conf" | grep -q "$id_Bert" && fail "Bert is still among Anna's stored peers"
until_ok 10 eval '! listed_as Bert Anna connected' || fail "Bert still counts Anna as connected"
after_unpair="After unpairing $(date +%s%N)"
copy_on Anna "$after_unpair"
# Nothing to wait for when nothing comes: give it ten times a usual delivery.
sleep 2
! in_store Bert history "$after_unpair" || fail "Anna's copy reached Bert after she unpaired him"
! tindrel_on Anna pause-device Bert 2>/dev/null || fail "Anna could still pause an unpaired device"
echo "lan sync: discovery, TCP link, clips both ways, panel pin, pause, resume, unpair OK" \
    "($((SECONDS - started)) s)"
