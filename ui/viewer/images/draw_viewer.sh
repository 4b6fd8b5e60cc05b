#!/usr/bin/env bash
# Draws the images of the recorded-file viewer (drawn for this program) with ImageMagick. Run it
# from this folder after changing a drawing; the PNG files are kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

R='stroke-linejoin round stroke-linecap round'
INK='#e8eef4'
TRACE='#5fd38d'
OUT=(-depth 8 -define png:exclude-chunks=date,time)

# Status-line icon of the viewer mode: a stored record under a magnifier.
convert -size 64x64 xc:none -fill '#1d2630' -stroke "$INK" -strokewidth 3 \
  -draw "roundrectangle 4,8 59,55 6,6" \
  -fill none -stroke "$TRACE" -strokewidth 3 -draw "$R path 'M 10,40 L 18,30 L 24,36 L 32,22'" \
  -stroke "$INK" -strokewidth 3 -draw "circle 38,28 38,40" -draw "$R line 46,37 54,47" \
  "${OUT[@]}" viewer_icon.png

# Next and previous recording: a page with an arrow.
for dir in next previous; do
  if [ "$dir" = next ]; then ARROW="M 14,21 L 29,21 M 24,16 L 29,21 L 24,26"; else ARROW="M 28,21 L 13,21 M 18,16 L 13,21 L 18,26"; fi
  convert -size 42x42 xc:none -fill none -stroke "$INK" -strokewidth 2 \
    -draw "roundrectangle 6,4 36,38 3,3" \
    -stroke "$TRACE" -strokewidth 3 -draw "$R path '$ARROW'" \
    "${OUT[@]}" "viewer_${dir}.png"
done

# Event filter: a funnel over a trace.
convert -size 42x42 xc:none -fill none -stroke "$INK" -strokewidth 2 \
  -draw "$R path 'M 8,8 L 34,8 L 24,20 L 24,32 L 18,36 L 18,20 Z'" \
  -stroke "$TRACE" -strokewidth 2 -draw "$R path 'M 4,38 L 10,34 L 14,38'" \
  "${OUT[@]}" viewer_filter.png
