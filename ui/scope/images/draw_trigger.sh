#!/usr/bin/env bash
# Draws the images of the trigger panel (all drawn for this program) with ImageMagick: the two
# slope keys and the pictures of the pulse, delay and count pages. Run it from this folder after
# changing a drawing; the files are kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

R='stroke-linejoin round stroke-linecap round'
KEEP=(-define png:exclude-chunks=date,time)

# Slope keys: 36 x 22, dark line with an arrow on the edge.
convert -size 36x22 xc:none -fill none -stroke '#303030' -strokewidth 2 \
  -draw "$R polyline 3,18 14,18 22,4 33,4" \
  -fill '#303030' -draw "polygon 15,10 21,10 18,5" -depth 8 "${KEEP[@]}" EdgeRising.png
convert -size 36x22 xc:none -fill none -stroke '#303030' -strokewidth 2 \
  -draw "$R polyline 3,4 14,4 22,18 33,18" \
  -fill '#303030' -draw "polygon 15,12 21,12 18,17" -depth 8 "${KEEP[@]}" EdgeFalling.png

# Page pictures: 140 x 64 on white, signal in black, times in blue.
PIC=(-size 140x64 xc:white -fill none -stroke black -strokewidth 2)
BLUE=(-stroke '#1f5fbf' -strokewidth 1 -fill '#1f5fbf')
# A pulse whose width T is compared with T1 and T2.
convert "${PIC[@]}" -draw "$R polyline 6,44 40,44 40,14 96,14 96,44 134,44" \
  "${BLUE[@]}" -draw "line 40,54 96,54" -draw "polygon 40,54 46,51 46,57" -draw "polygon 96,54 90,51 90,57" \
  -stroke none -pointsize 12 -draw "text 64,62 'T'" -quality 92 triggerPulse.jpg
# The qualifier edge arms, the delay runs, then the trigger edge fires.
convert "${PIC[@]}" -draw "$R polyline 6,30 20,30 20,8 60,8" \
  -draw "$R polyline 60,52 100,52 100,36 134,36" \
  "${BLUE[@]}" -draw "line 20,20 100,20" -draw "polygon 100,20 94,17 94,23" \
  -stroke none -pointsize 12 -draw "text 42,34 'delay'" -quality 92 triggerDelay.jpg
# Edges counted after the qualifier edge; the trigger comes on the N-th.
convert "${PIC[@]}" -draw "$R polyline 6,26 14,26 14,6 40,6" \
  -draw "$R polyline 40,56 50,56 50,38 58,38 58,56 70,56 70,38 78,38 78,56 90,56 90,38 98,38 98,56 134,56" \
  "${BLUE[@]}" -stroke none -pointsize 11 -draw "text 48,32 '1'" -draw "text 68,32 '2'" -draw "text 88,32 'N'" \
  -fill '#c0262d' -draw "polygon 90,22 86,14 94,14" -quality 92 triggerCount.jpg
