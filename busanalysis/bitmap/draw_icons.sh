#!/usr/bin/env bash
# Draws the bus icons of the built-in descriptors (all drawn for this program) with ImageMagick:
# a tile with the bus name and a sketch of its waveform, 256 x 150 pixels, the size of the image
# item that shows them. Run it from this folder after changing a drawing; the PNG files are kept
# in the tree and compiled into the program by the descriptor generator.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

icon() {  # icon NAME LABEL COLOUR PATH
  convert -size 256x150 xc:'#1c242c' \
    -fill '#2a3440' -stroke '#6c7f93' -strokewidth 3 -draw "roundrectangle 3,3 252,146 16,16" \
    -stroke '#3e4c5a' -strokewidth 1 -draw "line 20,100 236,100" \
    -fill none -stroke "$3" -strokewidth 4 -draw "stroke-linejoin round path '$4'" \
    -stroke none -fill '#e8eef4' -font DejaVu-Sans-Bold -pointsize 26 -gravity north -annotate +0+14 "$2" \
    -depth 8 -define png:exclude-chunks=date,time "$1.png"
}

NRZ='M 20,120 L 50,120 L 54,70 L 94,70 L 98,120 L 128,120 L 132,70 L 152,70 L 156,120 L 186,120 L 190,70 L 236,70'
MAN='M 20,95 L 40,95 L 40,70 L 60,70 L 60,120 L 80,120 L 80,70 L 120,70 L 120,120 L 160,120 L 160,70 L 180,70 L 180,120 L 236,120'
RZ='M 20,95 L 40,95 L 44,65 L 64,65 L 68,95 L 88,95 L 92,125 L 112,125 L 116,95 L 136,95 L 140,65 L 160,65 L 164,95 L 236,95'
icon can 'CAN' '#f2d04b' "$NRZ"
icon mil-std-1553 'MIL-STD-1553' '#ff8a3d' "$MAN"
icon lin 'LIN' '#5fd38d' 'M 20,70 L 60,70 L 66,120 L 100,120 L 106,70 L 150,70 L 156,120 L 176,120 L 182,70 L 236,70'
icon as-i 'AS-i' '#c792ea' 'M 20,95 L 50,95 Q 60,60 70,95 Q 80,130 90,95 L 130,95 Q 140,60 150,95 Q 160,130 170,95 L 236,95'
icon flexray 'FlexRay' '#4cc3e8' "$NRZ"
icon ether100baseT '100BASE-TX' '#4cc3e8' 'M 20,95 L 50,95 L 54,65 L 94,65 L 98,95 L 128,95 L 132,125 L 172,125 L 176,95 L 236,95'
icon rs232 'RS-232' '#e8eef4' 'M 20,70 L 50,70 L 54,125 L 84,125 L 88,70 L 140,70 L 144,125 L 196,125 L 200,70 L 236,70'
icon knx 'KNX' '#5fd38d' 'M 20,70 L 70,70 L 74,120 L 88,120 Q 92,60 100,70 L 150,70 L 154,120 L 168,120 Q 172,60 180,70 L 236,70'
icon ether10base2 '10BASE2' '#ff8a3d' 'M 20,70 L 40,70 L 40,120 L 60,120 L 60,70 L 100,70 L 100,120 L 140,120 L 140,70 L 160,70 L 160,120 L 236,120'
icon arinc 'ARINC 429' '#f2d04b' "$RZ"
icon ethernet '10BASE-T' '#c792ea' "$MAN"
icon usb 'USB' '#4cc3e8' 'M 20,70 L 60,70 L 64,120 L 84,120 L 88,70 L 128,70 L 132,120 L 190,120 L 194,70 L 236,70'
icon dali 'DALI' '#f2d04b' "$MAN"
icon rs485 'RS-485' '#5fd38d' "$NRZ"
icon profibusPA 'Profibus PA' '#ff8a3d' 'M 20,95 Q 30,80 40,95 Q 50,110 60,95 Q 70,80 80,95 Q 90,110 100,95 Q 110,80 120,95 Q 130,110 140,95 Q 150,80 160,95 Q 170,110 180,95 Q 190,80 200,95 Q 210,110 220,95'
