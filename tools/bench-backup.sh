#!/usr/bin/env bash
# Backup archive benchmark: builds backup_bench in BUILD_DIR (default
# build/native, a native preset build with MIVO_BENCH=ON) and prints the time
# and size of the preparation step's backup archive against "zip -r -6" of
# the same tree (about 40 MB in 1,000 files of text, machine code and
# already-compressed data, generated from a fixed seed), as ratios.
# Goal: a time ratio of at most 1.00 at a similar size.
#
# usage: tools/bench-backup.sh [BUILD_DIR] [backup_bench options...]
#   e.g. tools/bench-backup.sh build/native --runs 7 --megabytes 60
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
[ $# -gt 0 ] && shift
command -v zip >/dev/null || { echo "zip is needed for the comparison" >&2; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset native -B "$build" >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" -j2 --target backup_bench >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; exit 1; }
"$build/bench/backup_bench" --workdir "$work/tree" "$@"
