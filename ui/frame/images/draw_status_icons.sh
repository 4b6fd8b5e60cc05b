#!/usr/bin/env bash
# Draws the status line's battery and storage icons (all drawn for this program) with
# ImageMagick. Run it from this folder after changing a drawing; the PNG files are kept in the
# tree. Battery icons are drawn at their painted size, 100 x 18; storage icons at 32 x 32.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

OUT=(-depth 8 -define png:exclude-chunks=date,time)

battery() {  # battery NAME FILL-WIDTH COLOUR
  convert -size 100x18 xc:none \
    -fill '#1c232b' -stroke '#e8eef4' -strokewidth 2 -draw "roundrectangle 1,1 92,16 3,3" \
    -fill '#e8eef4' -stroke none -draw "rectangle 93,5 98,12" \
    -fill "$3" -draw "rectangle 4,4 $((3 + $2)),13" \
    "${OUT[@]}" "$1"
}
battery battery20.png 17 '#e5483b'
battery battery40.png 35 '#ff8a3d'
battery battery60.png 52 '#f2d04b'
battery battery80.png 70 '#5fd38d'
battery battery100.png 86 '#5fd38d'

# Lightning bolt laid over the battery icon while charging; the rest stays transparent.
convert -size 100x18 xc:none \
  -fill '#ffe14d' -stroke '#1c232b' -strokewidth 1 \
  -draw "polygon 50,1 38,10 46,10 42,17 56,7 48,7 53,1" \
  "${OUT[@]}" batteryInCharge.png

sdcard() {  # sdcard NAME COLOUR: a card with its cut corner and contacts
  convert -size 32x32 xc:none \
    -fill "$2" -stroke '#1c232b' -strokewidth 1 \
    -draw "polygon 7,2 20,2 26,8 26,30 7,30" \
    -fill '#fff4c2' -stroke none \
    -draw "rectangle 9,4 10,9" -draw "rectangle 12,4 13,9" -draw "rectangle 15,4 16,9" -draw "rectangle 18,4 19,9" \
    -fill '#1c232b' -draw "rectangle 10,17 23,19" -draw "rectangle 10,22 23,24" \
    "${OUT[@]}" "$1"
}
sdcard sdcard-green.png '#3fb96e'
sdcard sdcard-orange.png '#ff8a3d'
sdcard sdcard-red.png '#e5483b'

memory() {  # memory NAME COLOUR: a document with its folded corner (internal storage)
  convert -size 32x32 xc:none \
    -fill "$2" -stroke '#1c232b' -strokewidth 1 \
    -draw "polygon 6,2 20,2 26,8 26,30 6,30 6,2" \
    -fill '#fff4c2' -draw "polygon 20,2 20,8 26,8" \
    -stroke none -fill '#1c232b' \
    -draw "rectangle 10,14 22,15" -draw "rectangle 10,19 22,20" -draw "rectangle 10,24 18,25" \
    "${OUT[@]}" "$1"
}
memory file_green32.png '#3fb96e'
memory file_orange32.png '#ff8a3d'
memory file_red32.png '#e5483b'
