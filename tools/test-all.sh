#!/usr/bin/env bash
# Every test of the project, from a fresh Debian 12 machine:
#   1. installs the build and test tools (apt-get) and builds the Windows
#      dependencies from Debian's source packages;
#   2. native build (gcc): unit and integration tests;
#   3. sanitizer build (clang, ASan + UBSan): the same tests, then each fuzz
#      target for a bounded time; ThreadSanitizer for the threaded suites;
#   4. Windows build (MinGW-w64): the same tests as Windows programs under Wine.
# Set MIVO_FUZZ_SECONDS to change the fuzzing time per target (default 20).
# Run as root with MIVO_TEST_USER naming an ordinary user (CI does), the
# Windows tests run as that user: Wine running as root ignores read-only
# files, so the tests of read-only cases could not run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
passed=0 failed=0

"$root/tools/setup.sh"
"$root/tools/build-mingw-deps.sh"
# Wine servers and virtual displays of the test prefixes end with the run
# (those of the test user, below, too).
stop_wine() {
  "$root/tools/wine-run.sh" --stop-all
  if [ "$(id -u)" = 0 ] && [ -n "${MIVO_TEST_USER:-}" ] && id -u "$MIVO_TEST_USER" >/dev/null 2>&1; then
    runuser -u "$MIVO_TEST_USER" -- "$root/tools/wine-run.sh" --stop-all 2>/dev/null || true
  fi
}
trap stop_wine EXIT

# The user the tests of a preset run as: MIVO_TEST_USER for the Windows
# tests when this runs as root and that user can reach the tree; else this
# one.
test_user() {  # test_user PRESET
  [ "$1" = mingw ] && [ "$(id -u)" = 0 ] && [ -n "${MIVO_TEST_USER:-}" ] || return 0
  if ! id -u "$MIVO_TEST_USER" >/dev/null 2>&1; then
    echo "test-all: no user $MIVO_TEST_USER; the Windows tests run as root" >&2
    return 0
  fi
  # The build tree (prefixes, logs, CTest's files) becomes the user's; the
  # sources and tools must be readable, every folder above them passable.
  chown -R "$MIVO_TEST_USER" "$root/build/$1"
  mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix
  if ! runuser -u "$MIVO_TEST_USER" -- test -r "$root/CMakePresets.json" -a -x "$root/tools/wine-run.sh" \
       -a -w "$root/build/$1"; then
    echo "test-all: $MIVO_TEST_USER cannot reach $root; the Windows tests run as root" >&2
    return 0
  fi
  echo "$MIVO_TEST_USER"
}

run_ctest() {  # run_ctest PRESET [CTEST ARGS...]
  local log=$root/build/ctest-$1.log user
  user=$(test_user "$1")
  local as=()
  [ -n "$user" ] && as=(runuser -u "$user" -- env -u XDG_RUNTIME_DIR
    HOME="$(getent passwd "$user" | cut -d: -f6)")
  set +e
  "${as[@]}" ctest --preset "$@" -j "$jobs" 2>&1 | tee "$log"
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
    # worker thread, the platform's messages and waits, the product package
    # decoded alongside, and the wizard's flow with a running worker.
    cmake --build --preset tsan -j "$jobs" --target core_tests package_tests platform_tests resources_tests ui_tests
    echo "=== tsan: tests"
    run_ctest tsan -R '^(core_tests|package_tests|platform_tests|resources_tests|ui_tests)$'
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
