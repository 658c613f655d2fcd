#!/usr/bin/env bash
# Renders the hicolor PNGs of the icon from its SVG sources in src/app/resources/icons/: 16 px from
# small.svg (drawn on whole pixels for that size), the other sizes from org.quillory.Quillory.svg.
# 32 px is not rendered: that size installs the window icon itself, resources/quillory.png.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh librsvg2-bin
icons=src/app/resources/icons
rsvg-convert -w 16 -h 16 "$icons/small.svg" -o "$icons/16x16.png"
for size in 22 24 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" "$icons/org.quillory.Quillory.svg" -o "$icons/${size}x${size}.png"
done
echo "wrote $icons/*.png"
