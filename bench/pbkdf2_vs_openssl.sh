#!/usr/bin/env bash
# Compares our pairing-key derivation (PBKDF2-HMAC-SHA-256, 200,000 rounds)
# with `openssl kdf` on the same machine, in interleaved pairs: each pair runs
# both sides back to back (which goes first alternates), so a machine that
# speeds up or slows down affects both sides of a pair alike. openssl's
# process start-up is measured in the same pair with a one-round run and
# subtracted. Prints each pair and the median of the per-pair ratios with
# their minimum and maximum.
# Usage: bench/pbkdf2_vs_openssl.sh [build-dir] [pairs]
set -euo pipefail

build=${1:-build}
pairs=${2:-9}
bench="$build/bench/sync_bench"
[ -x "$bench" ] || { echo "missing $bench: build the benchmarks first" >&2; exit 1; }

kdf() {
  openssl kdf -keylen 32 -kdfopt digest:SHA256 -kdfopt pass:7K0M1NP4Q \
    -kdfopt salt:tindrel-pair-v1 -kdfopt "iter:$1" PBKDF2 >/dev/null
}

kdf_us() { # wall time of one `kdf $1`, in microseconds
  local t0 t1
  t0=$(date +%s%N)
  kdf "$1"
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000 ))
}

openssl_ms() { # one derivation without the process start-up
  local full startup
  full=$(kdf_us 200000)
  startup=$(kdf_us 1)
  awk -v f="$full" -v s="$startup" 'BEGIN { printf "%.2f", (f - s) / 1000 }'
}

ours_ms() { # mean real time per derivation of one short benchmark run
  "$bench" --benchmark_filter='^BM_PairingKey/' --benchmark_min_time=0.2 \
    --benchmark_format=csv 2>/dev/null |
    awk -F, '$1 == "\"BM_PairingKey/real_time\"" { printf "%.2f", $3 }'
}

kdf 1 # warm the caches of both programs once
"$bench" --benchmark_filter='^BM_PairingKey/' --benchmark_min_time=0.05 >/dev/null 2>&1

ratios=()
echo "pair  ours ms  openssl ms  ratio"
for i in $(seq "$pairs"); do
  if (( i % 2 )); then
    ours=$(ours_ms); theirs=$(openssl_ms)
  else
    theirs=$(openssl_ms); ours=$(ours_ms)
  fi
  ratio=$(awk -v o="$ours" -v t="$theirs" 'BEGIN { printf "%.3f", o / t }')
  ratios+=("$ratio")
  printf '%4d  %7s  %10s  %5s\n' "$i" "$ours" "$theirs" "$ratio"
done

printf '%s\n' "${ratios[@]}" | sort -n | awk '
  { r[NR] = $1 }
  END {
    median = (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
    printf "ratio ours/openssl: median %.2f (min %.2f, max %.2f) over %d pairs; goal <= 1.2\n",
           median, r[1], r[NR], NR
  }'
