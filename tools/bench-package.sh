#!/usr/bin/env bash
# Package reader benchmark: builds the benchmark and ipk in BUILD_DIR (default
# build/native, a native preset build with MIVO_BENCH=ON), then prints
#  - decode-and-verify throughput of the reader against xz decoding the same
#    raw LZMA1 stream, as a ratio (goal: at least 0.95),
#  - CRC-32 throughput,
#  - peak memory of "ipk verify" relative to the payload
#    (goal: at most 1.1 x payload + 16 MiB).
# The payload (about 45 MB in 1,500 files of text, machine code and
# already-compressed data) is generated from a fixed seed.
#
# usage: tools/bench-package.sh [BUILD_DIR] [package_bench options...]
#   e.g. tools/bench-package.sh build/native --runs 7 --seed 1
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
[ $# -gt 0 ] && shift
command -v xz >/dev/null || { echo "xz is needed for the comparison" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed for the memory figure" >&2; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset native -B "$build" >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" -j2 --target package_bench ipk >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; exit 1; }
"$build/bench/package_bench" --ipk "$build/tools/ipk/ipk" --workdir "$work" "$@"
