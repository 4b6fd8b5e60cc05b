#!/usr/bin/env bash
# Draws the images of the bus-analysis view (status icon, tool column, bus-quality pictures; all
# drawn for this program) with ImageMagick. Run it from this folder after changing a drawing;
# the PNG files are kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

S=96  # drawn at twice the 48-pixel tool size, scaled down smoothly when painted
TILE=(-fill '#2a3440' -stroke '#6c7f93' -strokewidth 3 -draw "roundrectangle 2,2 93,93 12,12")
R='stroke-linejoin round stroke-linecap round'
FONT=(-font Noto-Sans-Bold)
INK='#e8eef4'
BUS='#4bc0f2'
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

# Status-line icon of the bus mode: two bus lines with three stations on them.
plain 64 ICONES_TAVLIN-05a.png -fill '#1d2630' -stroke "$INK" -strokewidth 3 \
  -draw "roundrectangle 4,8 59,55 6,6" \
  -fill none -stroke "$BUS" -strokewidth 3 -draw "$R line 10,24 54,24" -draw "$R line 10,40 54,40" \
  -stroke "$INK" -strokewidth 3 -draw "$R line 18,24 18,40" -draw "$R line 32,24 32,40" -draw "$R line 46,24 46,40"

# Tool column: file selection (a list with a pointer), limits (a value between two bounds),
# diagnosis (a bus waveform under a magnifier), results (a report page with a tick).
tile busSelect.png -fill none -stroke "$INK" -strokewidth 5 \
  -draw "$R line 22,26 74,26" -draw "$R line 22,48 74,48" -draw "$R line 22,70 74,70" \
  -stroke "$BUS" -draw "$R polygon 12,42 20,48 12,54"
tile busLimits.png -fill none -stroke '#e85a4f' -strokewidth 4 \
  -draw "$R line 14,24 82,24" -draw "$R line 14,72 82,72" \
  -stroke "$BUS" -strokewidth 5 -draw "$R path 'M 14,48 L 30,48 L 36,34 L 48,62 L 58,40 L 66,48 L 82,48'"
tile busDiag.png -fill none -stroke "$BUS" -strokewidth 5 \
  -draw "$R path 'M 12,56 L 24,56 L 24,32 L 40,32 L 40,56 L 52,56'" \
  -stroke "$INK" -strokewidth 5 -draw "circle 58,44 58,24" -draw "$R line 72,58 84,72"
tile busResults.png -fill '#f4f6f8' -stroke "$INK" -strokewidth 3 -draw "roundrectangle 22,12 74,84 4,4" \
  -fill none -stroke '#4a5a6a' -strokewidth 3 -draw "$R line 32,28 64,28" -draw "$R line 32,40 64,40" \
  -stroke '#3fae49' -strokewidth 7 -draw "$R path 'M 34,62 L 44,72 L 64,50'"

# Bus-quality pictures: a bus connector shield in red, yellow and green with its verdict mark.
quality() {  # quality NAME COLOUR MARK-ARGS...
  local name="$1" colour="$2"
  shift 2
  plain 128 "$name" -fill "$colour" -stroke '#1d2630' -strokewidth 4 \
    -draw "path 'M 64,8 L 116,28 L 108,84 L 64,120 L 20,84 L 12,28 Z'" \
    -fill none -stroke white -strokewidth 12 "$@"
}
quality ICONES_TAVLIN-100.png '#d83a2e' -draw "$R line 44,44 84,84" -draw "$R line 84,44 44,84"
quality ICONES_TAVLIN-101.png '#f2c12e' -draw "$R line 64,34 64,70" -draw "$R point 64,92" \
  -draw "$R line 64,92 64,93"
quality ICONES_TAVLIN-102.png '#3fae49' -draw "$R path 'M 40,64 L 58,82 L 90,44'"
