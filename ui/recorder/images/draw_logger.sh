#!/usr/bin/env bash
# Draws the images of the recorder view (drawn for this program) with ImageMagick. Run it from this
# folder after changing a drawing; the PNG files are kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

R='stroke-linejoin round stroke-linecap round'
INK='#e8eef4'
TRACE='#5fd38d'
OUT=(-depth 8 -define png:exclude-chunks=date,time)

# Status-line icon of the recorder mode: a record growing along its time axis.
convert -size 64x64 xc:none -fill '#1d2630' -stroke "$INK" -strokewidth 3 \
  -draw "roundrectangle 4,8 59,55 6,6" \
  -fill none -stroke "$INK" -strokewidth 2 -draw "$R path 'M 12,16 L 12,47 L 52,47'" \
  -stroke "$TRACE" -strokewidth 3 -draw "$R path 'M 15,40 L 24,31 L 31,36 L 40,22 L 50,18'" \
  -fill "$TRACE" -stroke none -draw "circle 24,31 26,31" -draw "circle 31,36 33,36" -draw "circle 40,22 42,22" \
  "${OUT[@]}" ICONES_TAVLIN-02a.png
