#!/usr/bin/env bash
# End to end through the relay: a copy made with xclip on Anna's desktop
# becomes the clipboard of Bert's, recorded once there with its sync:
# source, and the other way round; Anna's pin is merged into Bert's store;
# pausing Bert on Anna's command line stops the flow and resuming restores it;
# a text added there travels as a copy does;
# Cleo, paired only with Anna, reaches Bert once the device lists have
# gone round.
# Usage: relay_sync.sh REPO BIN_DIR
set -euo pipefail
repo=$1 bin=$2
work=$(mktemp -d /tmp/tindrel-e2e.XXXXXX)
source "$repo/tests/e2e/sync_pair.sh"
trap 'pair_down; rm -rf "$work"' EXIT

relay_up || fail "the relay did not start"
identity Anna
identity Bert
identity Cleo
# Anna starts with a pin in her store.
mkdir -p -m 700 "$work/Anna/data/Tindrel"
cat >"$work/Anna/data/Tindrel/store.json" <<JSON
{
    "history": [],
    "pinned": [
        {
            "createdAt": 786000000,
            "id": "0B6B2F4A-9C1D-4E8A-8F53-3D2C1B0A9F81",
            "pinnedAt": 786000000.5,
            "text": "Pinned on Anna"
        }
    ],
    "unpinned": {}
}
JSON
chmod 600 "$work/Anna/data/Tindrel/store.json"
device_up Anna Bert Cleo || fail "Anna's desktop did not start"
device_up Bert Anna || fail "Bert's desktop did not start"
until_ok 20 relay_linked Anna Bert || fail "Anna's relay link did not come up"
until_ok 20 relay_linked Bert Anna || fail "Bert's relay link did not come up"

copy_and_expect() { # FROM TO TEXT
    local from to
    eval "from=\$dev_${1}_display to=\$dev_${2}_display"
    printf '%s' "$3" | DISPLAY=$from xclip -selection clipboard
    until_ok 10 clipboard_is "$to" "$3" ||
        fail "$1's copy did not reach $2's clipboard"
}

text="Sent from Anna $(date +%s%N)"
copy_and_expect Anna Bert "$text"
# Recorded once on Bert, as a clip from Anna (the store saves within a second).
store="$work/Bert/data/Tindrel/store.json"
until_ok 10 grep -q "sync:Anna" "$store" || fail "Bert did not record the clip as from Anna"
sleep 0.5
count=$(grep -c -F "\"text\": \"$text\"" "$store" || true)
[ "$count" = 1 ] || fail "Bert recorded the clip $count times"

reply="Bert answers $(date +%s%N)"
copy_and_expect Bert Anna "$reply"
# Anna's own clip did not come back to her as a new copy.
until_ok 10 grep -q "sync:Bert" "$work/Anna/data/Tindrel/store.json" ||
    fail "Anna did not record Bert's clip"
grep -q "\"sourceApp\": \"sync:Bert\"" "$work/Anna/data/Tindrel/store.json"
! grep -q "sync:Anna" "$work/Anna/data/Tindrel/store.json" || fail "Anna's clip came back to her"

# The pin Anna's link brought is in Bert's store, pinned.
until_ok 10 grep -q '"text": "Pinned on Anna"' "$store" || fail "Anna's pin did not reach Bert"
python3 - "$store" <<'PY' || fail "Anna's pin is not pinned in Bert's store"
import json, sys
store = json.load(open(sys.argv[1]))
sys.exit(0 if any(p["text"] == "Pinned on Anna" for p in store["pinned"]) else 1)
PY

# Paused on Anna, Bert loses her relay link and her copies; resumed, both
# come back, without what was copied meanwhile.
until_ok 15 on_bus Anna || fail "Anna's command line does not reach her"
tindrel_on Anna pause-device Bert || fail "Anna could not pause Bert"
listed_as Anna Bert paused || fail "Anna does not list Bert as paused"
while_paused="Copied while Bert is paused $(date +%s%N)"
copy_on Anna "$while_paused"
tindrel_on Anna resume-device Bert || fail "Anna could not resume Bert"
until_ok 20 listed_as Anna Bert "connected through the relay" ||
    fail "Anna's relay link to Bert did not come back"
copy_and_expect Anna Bert "After resuming $(date +%s%N)"
! in_store Bert history "$while_paused" || fail "a clip copied while Bert was paused reached him"

# A text added on Anna's command line goes to Bert as her copies do.
added="Added on Anna's command line $(date +%s%N)"
tindrel_on Anna add "$added" >/dev/null || fail "Anna could not add a text"
until_ok 10 clipboard_is "$dev_Bert_display" "$added" ||
    fail "a text added on Anna's command line did not reach Bert"

# Cleo is paired with Anna only; Anna's device list tells Bert and Cleo of
# each other, and Cleo's copies then reach Bert.
device_up Cleo Anna || fail "Cleo's desktop did not start"
until_ok 20 grep -q "$id_Cleo" "$work/Bert/config/Tindrel/Tindrel.conf" ||
    fail "Bert did not learn of Cleo"
until_ok 20 relay_linked Bert Cleo && until_ok 20 relay_linked Cleo Bert ||
    fail "the relay links between Bert and Cleo did not come up"
copy_and_expect Cleo Bert "Cleo says hi $(date +%s%N)"
echo "relay sync: clips both ways, pins, pause and resume, device lists OK"
