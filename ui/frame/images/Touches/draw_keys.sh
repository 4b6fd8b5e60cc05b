#!/usr/bin/env bash
# Draws the key pictures of the key help (drawn for this program) with ImageMagick: each key as the
# user sees it on the front panel, its printed label on a dark cap, the channel keys in their
# channel's trace colour. The label is also kept in the file (PNG text "Label") so that a test can
# tell which key a picture shows. Run it from this folder after changing the drawing; the PNG files
# are kept in the tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

# cap FILE LABEL [FILL INK POINTSIZE NAME]: LABEL may hold "\n" for a second line; NAME (ASCII,
# kept as "Label") defaults to the label on one line.
cap() {
  local fill="${3:-#2b2f36}" ink="${4:-white}" size="${5:-}" name="${6:-}"
  if [[ -z "$size" ]]; then
    if [[ "$2" == *'\n'* ]]; then size=14; elif (( ${#2} > 4 )); then size=13; elif (( ${#2} > 3 )); then size=15; else size=17; fi
  fi
  convert -size 64x64 xc:none -fill "$fill" -stroke '#9aa3ad' -strokewidth 3 \
    -draw "roundrectangle 4,4 59,59 10,10" -fill "$ink" -stroke none -font DejaVu-Sans-Bold \
    -pointsize "$size" -interline-spacing -3 -gravity center -annotate +0+0 "$(printf '%b' "$2")" \
    -set Label "${name:-$(printf '%b' "$2" | tr '\n' ' ')}" -depth 8 -define png:exclude-chunks=date,time "$1"
}

cap Touche1.png 'HOME'
cap Touche2.png '☀' '#2b2f36' white 30 'BACKLIGHT'
cap Touche3.png 'FULL\nSCRN'
cap Touche4.png 'PRINT'
cap Touche5.png 'REF'
cap Touche6.png 'AUTO\nSET'
cap Touche7.png 'MEAS'
cap Touche8.png 'MEAS\nREF'
cap Touche9.png 'CURS'
# Channel keys in the default trace colours (channel 1 red, 2 green, 3 blue, 4 magenta).
cap Touche10.png 'CH1' '#ff4c4c' black
cap Touche11.png 'CH2' '#4cff4c' black
cap Touche12.png 'CH3' '#4c4cff' black
cap Touche13.png 'CH4' '#ff4cff' black
# The two-channel model: the keys between CH1 and CH4 show the math traces.
cap Touche11M.png 'MATH\n2' '#4cff4c' black
cap Touche12M.png 'MATH\n3' '#4c4cff' black
cap Touche14.png 'AC\nDC'
cap Touche15.png 'FULL\nTRACE' '#2b2f36' white 12
cap Touche16.png 'ZOOM'
cap Touche17.png 'V/div'
cap Touche18.png '▲\n▼' '#2b2f36' white 16 'UP DOWN'
cap Touche19.png 's/div'
cap Touche20.png '◀ ▶' '#2b2f36' white 16 'LEFT RIGHT'
cap Touche21.png '50%'
cap Touche22.png 'SLOPE' '#2b2f36' white 12
cap Touche23.png 'SINGLE' '#2b2f36' white 11
cap Touche24.png 'RUN\nHOLD'
