#!/usr/bin/env bash
# A tindrel process on a headless desktop of its own sees COPIES texts of
# 31 MiB (default 18) copied to the clipboard by xclip, as a user copying
# large files would: prints how many it kept, its resident memory against the text it
# holds, the store file's size, and how long a normal quit (SIGTERM, which
# saves at once) takes.
# Usage: bench/large_copies.sh [build-dir] [copies]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD build=${1:-build} copies=${2:-18}
bin=$(cd "$build/bin" && pwd)
[ -x "$bin/tindrel" ] || { echo "build first" >&2; exit 1; }
source bench/lib/session.sh
session_up "$(mktemp -d /tmp/tindrel-bench.XXXXXX)"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --fork --print-pid >"$work/bus.pid"
session_pids+=("$(cat "$work/bus.pid")")
start_tindrel "$bin/tindrel"
rss0=$(awk '/VmRSS/ { print $2 / 1024 }' "/proc/$tindrel_pid/status")

body=$work/body
head -c $((31 * 1024 * 1024 - 16)) /dev/zero | tr '\0' x >"$body"
for i in $(seq 1 "$copies"); do
    { printf 'copy %08d ' "$i"; cat "$body"; } | xclip -selection clipboard -i
    sleep 3 # read in increments by the X server's rules
done
sleep 8 # past the save after the last copy and the search preparation
kept=$("$bin/tindrel" list | grep -c '^' || true)
rss=$(awk '/VmRSS/ { print $2 / 1024 }' "/proc/$tindrel_pid/status")
file=$(stat -c %s "$XDG_DATA_HOME/Tindrel/store.json")
start=$(date +%s%N)
kill -TERM "$tindrel_pid"
wait "$tindrel_pid" || true
quit_ms=$((($(date +%s%N) - start) / 1000000))
awk -v kept="$kept" -v rss="$rss" -v rss0="$rss0" -v file="$file" -v quit="$quit_ms" 'BEGIN {
    text = file / 1048576
    printf "clips listed: %d; store file %.0f MiB; resident %.0f MiB, %.0f MiB after start ", \
        kept, text, rss, rss0
    printf "(growth %.2fx the text); quit %d ms\n", (rss - rss0) / text, quit
}'
