#!/usr/bin/env bash
# Renders the program's icon (resources/webcam-zantrel.svg) into the PNG sizes the package installs
# (data/icons/SIZE.png). Run after changing the drawing; needs librsvg2-bin.
set -euo pipefail
cd "$(dirname "$0")/.."
for size in 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" resources/webcam-zantrel.svg -o "data/icons/$size.png"
done
