#!/usr/bin/env bash
# Pairing by a typed code when only the relay joins the two computers: no
# shared network, no mDNS (neither device has a system bus). Anna runs
# `tindrel --pair`, Bert `tindrel --join CODE`; a wrong code is refused over
# the relay, the right one pairs both, and Anna's copy then reaches Bert's
# clipboard.
# Skips (77) where a headless desktop or xclip is missing.
# Usage: relay_pairing.sh REPO BIN_DIR
set -euo pipefail
repo=$1 bin=$2
skip() {
    echo "SKIP: $*"
    exit 77
}
for tool in Xvfb openbox xclip dbus-daemon python3; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[ -x "$bin/tindrel-relay" ] || skip "tindrel-relay is not built"
started=$SECONDS
work=$(mktemp -d /tmp/tindrel-e2e-relay-pairing.XXXXXX)
source "$repo/tests/e2e/sync_pair.sh"
trap 'pair_down; rm -rf "$work"' EXIT

relay_up || fail "the relay did not start"
for name in Anna Bert; do
    identity $name
    device_up $name || fail "$name's desktop did not start"
done
for name in Anna Bert; do
    until_ok 15 on_bus $name || fail "$name's command line does not reach it"
done

rm -f "$work/pair.out"
DBUS_SESSION_BUS_ADDRESS="unix:path=$work/Anna/run/bus" "$bin/tindrel" --pair >"$work/pair.out" 2>&1 &
pair_pid=$!
pids+=($pair_pid)
until_ok 10 grep -q "^Pairing code: " "$work/pair.out" || fail "--pair printed no code"
code=$(sed -n 's/^Pairing code: //p' "$work/pair.out")
until_ok 10 grep -q "relay connected for pairing" "$work/Anna/state/Tindrel/sync.log" ||
    fail "Anna's window did not open on the relay"

# A wrong code: asked over the relay too, and nobody there answers it.
wrong=$([ "${code:0:1}" = 2 ] && echo 3 || echo 2)${code:1}
tindrel_on Bert --join "$wrong" >"$work/Bert.out" 2>&1 && fail "Bert paired with a wrong code"
grep -q "No computer accepted the code" "$work/Bert.out" || fail "--join did not say it failed"
until_ok 5 grep -q "No device answered the code over the relay" "$work/Bert/state/Tindrel/sync.log" ||
    fail "Bert's log does not say the relay was asked"

tindrel_on Bert --join "$code" >"$work/Bert.out" 2>&1 || fail "Bert could not pair with Anna's code"
grep -q "^Paired with Anna$" "$work/Bert.out" || fail "Bert's --join did not name Anna"
wait "$pair_pid" || fail "Anna's --pair did not end with the pairing"
grep -q "^Paired with Bert$" "$work/pair.out" || fail "Anna's --pair did not name Bert"

until_ok 20 relay_linked Anna Bert && until_ok 20 relay_linked Bert Anna ||
    fail "the relay links between Anna and Bert did not come up"
text="Paired over the relay $(date +%s%N)"
printf '%s' "$text" | DISPLAY=$dev_Anna_display xclip -quiet -selection clipboard >/dev/null 2>&1 &
pids+=($!)
until_ok 10 clipboard_is "$dev_Bert_display" "$text" || fail "Anna's copy did not reach Bert's clipboard"
echo "relay pairing: wrong code refused, code pairs over the relay, clip follows" \
    "($((SECONDS - started)) s)"
