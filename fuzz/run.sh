#!/usr/bin/env bash
# Runs every fuzzer built in <dir> for a bounded time over its seed corpus
# (fuzz/corpus/<name>/, which also keeps every input that once found a fault,
# so each run replays them first). New inputs go to a scratch corpus; an input
# that crashes is kept as <dir>/artifacts/<name>-crash-… and fails the run.
#   run.sh <dir> [seconds per fuzzer, default 10]
set -euo pipefail
dir=$1 seconds=${2:-10}
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$dir/artifacts"
status=0
for bin in "$dir"/fuzz_*; do
    [ -f "$bin" ] && [ -x "$bin" ] || continue
    name=${bin##*/fuzz_}
    mkdir -p "$scratch/$name"
    if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -artifact_prefix="$dir/artifacts/$name-" "$scratch/$name" "$here/corpus/$name" \
        >"$scratch/$name.log" 2>&1; then
        echo "fuzz $name: $(grep -o 'Done [0-9]* runs' "$scratch/$name.log" | tail -1) in ${seconds}s, clean"
    else
        echo "fuzz $name: FAILED"
        tail -60 "$scratch/$name.log"
        status=1
    fi
done
exit $status
