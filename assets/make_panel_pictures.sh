#!/usr/bin/env bash
# Draws the main panel's pictures with ImageMagick: the 360 x 600 background
# (a blue gradient header band, a white body, a thin dark-teal frame and
# rounded corners in the key colour RGB 0,0,255, which the window cuts away),
# the small close mark and the wide page button, each in its normal, hover
# and pressed looks. Buttons are key-coloured outside their shape as well.
# Each is drawn once at its size and once at twice its size (name@2x.png) for
# screens scaled x2. Run it from anywhere; the PNGs land beside this script.
#
#   make_panel_pictures.sh [1|2]   only that scale (both without one)
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
# draw SCALE: every length is multiplied by SCALE; lines become SCALE wide.
# A line SCALE wide is centred half a pixel further in when SCALE is even,
# so that it covers whole pixels.
draw() {
  local s=$1 suffix="" half=""
  [ "$s" = 1 ] || suffix="@${s}x"
  [ $((s % 2)) = 1 ] || half=".5"
  local w=$((360 * s)) h=$((600 * s)) r=$((6 * s))
  # at P: the position of a line's centre whose first pixel is P * SCALE.
  at() { echo "$(($1 * s))$half"; }
  convert -size "${w}x${h}" xc:white \
    \( -size "${w}x$((61 * s))" "gradient:$header_top-$header_bottom" \) -geometry +0+0 -composite \
    +antialias -fill "$frame" -draw "rectangle 0,$((60 * s)) $((w - 1)),$((61 * s - 1))" \
    -fill none -stroke "$frame" -strokewidth "$s" \
    -draw "roundrectangle $(at 0),$(at 0) $((359 * s))$half,$((599 * s))$half $r,$r" \
    body.tmp.png
  convert -size "${w}x${h}" xc:black +antialias -fill white \
    -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) $r,$r" outline.tmp.png
  convert -size "${w}x${h}" "xc:$key" body.tmp.png outline.tmp.png -composite \
    -depth 8 -define png:color-type=2 "panel_background$suffix.png"
  rm -f body.tmp.png outline.tmp.png

  # close LOOK MARK-COLOUR FACE-COLOUR: a 16 x 15 mark on the header band.
  close() {
    local look=$1 mark=$2 face=$3
    convert -size "$((16 * s))x$((15 * s))" "xc:$key" +antialias \
      -fill "$face" -draw "roundrectangle 0,0 $((16 * s - 1)),$((15 * s - 1)) $((3 * s)),$((3 * s))" \
      -stroke "$mark" -strokewidth $((2 * s)) \
      -draw "line $((4 * s)),$((4 * s)) $((11 * s)),$((10 * s))" \
      -draw "line $((11 * s)),$((4 * s)) $((4 * s)),$((10 * s))" \
      -depth 8 -define png:color-type=2 "panel_close_$look$suffix.png"
  }
  close normal 'rgb(195,229,244)' 'rgb(14,68,122)'
  close hover white 'rgb(214,72,62)'
  close pressed 'rgb(230,230,230)' 'rgb(160,44,38)'

  # button LOOK TOP BOTTOM EDGE: the 253 x 42 page button; the page draws its
  # words over it and stretches it to other sizes.
  button() {
    local look=$1 top=$2 bottom=$3 edge=$4
    local bw=$((253 * s)) bh=$((42 * s)) br=$((6 * s))
    convert -size "$((251 * s))x$((40 * s))" "gradient:$top-$bottom" face.tmp.png
    convert -size "${bw}x${bh}" "xc:$key" +antialias \
      -fill "$edge" -draw "roundrectangle 0,0 $((bw - 1)),$((bh - 1)) $br,$br" \
      face.tmp.png -geometry "+$s+$s" -compose over -composite \
      -fill none -stroke "$edge" -strokewidth "$s" \
      -draw "roundrectangle $(at 0),$(at 0) $((bw - s))$half,$((bh - s))$half $br,$br" \
      -depth 8 -define png:color-type=2 "panel_button_$look$suffix.png"
    rm -f face.tmp.png
  }
  button normal 'rgb(40,160,214)' 'rgb(14,112,170)' 'rgb(12,84,96)'
  button hover 'rgb(72,186,232)' 'rgb(28,134,194)' 'rgb(12,84,96)'
  button pressed 'rgb(14,112,170)' 'rgb(10,84,132)' 'rgb(8,60,70)'
}

for scale in ${1:-1 2}; do draw "$scale"; done
