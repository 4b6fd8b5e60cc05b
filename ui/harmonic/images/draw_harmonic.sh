#!/usr/bin/env bash
# Draws the images of the harmonic view (fundamental-frequency tool, power-off option, order
# buttons of the table; all drawn for this program) with ImageMagick. Run it from this folder
# after changing a drawing; the PNG files are kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

S=84  # drawn at twice the 42-pixel button size, scaled down smoothly when painted
TILE=(-fill '#2a3440' -stroke '#6c7f93' -strokewidth 3 -draw "roundrectangle 2,2 81,81 12,12")
R='stroke-linejoin round stroke-linecap round'
FONT=(-font Noto-Sans-Bold)

tile() {  # tile NAME DRAW-ARGS...
  local name="$1"
  shift
  convert -size ${S}x${S} xc:none "${TILE[@]}" "$@" -depth 8 -define png:exclude-chunks=date,time "$name"
}
plain() {  # plain SIZE NAME DRAW-ARGS...
  local size="$1" name="$2"
  shift 2
  convert -size ${size}x${size} xc:none "$@" -depth 8 -define png:exclude-chunks=date,time "$name"
}

# Fundamental-frequency tool: a sine over the frequency it is fixed at.
SINE=(-fill none -stroke '#f2d04b' -strokewidth 4 -draw "$R path 'M 14,30 C 22,10 30,10 38,30 S 54,50 62,30 S 70,14 72,18'")
freq() {  # freq NAME TEXT POINTSIZE
  tile "$1" "${SINE[@]}" -fill '#e8eef4' -stroke none "${FONT[@]}" -pointsize "$3" -gravity south -annotate +0+8 "$2"
}
freq harmFreqAuto.png AUTO 22
freq harmFreq50.png 50 28
freq harmFreq60.png 60 28
freq harmFreq400.png 400 28

# Power display off: a wattmeter crossed out.
tile PuissanceOut.png -fill none -stroke '#e8eef4' -strokewidth 4 -draw "circle 42,42 42,16" \
  -fill '#e8eef4' -stroke none "${FONT[@]}" -pointsize 30 -gravity center -annotate +0+0 'W' \
  -fill none -stroke '#c0262d' -strokewidth 6 -draw "$R line 18,66 66,18"

# Order buttons of the measurement table, drawn for a white table.
plain 48 harmOrderMinus.png -fill '#2a3440' -stroke none -draw "circle 24,24 24,2" \
  -fill none -stroke white -strokewidth 6 -draw "$R line 13,24 35,24"
plain 48 harmOrderPlus.png -fill '#2a3440' -stroke none -draw "circle 24,24 24,2" \
  -fill none -stroke white -strokewidth 6 -draw "$R line 13,24 35,24" -draw "$R line 24,13 24,35"
