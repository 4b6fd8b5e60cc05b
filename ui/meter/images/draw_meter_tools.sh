#!/usr/bin/env bash
# Draws the images of the meter view (tool column, channel-1 function pictures, status icon; all
# drawn for this program) with ImageMagick. Run it from this folder after changing a drawing; the
# PNG files are kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

S=84  # drawn at twice the 42-pixel button size, scaled down smoothly when painted
TILE=(-fill '#2a3440' -stroke '#6c7f93' -strokewidth 3 -draw "roundrectangle 2,2 81,81 12,12")
R='stroke-linejoin round stroke-linecap round'
FONT=(-font Noto-Sans-Bold)
INK='#e8eef4'
CH1='#f2d04b'
OUT=(-depth 8 -define png:exclude-chunks=date,time)

tile() {  # tile NAME DRAW-ARGS...
  local name="$1"
  shift
  convert -size ${S}x${S} xc:none "${TILE[@]}" "$@" "${OUT[@]}" "$name"
}
plain() {  # plain SIZE NAME DRAW-ARGS...
  local size="$1" name="$2"
  shift 2
  convert -size ${size}x${size} xc:none "$@" "${OUT[@]}" "$name"
}

# Status-line icon of the meter mode: a meter's dial with its needle.
plain 64 ICONES_TAVLIN-23a.png -fill '#1d2630' -stroke "$INK" -strokewidth 3 \
  -draw "roundrectangle 4,8 59,55 6,6" \
  -fill none -stroke "$CH1" -strokewidth 3 -draw "$R path 'M 14,40 A 18,18 0 0 1 50,40'" \
  -stroke "$INK" -strokewidth 4 -draw "$R line 32,44 42,24"

# Channel 1's function tool and its voltage option (the other options are the function icons).
tile channel1.png -fill "$CH1" "${FONT[@]}" -pointsize 30 -gravity center -annotate +0-2 'CH1'
tile ch1_amplitude.png -fill "$CH1" "${FONT[@]}" -pointsize 34 -gravity center -annotate +0-2 'V~'

# Tool column.
tile meter_power.png -fill "$CH1" -stroke none -draw "polygon 46,10 22,46 40,46 34,74 62,34 44,34 54,10"
tile meter_frequency.png -fill none -stroke "$INK" -strokewidth 5 \
  -draw "$R path 'M 14,58 L 14,26 L 30,26 L 30,58 L 46,58 L 46,26 L 62,26 L 62,58 L 70,58'"
tile meter_statistics.png -fill "$INK" "${FONT[@]}" -pointsize 22 -gravity center \
  -annotate +0-14 'MAX' -annotate +0+14 'MIN'
tile meter_relative.png -fill "$INK" "${FONT[@]}" -pointsize 40 -gravity center -annotate +0-2 'Δ'
