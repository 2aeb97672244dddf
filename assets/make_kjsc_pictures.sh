#!/usr/bin/env bash
# Draws the courseware pages' pictures with ImageMagick: the wide button face
# (normal, hover, pressed; the caption is drawn by the button itself), the
# document icon of the queue rows and the drop illustration of the
# file-choice page, once at their size and once at twice their size
# (name@2x.png) for screens scaled x2. Run it from anywhere; the PNGs land
# beside this script.
#
#   make_kjsc_pictures.sh [1|2]   only that scale (both without one)
set -euo pipefail
cd "$(dirname "$0")"

font=WenQuanYi-Micro-Hei

# draw SCALE: every length, line and letter is multiplied by SCALE.
draw() {
  local s=$1 suffix=""
  [ "$s" = 1 ] || suffix="@${s}x"
  # p N...: the numbers multiplied by SCALE, joined by commas.
  p() { local out="" n; for n in "$@"; do out+="${out:+,}$((n * s))"; done; echo "$out"; }

  # kjsc_button_<look>.png, 253 x 42: a rounded blue face on white.
  for look in "normal rgb(38,146,219) rgb(24,120,190)" \
              "hover rgb(66,166,232) rgb(38,146,219)" \
              "pressed rgb(24,118,186) rgb(16,96,160)"; do
    set -- $look
    convert -size "$((253 * s))x$((42 * s))" xc:white \
      -fill "$3" -draw "roundrectangle 0,0 $((253 * s - 1)),$((42 * s - 1)) $(p 8 8)" \
      -fill "$2" -draw "roundrectangle $s,$s $((252 * s - 1)),$((41 * s - 1)) $(p 7 7)" \
      -define png:color-type=2 "kjsc_button_$1$suffix.png"
  done

  # kjsc_document.png, 45 x 53: a page of text with a folded corner.
  convert -size "$((45 * s))x$((53 * s))" xc:white \
    -fill 'rgb(236,244,250)' -stroke 'rgb(4,104,147)' -strokewidth $((2 * s)) \
    -draw "polygon $(p 3 2) $(p 31 2) $(p 42 13) $(p 42 50) $(p 3 50)" \
    -fill 'rgb(190,220,238)' -draw "polygon $(p 31 2) $(p 31 13) $(p 42 13)" \
    -stroke 'rgb(120,170,200)' -strokewidth $((2 * s)) \
    -draw "line $(p 10 20) $(p 35 20)" -draw "line $(p 10 27) $(p 35 27)" \
    -draw "line $(p 10 34) $(p 35 34)" -draw "line $(p 10 41) $(p 26 41)" \
    -define png:color-type=2 "kjsc_document$suffix.png"

  # kjsc_drop.png, 356 x 366: on a blue ground, a dashed rounded frame
  # holding a folder and a hand, with the invitation to drop files here.
  convert -size "$((356 * s))x$((366 * s))" xc:'rgb(38,146,219)' \
    -fill none -stroke white -strokewidth $((2 * s)) \
    -draw "stroke-dasharray $(p 10) $(p 6) roundrectangle $(p 22 22) $(p 333 343) $(p 18 18)" \
    -stroke none -fill 'rgb(255,214,102)' -draw "roundrectangle $(p 108 92) $(p 248 196) $(p 8 8)" \
    -fill 'rgb(255,196,64)' -draw "roundrectangle $(p 108 80) $(p 168 100) $(p 6 6)" \
    -fill 'rgb(255,228,140)' -draw "roundrectangle $(p 108 110) $(p 248 196) $(p 8 8)" \
    -fill white -stroke 'rgb(24,120,190)' -strokewidth $((3 * s)) \
    -draw "roundrectangle $(p 196 160) $(p 234 214) $(p 12 12)" \
    -draw "roundrectangle $(p 203 128) $(p 217 182) $(p 7 7)" \
    -stroke none -fill white -draw "rectangle $(p 205 160) $(p 232 180)" \
    -fill white -font "$font" -pointsize $((20 * s)) -gravity north -annotate "+0+$((244 * s))" '将文件拖拽到这里' \
    -pointsize $((15 * s)) -annotate "+0+$((278 * s))" '即可上传到服务器' \
    -define png:color-type=2 "kjsc_drop$suffix.png"
}

for scale in ${1:-1 2}; do draw "$scale"; done
