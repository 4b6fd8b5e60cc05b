#!/usr/bin/env bash
# Draws the key pictures of the key help (drawn for this program) with ImageMagick: a key cap
# with the key's number on it. Run it from this folder after changing the drawing; the PNG files
# are kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

cap() {  # cap NAME LABEL FILL
  convert -size 64x64 xc:none -fill "$3" -stroke '#303030' -strokewidth 3 \
    -draw "roundrectangle 4,4 59,59 10,10" -fill white -stroke none -font Noto-Sans-Bold -pointsize 22 -gravity center \
    -annotate +0+0 "$2" -depth 8 -define png:exclude-chunks=date,time "$1"
}

for n in $(seq 1 24); do
  cap "Touche$n.png" "$n" '#5a6470'
done
# The two keys that differ on the two-channel model.
cap Touche11M.png "11M" '#2f6f9f'
cap Touche12M.png "12M" '#2f6f9f'
