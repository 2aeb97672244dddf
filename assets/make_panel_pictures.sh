#!/usr/bin/env bash
# Draws the main panel's pictures with ImageMagick: the 360 x 600 background
# (a blue gradient header band, a white body, a thin dark-teal frame and
# rounded corners in the key colour RGB 0,0,255, which the window cuts away),
# the small close mark and the wide page button, each in its normal, hover
# and pressed looks. Buttons are key-coloured outside their shape as well.
# Run it from anywhere; the PNGs land beside this script.
set -euo pipefail
cd "$(dirname "$0")"

key='rgb(0,0,255)'
frame='rgb(12,84,96)'
header_top='rgb(20,86,148)'
header_bottom='rgb(8,50,96)'

# Shapes are drawn without smoothing so that every pixel is either the key
# colour or the picture: a blended edge pixel would survive the cut. The
# picture is drawn square, then everything outside its rounded outline
# becomes the key colour.
convert -size 360x600 xc:white \
  \( -size 360x61 "gradient:$header_top-$header_bottom" \) -geometry +0+0 -composite \
  +antialias -fill "$frame" -draw 'line 0,60 359,60' \
  -fill none -stroke "$frame" -draw 'roundrectangle 0,0 359,599 6,6' \
  body.tmp.png
convert -size 360x600 xc:black +antialias -fill white -draw 'roundrectangle 0,0 359,599 6,6' outline.tmp.png
convert -size 360x600 "xc:$key" body.tmp.png outline.tmp.png -composite \
  -depth 8 -define png:color-type=2 panel_background.png
rm -f body.tmp.png outline.tmp.png

# close LOOK MARK-COLOUR FACE-COLOUR: a 16 x 15 mark on the header band.
close() {
  local look=$1 mark=$2 face=$3
  convert -size 16x15 "xc:$key" +antialias \
    -fill "$face" -draw 'roundrectangle 0,0 15,14 3,3' \
    -stroke "$mark" -strokewidth 2 -draw 'line 4,4 11,10' -draw 'line 11,4 4,10' \
    -depth 8 -define png:color-type=2 "panel_close_$look.png"
}
close normal 'rgb(195,229,244)' 'rgb(14,68,122)'
close hover white 'rgb(214,72,62)'
close pressed 'rgb(230,230,230)' 'rgb(160,44,38)'

# button LOOK TOP BOTTOM EDGE: the 253 x 42 page button; the page draws its
# words over it and stretches it to other sizes.
button() {
  local look=$1 top=$2 bottom=$3 edge=$4
  convert -size 251x40 "gradient:$top-$bottom" face.tmp.png
  convert -size 253x42 "xc:$key" +antialias \
    -fill "$edge" -draw 'roundrectangle 0,0 252,41 6,6' \
    face.tmp.png -geometry +1+1 -compose over -composite \
    -fill none -stroke "$edge" -draw 'roundrectangle 0,0 252,41 6,6' \
    -depth 8 -define png:color-type=2 "panel_button_$look.png"
  rm -f face.tmp.png
}
button normal 'rgb(40,160,214)' 'rgb(14,112,170)' 'rgb(12,84,96)'
button hover 'rgb(72,186,232)' 'rgb(28,134,194)' 'rgb(12,84,96)'
button pressed 'rgb(14,112,170)' 'rgb(10,84,132)' 'rgb(8,60,70)'
