#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (apt-get).
# Quick when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  clang libclang-rt-14-dev clang-format
  liblzma-dev libzip-dev zlib1g-dev libexpat1-dev libssl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth xdotool imagemagick icoutils liblnk-utils
  dpkg-dev xz-utils time python3 zip
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
