#!/usr/bin/env bash
# Draws the demo product's icon (a note on a two-tone square) and writes it
# as demo/assets/Mivo.ico in the sizes Windows uses, 16 to 256 pixels (the
# 256-pixel image PNG-compressed, as Windows expects). Needs ImageMagick.
# The icon is committed; run this only to change it.
set -euo pipefail
out=${1:-$(dirname "$0")/../demo/assets/Mivo.ico}
tmp=$(mktemp --suffix=.png)
trap 'rm -f "$tmp"' EXIT
convert -size 256x256 xc:none \
  -fill '#3b2f8f' -draw 'roundrectangle 8,8 247,247 48,48' \
  -fill '#6a5cff' -draw 'roundrectangle 8,8 247,200 48,48' \
  -fill '#3b2f8f' -draw 'rectangle 8,150 247,200' \
  -fill white -draw 'ellipse 98,178 34,26 0,360' \
  -fill white -draw 'rectangle 120,62 138,180' \
  -fill white -draw 'polygon 130,58 196,84 196,118 138,96' \
  -depth 8 "$tmp"
convert "$tmp" -depth 8 -define icon:auto-resize=256,64,48,40,32,24,20,16 "$out"
