#!/usr/bin/env bash
# Pairing end to end, the way a user at a terminal pairs: `tindrel --pair`
# on Anna, `tindrel --join` on the other computer. Three unpaired tindrel
# processes, each in a network namespace of its own with its own
# avahi-daemon, and a tindrel-relay in a fourth namespace, one sandbox for
# every case in turn:
#   - a window that has expired or was cancelled pairs nothing;
#   - a wrong code pairs nothing, and Anna logs the frame she could not open;
#   - the right code pairs Bert, and Anna's copy reaches his clipboard;
#   - a second joiner with the same code is refused;
#   - Cleo types a new code into her Sync pane and pairs;
#   - Cleo, without avahi-daemon and without the relay, joins by the link
#     over TCP;
#   - Bert, unpaired and cut off from Anna's address, joins again by the
#     link over the relay.
# Needs root, network namespaces and avahi-daemon; skips (77) without them.
# Usage: lan_pairing.sh REPO BIN_DIR
set -euo pipefail
repo=$1 bin=$2
started=$SECONDS
work=$(mktemp -d /tmp/tindrel-e2e-pairing.XXXXXX)
source "$repo/tests/e2e/sync_pair.sh"
source "$repo/tests/e2e/lan_pair.sh"
skip_without_lan
trap 'pair_down; lan_down; rm -rf "$work"' EXIT

# A private range rather than the sandbox's link-local one: a pairing link
# names the addresses a LAN gives out, never 169.254.x.x.
export TDL_NET4=10.97.77
net=$TDL_NET4
lan_up Anna Bert Cleo Relay || skip "the sandbox LAN did not come up here"
address_Anna=$net.1 address_Relay=$net.4

# The relay is a machine of its own on the LAN, as a server on the Internet
# would be to the devices.
relay_host=$address_Relay
"$lan_sandbox" exec 4 "$bin/tindrel-relay" --listen "$relay_host" --port 0 2>"$work/relay.log" &
pids+=($!)
until_ok 10 grep -q "listening on $relay_host:" "$work/relay.log" || fail "the relay did not start"
relay_port=$(sed -n "s/.*listening on $relay_host:\([0-9]*\).*/\1/p" "$work/relay.log" | head -1)
relay_enabled=true

for name in Anna Bert Cleo; do
    identity $name
    device_up $name || fail "$name's desktop did not start"
done
for name in Anna Bert Cleo; do
    until_ok 15 on_bus $name || fail "$name's command line does not reach it"
done

step() { echo "[$((SECONDS - started)) s] $*"; }
log_of() { echo "$work/$1/state/Tindrel/sync.log"; }
# log_count NAME TEXT: how many lines of NAME's log hold TEXT
log_count() { grep -c -F "$2" "$(log_of "$1")" || true; }
# logged_again NAME TEXT COUNT: more than COUNT lines hold TEXT now (the
# log is written in the background)
more_logged() { [ "$(log_count "$1" "$2")" -gt "$3" ]; }
logged_again() { until_ok 5 more_logged "$@"; }
# The names `tindrel devices` lists, on one line; none when it says there
# are none.
devices_of() { tindrel_on "$1" devices | awk -F '\t' 'NF > 1 { print $2 }' | sort | tr '\n' ' '; }
# open_window SECONDS: `tindrel --pair` on Anna in the background; its
# output goes to $work/pair.out, its code to $code, its link to $link
open_window() {
    # Gone before the start: the background job truncates it only later.
    rm -f "$work/pair.out"
    # A simple command, so that $! is tindrel's own PID for the signal below.
    DBUS_SESSION_BUS_ADDRESS="unix:path=$work/Anna/run/bus" "$bin/tindrel" --pair "$@" \
        >"$work/pair.out" 2>&1 &
    pair_pid=$!
    until_ok 10 grep -q "^Pairing link: " "$work/pair.out" || fail "--pair printed no code and link"
    code=$(sed -n 's/^Pairing code: //p' "$work/pair.out")
    link=$(sed -n 's/^Pairing link: //p' "$work/pair.out")
}
# join NAME CODE-OR-LINK: NAME's `tindrel --join`, its output in $work/NAME.out
join() {
    tindrel_on "$1" --join "$2" >"$work/$1.out" 2>&1
}
# pair_by_link NAME HOW: NAME joins a new window of Anna's by its link
pair_by_link() {
    open_window --no-wait
    wait "$pair_pid" || fail "--pair --no-wait failed"
    join "$1" "$link" || fail "$1 could not pair by the link $2"
    grep -q "^Paired with Anna$" "$work/$1.out" || fail "$1's --join did not name Anna"
}
copy_and_expect() { # FROM TO TEXT
    local from to
    eval "from=\$dev_${1}_display to=\$dev_${2}_display"
    printf '%s' "$3" | DISPLAY=$from xclip -quiet -selection clipboard >/dev/null 2>&1 &
    pids+=($!)
    until_ok 10 clipboard_is "$to" "$3" || fail "$1's copy did not reach $2's clipboard"
}

