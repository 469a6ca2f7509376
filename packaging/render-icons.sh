#!/usr/bin/env bash
# Renders the committed PNG icons from packaging/tarvolin.svg (needs rsvg-convert,
# package librsvg2-bin). Run after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
for s in 16 22 24 32 48 64 128 256; do
  mkdir -p "icons/${s}x${s}"
  rsvg-convert -w "$s" -h "$s" tarvolin.svg -o "icons/${s}x${s}/tarvolin.png"
done
