#!/usr/bin/env bash
# Rebuilds the test packages NAME.ipk in FOLDER from the folders NAME/ beside
# them, with the native ipk tool; the make-packages.sh of each test data
# folder calls it with its own names.
#
# usage: tests/data/make-packages.sh FOLDER IPK NAME...
#   (IPK empty: build/native/tools/ipk/ipk)
set -euo pipefail
here=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
ipk=${2:-$root/build/native/tools/ipk/ipk}
shift 2
[ -x "$ipk" ] || { echo "no ipk at $ipk (cmake --build build/native --target ipk)" >&2; exit 1; }
for name in "$@"; do
  rm -f "$here/$name.ipk"
  "$ipk" create "$here/$name.ipk" "$here/$name"
  "$ipk" list "$here/$name.ipk"
done