step "expired window"
# An expired window: --pair says it closed, and the code no longer opens.
open_window 2
wait "$pair_pid" && fail "--pair succeeded though nobody joined"
grep -q "The pairing window closed; no computer paired." "$work/pair.out" ||
    fail "--pair did not say that the window closed"
before=$(log_count Anna "could not decrypt")
join Bert "$code" && fail "Bert paired with the code of a closed window"
logged_again Anna "could not decrypt" "$before" || fail "Anna did not log the join she could not open"

step "cancelled window"
# Ctrl+C on --pair closes the window it opened.
open_window
kill -INT "$pair_pid"
wait "$pair_pid" && fail "--pair succeeded though it was cancelled"
grep -q "^Pairing cancelled.$" "$work/pair.out" || fail "--pair did not say it was cancelled"
join Bert "$code" && fail "Bert paired with the code of a cancelled window"

step "wrong code"
# A wrong code: nothing paired, the failed decryption in Anna's log, the
# window still open for the right one.
open_window
first=${code:0:1}
wrong=$([ "$first" = 2 ] && echo 3 || echo 2)${code:1}
before=$(log_count Anna "could not decrypt")
join Bert "$wrong" && fail "Bert paired with a wrong code"
grep -q "No computer accepted the code" "$work/Bert.out" || fail "--join did not say it failed"
logged_again Anna "could not decrypt" "$before" || fail "Anna did not log the failed decryption"
[ -z "$(devices_of Anna)" ] || fail "a wrong code paired $(devices_of Anna)with Anna"

step "right code"
# The right code pairs both ways, and clips flow at once.
join Bert "$code" || fail "Bert could not pair with Anna's code"
grep -q "^Paired with Anna$" "$work/Bert.out" || fail "Bert's --join did not name Anna"
wait "$pair_pid" || fail "Anna's --pair did not end with the pairing"
grep -q "^Paired with Bert$" "$work/pair.out" || fail "Anna's --pair did not name Bert"
[ "$(devices_of Anna)" = "Bert " ] && [ "$(devices_of Bert)" = "Anna " ] ||
    fail "Anna and Bert do not list each other"
copy_and_expect Anna Bert "Right after pairing $(date +%s%N)"

step "used code"
# The window paired one device and closed: Cleo's join with the same code
# is refused.
join Cleo "$code" && fail "a second device paired with a used code"
[ "$(devices_of Anna)" = "Bert " ] || fail "Anna paired a second device with one code"

step "pane"
# The way a user at the desktop joins: Settings › Sync, "Pair with another
# computer instead" (four Tabs from the Sync tab, where the window opens, Space), the
# code, Return.
open_window
tindrel_on Cleo --settings sync || fail "Cleo's settings did not open"
settings_active() {
    [ "$(DISPLAY=$dev_Cleo_display xdotool getactivewindow getwindowname 2>/dev/null)" = "Tindrel Settings — Sync" ]
}
until_ok 10 settings_active || fail "Cleo's Sync settings did not come to the front"
DISPLAY=$dev_Cleo_display xdotool key Tab Tab Tab Tab space
DISPLAY=$dev_Cleo_display xdotool type --delay 20 "$code"
DISPLAY=$dev_Cleo_display xdotool key Return
wait "$pair_pid" || fail "the code typed into Cleo's Sync pane did not pair her"
grep -q "^Paired with Cleo$" "$work/pair.out" || fail "Anna's --pair did not name Cleo"
copy_and_expect Anna Cleo "To Cleo, paired in her pane $(date +%s%N)"
tindrel_on Anna unpair Cleo && tindrel_on Cleo unpair Anna || fail "unpairing Cleo failed"

step "link over TCP"
# By the link over TCP, Cleo again: now she has no avahi-daemon, so nobody finds anybody
# through her, and the relay is out of her reach.
"$lan_sandbox" avahi 3 stop
"$lan_sandbox" exec 3 ip route add prohibit "$address_Relay/32"
pair_by_link Cleo "over TCP"
before=$(log_count Cleo "Received a clip from Anna")
copy_and_expect Anna Cleo "To Cleo over TCP $(date +%s%N)"
logged_again Cleo "Received a clip from Anna" "$before" || fail "Cleo's clip did not come over TCP"

step "link over the relay"
# By the link over the relay: Bert and Anna unpair each other, and Bert can
# no longer reach Anna's address; the relay is all that joins them.
tindrel_on Anna unpair Bert && tindrel_on Bert unpair Anna || fail "unpairing failed"
"$lan_sandbox" exec 2 ip route add prohibit "$address_Anna/32"
pair_by_link Bert "over the relay"
before=$(log_count Bert "Received a clip via relay from Anna")
copy_and_expect Anna Bert "To Bert through the relay $(date +%s%N)"
logged_again Bert "Received a clip via relay from Anna" "$before" ||
    fail "Bert's clip did not come through the relay"
# Pairing again undid the unpairing.
! grep -q "syncUnpairedIds=.*$id_Bert" "$work/Anna/config/Tindrel/Tindrel.conf" ||
    fail "Anna still remembers Bert as unpaired"
echo "pairing: expired and cancelled windows, wrong code, code, used code, pane, link over TCP, link over the" \
    "relay OK ($((SECONDS - started)) s)"
