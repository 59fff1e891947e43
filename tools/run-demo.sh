#!/usr/bin/env bash
# The main job: builds the Windows product and runs it under Wine.
# Until the demo installer exists, this builds the Windows binaries and runs
# the Windows test programs under Wine.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/tools/setup.sh"
"$root/tools/build-mingw-deps.sh"
cmake --preset mingw >"$root/build/configure-mingw.log" 2>&1 || { cat "$root/build/configure-mingw.log"; exit 1; }
cmake --build --preset mingw -j "$(nproc)"
ctest --preset mingw
