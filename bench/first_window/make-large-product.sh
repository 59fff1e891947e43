#!/usr/bin/env bash
# Stages a large product for the first-window benchmark: the demo's product
# files and programs, and 40 MB of data in "Data\": 20 MB that does not
# compress (like audio and images) and 20 MB that compresses to about three
# quarters (like program libraries).
#
# usage: make-large-product.sh STAGE_DIR DEMO_PRODUCT_DIR PROGRAMS...
set -euo pipefail
stage=$1 product=$2
shift 2
rm -rf "$stage"
mkdir -p "$stage/Data"
cp -r "$product"/. "$stage"/
cp "$@" "$stage"/
for i in 1 2 3 4; do
  head -c $((5 * 1024 * 1024)) /dev/urandom >"$stage/Data/media$i.bin"
  head -c $((15 * 1024 * 1024 / 4)) /dev/urandom | base64 -w 0 | head -c $((5 * 1024 * 1024)) \
    >"$stage/Data/library$i.bin"
done
