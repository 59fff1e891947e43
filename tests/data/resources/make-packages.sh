#!/usr/bin/env bash
# Rebuilds the test packages setup.ipk and product.ipk from the folders
# setup/ and product/ beside this script, with the native ipk tool.
#
# usage: tests/data/resources/make-packages.sh [IPK]   (default: build/native/tools/ipk/ipk)
set -euo pipefail
exec "$(dirname "$0")/../make-packages.sh" "$(dirname "$0")" "${1:-}" setup product
