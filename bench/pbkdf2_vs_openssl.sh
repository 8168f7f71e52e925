#!/usr/bin/env bash
# Compares our pairing-key derivation (PBKDF2-HMAC-SHA-256, 200,000 rounds)
# with `openssl kdf` on the same machine. openssl's process start-up is
# measured with a one-round run and subtracted. Best of N runs on both sides,
# since the machine may be shared.
# Usage: bench/pbkdf2_vs_openssl.sh [build-dir] [runs]
set -euo pipefail

build=${1:-build}
runs=${2:-7}
bench="$build/bench/sync_bench"
[ -x "$bench" ] || { echo "missing $bench: build the benchmarks first" >&2; exit 1; }

kdf() {
  openssl kdf -keylen 32 -kdfopt digest:SHA256 -kdfopt pass:7K0M1NP4Q \
    -kdfopt salt:tindrel-pair-v1 -kdfopt "iter:$1" PBKDF2 >/dev/null
}

best_us() { # best wall time of $runs runs of `kdf $1`, in microseconds
  local best=""
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s%N); kdf "$1"; t1=$(date +%s%N)
    local us=$(( (t1 - t0) / 1000 ))
    if [ -z "$best" ] || [ "$us" -lt "$best" ]; then best=$us; fi
  done
  echo "$best"
}

full_us=$(best_us 200000)
startup_us=$(best_us 1)
openssl_ms=$(awk -v f="$full_us" -v s="$startup_us" 'BEGIN { printf "%.1f", (f - s) / 1000 }')

# CSV rows of the repetitions: name,iterations,real_time,cpu_time,time_unit,...
ours_ms=$("$bench" --benchmark_filter='^BM_PairingKey/' --benchmark_repetitions="$runs" \
  --benchmark_format=csv 2>/dev/null |
  awk -F, '$1 == "\"BM_PairingKey/real_time\"" { t = $3 + 0; if (!n++ || t < best) best = t }
           END { printf "%.1f", best }')

ratio=$(awk -v o="$ours_ms" -v r="$openssl_ms" 'BEGIN { printf "%.2f", o / r }')
echo "openssl kdf PBKDF2 200000 rounds: ${openssl_ms} ms (start-up ${startup_us} us subtracted)"
echo "SyncCrypto::pairingKey:           ${ours_ms} ms"
echo "ratio ours/openssl:               ${ratio} (goal <= 1.2)"
