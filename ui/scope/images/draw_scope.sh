#!/usr/bin/env bash
# Draws the images of the scope view (tool bar, status icon, panel controls; all drawn for this
# program) with ImageMagick. Run it from this folder after changing a drawing; the PNG files are
# kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

S=84  # drawn at twice the 42-pixel button size, scaled down smoothly when painted
TILE=(-fill '#2a3440' -stroke '#6c7f93' -strokewidth 3 -draw "roundrectangle 2,2 81,81 12,12")
R='stroke-linejoin round stroke-linecap round'
LINE=(-fill none -strokewidth 5 -stroke)
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

# Panel controls: the close cross (top right of each panel) and the drag handle.
plain 64 CloseCross.png -fill '#c0262d' -stroke none -draw "circle 32,32 32,3" \
  -fill none -stroke white -strokewidth 7 -draw "$R line 21,21 43,43" -draw "$R line 43,21 21,43"
plain 100 drag-vertical.png -fill '#8a96a3' -stroke none \
  -draw "circle 38,22 45,22" -draw "circle 62,22 69,22" \
  -draw "circle 38,50 45,50" -draw "circle 62,50 69,50" \
  -draw "circle 38,78 45,78" -draw "circle 62,78 69,78"

# Status-line icon of the scope modes: a small trace in a screen.
plain 64 ICONES_TAVLIN-03.png -fill '#1d2630' -stroke '#e8eef4' -strokewidth 3 \
  -draw "roundrectangle 4,10 59,53 6,6" \
  -fill none -stroke '#f2d04b' -strokewidth 4 -draw "$R path 'M 10,32 C 16,12 24,12 30,32 S 44,52 52,32'"

# Math options F1 to F4.
for n in 1 2 3 4; do
  tile F$n.png -fill '#e8eef4' "${FONT[@]}" -pointsize 34 -gravity center -annotate +0+0 "F$n"
done

# Tool bar.
tile math.png -fill '#e8eef4' "${FONT[@]}" -pointsize 30 -gravity center -annotate +0-2 'f(x)'
tile passfail.png \
  -fill none -stroke '#6c7f93' -strokewidth 3 -draw "$R path 'M 12,30 L 30,30 L 36,18 L 48,18 L 54,30 L 72,30'" \
  -draw "$R path 'M 12,54 L 30,54 L 36,66 L 48,66 L 54,54 L 72,54'" \
  "${LINE[@]}" '#5fd38d' -draw "$R path 'M 12,42 L 32,42 L 38,28 L 46,56 L 52,42 L 72,42'"
tile trigger.png \
  "${LINE[@]}" '#e8eef4' -draw "$R path 'M 14,62 L 42,62 L 42,22 L 70,22'" \
  -stroke '#ff8a3d' -strokewidth 4 -draw "$R path 'M 34,46 L 42,36 L 50,46'"
tile measTable.png \
  -fill none -stroke '#e8eef4' -strokewidth 3 -draw "rectangle 14,16 70,68" \
  -draw "line 14,29 70,29" -draw "line 14,42 70,42" -draw "line 14,55 70,55" \
  -draw "line 28,16 28,68" -draw "line 42,16 42,68" -draw "line 56,16 56,68"
tile measChannel.png \
  -fill none -stroke '#4cc3e8' -strokewidth 4 -draw "$R path 'M 12,56 L 12,28 L 32,28 L 32,56 L 52,56 L 52,28 L 72,28'" \
  -stroke '#e8eef4' -strokewidth 3 -draw "$R line 12,68 32,68" -draw "$R path 'M 12,64 L 12,72'" -draw "$R path 'M 32,64 L 32,72'"
tile save.png \
  -fill '#4cc3e8' -stroke '#e8eef4' -strokewidth 3 -draw "$R path 'M 16,16 L 60,16 L 68,24 L 68,68 L 16,68 Z'" \
  -fill '#e8eef4' -stroke none -draw "rectangle 26,16 56,34" -draw "rectangle 24,46 60,68" \
  -fill '#4cc3e8' -draw "rectangle 46,20 52,30"
tile help.png -fill '#e8eef4' "${FONT[@]}" -pointsize 46 -gravity center -annotate +0+0 '?'
