#!/usr/bin/env bash
# Draws the home screen's icons (all drawn for this program) with ImageMagick. Run it from this
# folder after changing a drawing; the PNG files are kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

S=84  # drawn at twice the 42-pixel button size, scaled down smoothly when painted
TILE=(-fill '#2a3440' -stroke '#6c7f93' -strokewidth 3 -draw "roundrectangle 2,2 81,81 12,12")
R='stroke-linejoin round stroke-linecap round'  # prefix of the line drawings
LINE=(-fill none -strokewidth 5 -stroke)

tile() {  # tile NAME DRAW-ARGS...
  local name="$1"
  shift
  convert -size ${S}x${S} xc:none "${TILE[@]}" "$@" -depth 8 -define png:exclude-chunks=date,time "$name"
}
plain() {  # plain NAME DRAW-ARGS...: no tile, for the top bar
  local name="$1"
  shift
  convert -size ${S}x${S} xc:none "$@" -depth 8 -define png:exclude-chunks=date,time "$name"
}

# Mode tools.
tile scope.png \
  -fill none -stroke '#4a5a6a' -strokewidth 1 \
  -draw "$R line 14,42 70,42" -draw "$R line 42,14 42,70" \
  -draw "$R line 14,28 70,28" -draw "$R line 14,56 70,56" -draw "$R line 28,14 28,70" -draw "$R line 56,14 56,70" \
  "${LINE[@]}" '#f2d04b' -draw "$R path 'M 12,42 C 20,8 34,8 42,42 S 64,76 72,42'"
tile meter.png \
  "${LINE[@]}" '#e8eef4' -draw "$R path 'M 16,58 A 27,27 0 0 1 68,58'" \
  -strokewidth 3 -draw "$R line 20,40 25,44" -draw "$R line 42,27 42,33" -draw "$R line 64,40 59,44" \
  -stroke '#ff8a3d' -strokewidth 4 -draw "$R line 42,60 57,34" \
  -fill '#ff8a3d' -stroke none -draw "circle 42,60 47,60"
tile logger.png \
  "${LINE[@]}" '#e8eef4' -strokewidth 3 -draw "$R path 'M 16,14 L 16,68 L 72,68'" \
  -stroke '#5fd38d' -strokewidth 4 -draw "$R path 'M 20,56 L 32,44 L 42,50 L 54,30 L 68,24'" \
  -fill '#5fd38d' -stroke none \
  -draw "circle 32,44 35,44" -draw "circle 42,50 45,50" -draw "circle 54,30 57,30"
tile harmonic.png \
  -fill '#4cc3e8' -stroke none \
  -draw "rectangle 14,18 22,68" -draw "rectangle 26,36 34,68" -draw "rectangle 38,46 46,68" \
  -draw "rectangle 50,54 58,68" -draw "rectangle 62,60 70,68"
tile bus.png \
  "${LINE[@]}" '#d98cf2' -strokewidth 4 -draw "$R path 'M 10,34 L 20,34 L 24,50 L 36,50 L 40,34 L 46,34 L 50,50 L 60,50 L 64,34 L 74,34'" \
  -stroke '#8e6aa6' -draw "$R path 'M 10,50 L 20,50 L 24,34 L 36,34 L 40,50 L 46,50 L 50,34 L 60,34 L 64,50 L 74,50'"

# Tools of the views and of the top bar.
tile home.png \
  "${LINE[@]}" '#e8eef4' -draw "$R path 'M 16,42 L 42,18 L 68,42'" \
  -draw "$R path 'M 24,38 L 24,66 L 60,66 L 60,38'" -fill '#e8eef4' -stroke none -draw "rectangle 37,50 47,66"
tile fileman.png \
  -fill '#f2c14b' -stroke '#c9962a' -strokewidth 2 \
  -draw "$R path 'M 14,24 L 34,24 L 40,30 L 70,30 L 70,64 L 14,64 Z'" \
  -fill '#f7d67a' -draw "$R path 'M 14,36 L 70,36 L 70,64 L 14,64 Z'"
tile config.png \
  "${LINE[@]}" '#e8eef4' -strokewidth 4 \
  -draw "$R line 16,26 68,26" -draw "$R line 16,42 68,42" -draw "$R line 16,58 68,58" \
  -fill '#4cc3e8' -stroke '#2a3440' -strokewidth 2 \
  -draw "circle 30,26 36,26" -draw "circle 54,42 60,42" -draw "circle 38,58 44,58"
tile about.png \
  "${LINE[@]}" '#e8eef4' -strokewidth 4 -draw "circle 42,42 42,14" \
  -fill '#e8eef4' -stroke none -draw "circle 42,28 46,28" -draw "roundrectangle 38,38 46,62 2,2"

# Top bar indicators.
plain ethernet.png \
  -fill none -stroke '#e8eef4' -strokewidth 5 \
  -draw "$R path 'M 18,26 L 66,26 L 66,58 L 54,58 L 54,66 L 30,66 L 30,58 L 18,58 Z'" \
  -strokewidth 3 -draw "$R line 30,34 30,44" -draw "$R line 38,34 38,44" -draw "$R line 46,34 46,44" -draw "$R line 54,34 54,44"
plain wifi.png \
  -fill none -stroke '#e8eef4' -strokewidth 6 \
  -draw "$R path 'M 12,36 A 42,42 0 0 1 72,36'" \
  -draw "$R path 'M 22,47 A 28,28 0 0 1 62,47'" \
  -draw "$R path 'M 32,58 A 14,14 0 0 1 52,58'" \
  -fill '#e8eef4' -stroke none -draw "circle 42,68 47,68"
plain copyRunning.png \
  -fill none -stroke '#5fd38d' -strokewidth 6 \
  -draw "$R line 42,10 42,50" -draw "$R path 'M 26,36 L 42,52 L 58,36'" \
  -stroke '#e8eef4' -draw "$R path 'M 14,52 L 14,70 L 70,70 L 70,52'"

# Brand mark: a neutral word mark.
convert -size 200x48 xc:none \
  -fill '#1d2630' -stroke '#e8eef4' -strokewidth 2 -draw "roundrectangle 1,1 198,46 10,10" \
  -fill '#f2d04b' -stroke none -draw "$R path 'M 14,34 L 24,14 L 34,34 Z'" \
  -fill '#e8eef4' -font Noto-Sans-Bold -pointsize 24 -gravity center -annotate +14+1 'BROVAK' \
  -depth 8 -define png:exclude-chunks=date,time brovak.png
