#!/usr/bin/env bash
# No copy is lost to an outage. Anna makes a stream of copies while Bert is
# killed (kill -9) and started again, and then while the relay between them
# is killed and started again; afterwards both histories hold every copy,
# in the order made, once, and Bert's clipboard holds the newest.
# Usage: outage_sync.sh REPO BIN_DIR [COPIES]
set -euo pipefail
repo=$1 bin=$2 copies=${3:-500}
work=$(mktemp -d /tmp/tindrel-e2e.XXXXXX)
source "$repo/tests/e2e/sync_pair.sh"
trap 'pair_down; rm -rf "$work"' EXIT
# Room for the whole stream in both histories.
extra_settings=historyLimit=1000

relay_up || fail "the relay did not start"
relay_pid=${pids[-1]}
identity Anna
identity Bert
device_up Anna Bert || fail "Anna's desktop did not start"
device_up Bert Anna || fail "Bert's desktop did not start"
until_ok 20 relay_linked Anna Bert || fail "Anna's relay link did not come up"
until_ok 20 relay_linked Bert Anna || fail "Bert's relay link did not come up"
until_ok 15 on_bus Anna || fail "Anna's command line does not reach her"

# copy N: Anna's N-th copy of a stream, through her command line (a local
# copy as far as sync is concerned, without racing the X selection).
stream=$(date +%s%N)
copy() { tindrel_on Anna add "Copy $1 of stream $stream" >/dev/null || fail "copy $1 failed"; }

# history_check NAME FIRST LAST: NAME's history holds copies FIRST..LAST of
# the stream, newest first, each once, and no other copy of the stream.
history_check() {
    python3 - "$(store_of "$1")" "$stream" "$2" "$3" <<'PY'
import json, sys
path, stream, first, last = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
try:
    history = json.load(open(path))["history"]
except (OSError, ValueError):
    sys.exit(1)
suffix = " of stream " + stream
got = [c["text"] for c in history if c["text"].endswith(suffix)]
want = ["Copy %d%s" % (n, suffix) for n in range(last, first - 1, -1)]
if got != want:
    missing = sorted(set(want) - set(got), key=lambda t: int(t.split()[1]))
    print("%s: %d of %d, %d missing (%s...), %d duplicated, in order: %s" % (
        path, len(got), len(want), len(missing), ", ".join(missing[:5]),
        len(got) - len(set(got)), got == sorted(got, key=lambda t: -int(t.split()[1]))),
        file=sys.stderr)
    sys.exit(1)
PY
}

# 1. Bert is killed a third of the way in and comes back at two thirds.
third=$((copies / 3))
for ((n = 1; n <= copies; n++)); do
    copy "$n"
    if ((n == third)); then
        kill -9 "$dev_Bert_pid"
        wait "$dev_Bert_pid" 2>/dev/null || true
    elif ((n == 2 * third)); then
        relaunch Bert
    fi
done
last="Copy $copies of stream $stream"
until_ok 60 clipboard_is "$dev_Bert_display" "$last" ||
    fail "Bert's clipboard does not hold the newest copy after his restart"
until_ok 30 history_check Bert 1 "$copies" || { history_check Bert 1 "$copies"; fail "Bert's history lost copies to his restart"; }
# Anna's store saves once her stream pauses.
until_ok 30 history_check Anna 1 "$copies" || fail "Anna's history is not the stream she copied"
echo "outage 1: Bert killed at copy $third and back at $((2 * third)): $copies of $copies, in order"

# 2. The relay is killed a third of the way into a second stream and comes
# back, on its port, at two thirds.
stream=$(date +%s%N)
for ((n = 1; n <= copies; n++)); do
    copy "$n"
    if ((n == third)); then
        kill -9 "$relay_pid"
        wait "$relay_pid" 2>/dev/null || true
    elif ((n == 2 * third)); then
        "$bin/tindrel-relay" --listen 127.0.0.1 --port "$relay_port" 2>>"$work/relay.log" &
        relay_pid=$!
        pids+=($relay_pid)
    fi
done
last="Copy $copies of stream $stream"
until_ok 60 clipboard_is "$dev_Bert_display" "$last" ||
    fail "Bert's clipboard does not hold the newest copy after the relay came back"
until_ok 30 history_check Bert 1 "$copies" || { history_check Bert 1 "$copies"; fail "Bert's history lost copies to the relay's outage"; }
echo "outage 2: relay killed at copy $third and back at $((2 * third)): $copies of $copies, in order"
