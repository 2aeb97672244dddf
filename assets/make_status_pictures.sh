#!/usr/bin/env bash
# Draws the status window's pictures with ImageMagick: the 230 x 144
# background (its corners in the key colour RGB 0,0,255, which the window
# cuts away) and the two picture buttons in their normal, hover and pressed
# looks, once at their size and once at twice their size (name@2x.png) for
# screens scaled x2. Run it from anywhere; the PNGs land beside this script.
#
#   make_status_pictures.sh [1|2]   only that scale (both without one)
set -euo pipefail
cd "$(dirname "$0")"

font=WenQuanYi-Micro-Hei
key='rgb(0,0,255)'
panel='rgb(43,47,52)'
band='rgb(56,61,67)'
edge='rgb(86,92,99)'

# draw SCALE: every length is multiplied by SCALE; lines become SCALE wide.
draw() {
  local s=$1 suffix=""
  [ "$s" = 1 ] || suffix="@${s}x"
  local w=$((230 * s)) h=$((144 * s))
  # The shapes are drawn without smoothing so that every pixel is either the
  # key colour or the panel: a blended edge pixel would survive the cut.
  convert -size "${w}x${h}" "xc:$key" +antialias \
    -fill "$edge" -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) $((12 * s)),$((12 * s))" \
    -fill "$panel" -draw "roundrectangle $s,$s $((w - 1 - s)),$((h - 1 - s)) $((11 * s)),$((11 * s))" \
    -fill "$band" -draw "rectangle $s,$((34 * s)) $((w - 1 - s)),$((93 * s - 1))" \
    -fill "$edge" -draw "rectangle $s,$((33 * s)) $((w - 1 - s)),$((34 * s - 1))" \
    -draw "rectangle $s,$((93 * s)) $((w - 1 - s)),$((94 * s - 1))" \
    -define png:color-type=2 "status_background$suffix.png"

  button "$s" "$suffix" lesson 118 41 "上课计时"
  button "$s" "$suffix" teacher 95 40 "更换老师"
}

# button SCALE SUFFIX NAME WIDTH HEIGHT TEXT
button() {
  local s=$1 suffix=$2 name=$3 width=$(($4 * $1)) height=$(($5 * $1)) words=$6
  local right=$((width - 1)) bottom=$((height - 1))
  # look: face colour, frame colour, text colour, text shift
  for look in "normal rgb(64,70,77) rgb(98,105,113) rgb(200,200,200) 0" \
              "hover rgb(82,90,99) rgb(140,148,156) rgb(255,255,255) 0" \
              "pressed rgb(36,40,44) rgb(98,105,113) rgb(190,190,190) 1"; do
    set -- $look
    convert -size "${width}x${height}" "xc:$panel" +antialias \
      -fill "$3" -draw "roundrectangle 0,0 $right,$bottom $((7 * s)),$((7 * s))" \
      -fill "$2" -draw "roundrectangle $s,$s $((right - s)),$((bottom - s)) $((6 * s)),$((6 * s))" \
      -antialias -font "$font" -pointsize $((15 * s)) -fill "$4" -gravity center \
      -annotate "+$(($5 * s))+$(($5 * s))" "$words" \
      -define png:color-type=2 "status_${name}_$1$suffix.png"
  done
}

for scale in ${1:-1 2}; do draw "$scale"; done
