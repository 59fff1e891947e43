#!/usr/bin/env bash
# Rebuilds the wizard tests' packages setup.ipk, product.ipk and uninstall.ipk (the
# uninstaller's data package) from the folders beside this script, with the native
# ipk tool.
#
# usage: tests/data/ui/make-packages.sh [IPK]   (default: build/native/tools/ipk/ipk)
set -euo pipefail
exec "$(dirname "$0")/../make-packages.sh" "$(dirname "$0")" "${1:-}" setup product uninstall
