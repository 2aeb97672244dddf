#!/usr/bin/env bash
# Draws the status window's pictures with ImageMagick: the 230 x 144
# background (its corners in the key colour RGB 0,0,255, which the window
# cuts away) and the two picture buttons in their normal, hover and pressed
# looks. Run it from anywhere; the PNGs land beside this script.
set -euo pipefail
cd "$(dirname "$0")"

font=WenQuanYi-Micro-Hei
key='rgb(0,0,255)'
panel='rgb(43,47,52)'
band='rgb(56,61,67)'
edge='rgb(86,92,99)'

# The shapes are drawn without smoothing so that every pixel is either the
# key colour or the panel: a blended edge pixel would survive the cut.
convert -size 230x144 "xc:$key" +antialias \
  -fill "$edge" -draw 'roundrectangle 0,0 229,143 12,12' \
  -fill "$panel" -draw 'roundrectangle 1,1 228,142 11,11' \
  -fill "$band" -draw 'rectangle 1,34 228,92' \
  -fill "$edge" -draw 'line 1,33 228,33' -draw 'line 1,93 228,93' \
  -define png:color-type=2 status_background.png

# button NAME WIDTH HEIGHT TEXT
button() {
  local name=$1 width=$2 height=$3 words=$4
  local right=$((width - 1)) bottom=$((height - 1))
  # look: face colour, frame colour, text colour, text shift
  for look in "normal rgb(64,70,77) rgb(98,105,113) rgb(200,200,200) 0" \
              "hover rgb(82,90,99) rgb(140,148,156) rgb(255,255,255) 0" \
              "pressed rgb(36,40,44) rgb(98,105,113) rgb(190,190,190) 1"; do
    set -- $look
    convert -size "${width}x${height}" "xc:$panel" +antialias \
      -fill "$3" -draw "roundrectangle 0,0 $right,$bottom 7,7" \
      -fill "$2" -draw "roundrectangle 1,1 $((right - 1)),$((bottom - 1)) 6,6" \
      -antialias -font "$font" -pointsize 15 -fill "$4" -gravity center \
      -annotate "+$5+$5" "$words" \
      -define png:color-type=2 "status_${name}_$1.png"
  done
}

button lesson 118 41 "上课计时"
button teacher 95 40 "更换老师"
