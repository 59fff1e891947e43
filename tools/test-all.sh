#!/usr/bin/env bash
# Every test of the project, from a fresh Debian 12 machine:
#   1. installs the build and test tools (apt-get) and builds the Windows
#      dependencies from Debian's source packages;
#   2. native build (gcc): unit and integration tests;
#   3. sanitizer build (clang, ASan + UBSan): the same tests, then each fuzz
#      target for a bounded time; ThreadSanitizer for the threaded suites;
#   4. Windows build (MinGW-w64): the same tests as Windows programs under Wine.
# Set MIVO_FUZZ_SECONDS to change the fuzzing time per target (default 20).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
passed=0 failed=0

"$root/tools/setup.sh"
"$root/tools/build-mingw-deps.sh"
# Wine servers and virtual displays of the test prefixes end with the run.
trap '"$root/tools/wine-run.sh" --stop-all' EXIT

run_ctest() {  # run_ctest PRESET [CTEST ARGS...]
  local log=$root/build/ctest-$1.log
  set +e
  ctest --preset "$@" -j "$jobs" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  local line total=0 fails=0
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    fails=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
  fi
  # A failing run that reported no failed test (a crash of ctest itself, no
  # tests found) still counts as one failure.
  [ "$rc" -eq 0 ] || [ "$fails" -gt 0 ] || fails=1
  [ "$total" -ge "$fails" ] && passed=$((passed + total - fails))
  failed=$((failed + fails))
}

for preset in native asan tsan mingw; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >"$root/build/configure-$preset.log" 2>&1 ||
    { cat "$root/build/configure-$preset.log"; exit 1; }
  if [ "$preset" = tsan ]; then
    # ThreadSanitizer for the suites that run threads: the controller, the
    # worker thread, the platform's messages and waits, and the wizard's flow
    # with a running worker.
    cmake --build --preset tsan -j "$jobs" --target core_tests platform_tests ui_tests
    echo "=== tsan: tests"
    run_ctest tsan -R '^(core_tests|platform_tests|ui_tests)$'
    continue
  fi
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: tests"
  run_ctest "$preset"
  if [ "$preset" = asan ]; then
    echo "=== asan: fuzzing"
    if "$root/tools/run-fuzzers.sh" "$root/build/asan" "${MIVO_FUZZ_SECONDS:-20}"; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
    fi
  fi
done

echo "=== all tests"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
