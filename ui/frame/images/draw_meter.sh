#!/usr/bin/env bash
# Draws the multimeter's function icons (48 x 48, also shown at 32 x 32) and the four wiring
# pictures of the power functions (124 x 75) with ImageMagick; all drawn for this program. Run it
# from this folder after changing a drawing; the PNG files are kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

OUT=(-depth 8 -define png:exclude-chunks=date,time)
R='stroke-linejoin round stroke-linecap round'  # prefix of the line drawings
INK='#f4f7fa'
EDGE='#1c232b'

# Each helper appends its drawing to A; a picture is drawn from A and then A starts anew.
A=()

# Function icons: light strokes with a dark edge, legible on any channel colour.
icon() {  # icon NAME: A on a transparent 48 x 48 square
  convert -size 48x48 xc:none "${A[@]}" "${OUT[@]}" "$1"
  A=()
}
twice() {  # twice DRAW: the drawing with a wide dark stroke under the light one
  A+=(-fill none -stroke "$EDGE" -strokewidth 6 -draw "$R $1" -stroke "$INK" -strokewidth 3 -draw "$R $1")
}

A=(-fill "$INK" -stroke "$EDGE" -strokewidth 1.5 -font DejaVu-Sans-Bold -pointsize 38 -gravity center
   -annotate +0+1 'Ω')
icon ch1_ohm.png
twice "polygon 7,19 14,19 22,12 22,36 14,29 7,29"
twice "path 'M 28,17 A 9,9 0 0 1 28,31'"
twice "path 'M 33,12 A 15,15 0 0 1 33,36'"
twice "path 'M 38,7 A 21,21 0 0 1 38,41'"
icon ch1_continuity.png
twice "line 4,24 19,24"
twice "line 29,24 44,24"
twice "line 20,10 20,38"
twice "line 28,10 28,38"
icon ch1_capa.png
twice "line 3,24 14,24"
twice "line 34,24 45,24"
A+=(-fill "$INK" -stroke "$EDGE" -strokewidth 1.5 -draw "polygon 14,11 14,37 33,24")
twice "line 34,10 34,38"
icon ch1_diode.png

# Wiring pictures: the lines of the network (L, L1..L3, N), the voltage a channel measures as
# an arrow between two lines, the current as a clamp on a line. Channel 1 yellow, 2 cyan,
# 3 magenta, 4 green.
CH1='#f2d04b'
CH2='#4cc3e8'
CH3='#d98cf2'
CH4='#5fd38d'
LINE='#c9d3dc'
TXT=(-font DejaVu-Sans-Bold -pointsize 9)
TAG=("${TXT[@]}" -undercolor '#141a21')  # a channel's label stays legible over a line

wiring() {  # wiring NAME: A on the 124 x 75 picture
  convert -size 124x75 xc:'#141a21' -fill none -stroke '#4a5a6a' -strokewidth 1 -draw "rectangle 0,0 123,74" \
    "${A[@]}" "${OUT[@]}" "$1"
  A=()
}
rail() {  # rail Y LABEL: a network line from its label to the load
  A+=(-stroke "$LINE" -strokewidth 2 -draw "line 18,$1 110,$1"
      -stroke none -fill "$LINE" "${TXT[@]}" -draw "text 2,$(($1 + 4)) '$2'")
}
load() {  # load Y1 Y2: the load box across the lines it joins
  A+=(-fill '#2a3440' -stroke "$LINE" -strokewidth 1 -draw "rectangle 108,$(($1 - 4)) 120,$(($2 + 4))")
}
voltage() {  # voltage X Y1 Y2 COLOUR LABEL: arrow from the lower line to the upper one
  A+=(-stroke "$4" -strokewidth 2 -fill none -draw "line $1,$(($3 - 2)) $1,$(($2 + 6))"
      -fill "$4" -stroke none -draw "polygon $(($1 - 4)),$(($2 + 8)) $(($1 + 4)),$(($2 + 8)) $1,$(($2 + 2))"
      -draw "circle $1,$2 $(($1 + 2)),$2" -draw "circle $1,$3 $(($1 + 2)),$3"
      "${TAG[@]}" -draw "text $(($1 + 4)),$(( ($2 + $3) / 2 + 4 )) '$5'" -undercolor none)
}
current() {  # current X Y COLOUR LABEL: a clamp round the line, its label above right (below at the top)
  local ty=$(($2 - 5))
  if [ "$2" -lt 20 ]; then ty=$(($2 + 14)); fi
  A+=(-fill none -stroke "$3" -strokewidth 2 -draw "ellipse $1,$2 5,7 0,360"
      -fill "$3" -stroke none "${TAG[@]}" -draw "text $(($1 + 6)),$ty '$4'" -undercolor none)
}

rail 18 L; rail 58 N; load 18 58
voltage 40 18 58 "$CH1" CH1; current 74 18 "$CH4" CH4
wiring PuissanceMonoCh1Ch4.png

rail 12 L1; rail 37 L2; rail 62 L3; load 12 62
voltage 28 12 62 "$CH1" 1; current 50 12 "$CH2" 2
voltage 70 37 62 "$CH3" 3; current 90 37 "$CH4" 4
wiring PuissanceTri.png

rail 10 L1; rail 28 L2; rail 46 L3; rail 64 N; load 10 64
voltage 40 10 64 "$CH1" CH1; current 74 10 "$CH4" CH4
wiring PuissanceTriEquilPhNCh1Ch4.png

rail 12 L1; rail 37 L2; rail 62 L3; load 12 62
voltage 40 12 62 "$CH1" CH1; current 74 37 "$CH4" CH4
wiring PuissanceTriEquil2PhCh1Ch4.png
