#!/usr/bin/env bash
# Fuzzes every libFuzzer target of a build for a bounded time each.
# usage: tools/run-fuzzers.sh [BUILD_DIR] [SECONDS]   (default: build/asan, 20)
# New crashers are left in build/fuzz-artifacts/; copy them into
# tests/fuzz/regressions/<name>/ so that they are replayed from then on.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/asan}
seconds=${2:-20}
artifacts=$root/build/fuzz-artifacts
mkdir -p "$artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=0 ran=0
for fuzzer in "$build"/tests/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  short=${name#fuzz_}
  corpus=$root/build/fuzz-corpus/$short
  mkdir -p "$corpus"
  seeds=()
  for d in "$root/tests/fuzz/corpus/$short" "$root/tests/fuzz/regressions/$short"; do
    [ -d "$d" ] && seeds+=("$d")
  done
  ran=$((ran + 1))
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
       -artifact_prefix="$artifacts/$short-" "$corpus" "${seeds[@]}" >"$artifacts/$short.log" 2>&1; then
    echo "fuzz $short: clean for ${seconds}s"
  else
    failed=$((failed + 1))
    echo "fuzz $short: FAILED (log: $artifacts/$short.log)"
    tail -n 40 "$artifacts/$short.log"
  fi
done
echo "fuzzers: $((ran - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
