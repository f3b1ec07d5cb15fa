#!/usr/bin/env bash
# Rebuilds resources/korval.ico from resources/korval.svg (run by hand after
# editing the drawing; the .ico is checked in so the build needs neither tool).
# Needs: librsvg2-bin (rsvg-convert) and icoutils (icotool).
set -euo pipefail
cd "$(dirname "$0")/../resources"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 16 32 48 64 256; do
  rsvg-convert -w "$size" -h "$size" korval.svg -o "$tmp/$size.png"
done
# 32 bits per pixel everywhere; the 256 image is stored as PNG, as Windows expects.
icotool -c -o korval.ico -b 32 "$tmp/16.png" "$tmp/32.png" "$tmp/48.png" "$tmp/64.png" \
  --raw="$tmp/256.png"
