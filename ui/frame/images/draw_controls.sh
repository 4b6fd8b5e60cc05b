#!/usr/bin/env bash
# Draws the images of the shared controls and keyboards (all drawn for this program) with
# ImageMagick. Run it from this folder after changing a drawing; the PNG files are kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

R='stroke-linejoin round stroke-linecap round'
out() {  # out SIZE NAME DRAW-ARGS...
  local size="$1" name="$2"
  shift 2
  convert -size ${size}x${size} xc:none "$@" -depth 8 -define png:exclude-chunks=date,time "$name"
}

# Check box, drawn at twice its 20-pixel size.
BOX=(-fill white -stroke '#303030' -strokewidth 3 -draw "roundrectangle 2,2 37,37 6,6")
out 40 unchecked.png "${BOX[@]}"
out 40 checked.png "${BOX[@]}" -fill none -stroke '#1a7f3c' -strokewidth 6 -draw "$R polyline 9,21 17,29 31,11"

# Keyboard keys, drawn at 64 pixels and scaled down to the key.
out 64 DeleteKey.png -fill none -stroke '#303030' -strokewidth 5 \
  -draw "$R polygon 22,14 56,14 56,50 22,50 6,32" \
  -draw "$R line 30,23 47,41" -draw "$R line 47,23 30,41"
out 64 OkKey.png -fill none -stroke '#1a7f3c' -strokewidth 9 -draw "$R polyline 10,34 26,50 54,14"
out 64 CancelKey.png -fill none -stroke '#c0262d' -strokewidth 9 -draw "$R line 14,14 50,50" -draw "$R line 50,14 14,50"
