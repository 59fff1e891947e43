#!/usr/bin/env bash
# Rebuilds the wizard tests' packages setup.ipk, product.ipk and uninstall.ipk (the
# uninstaller's data package) from the folders beside this script, with the native
# ipk tool.
#
# usage: tests/data/core/make-packages.sh [IPK]   (default: build/native/tools/ipk/ipk)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
ipk=${1:-$root/build/native/tools/ipk/ipk}
[ -x "$ipk" ] || { echo "no ipk at $ipk (cmake --build build/native --target ipk)" >&2; exit 1; }
for name in setup product uninstall; do
  rm -f "$here/$name.ipk"
  "$ipk" create "$here/$name.ipk" "$here/$name"
  "$ipk" list "$here/$name.ipk"
done
