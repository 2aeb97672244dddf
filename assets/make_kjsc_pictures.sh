#!/usr/bin/env bash
# Draws the courseware pages' pictures with ImageMagick: the wide button face
# (normal, hover, pressed; the caption is drawn by the button itself), the
# document icon of the queue rows and the drop illustration of the
# file-choice page. Run it from anywhere; the PNGs land beside this script.
set -euo pipefail
cd "$(dirname "$0")"

font=WenQuanYi-Micro-Hei

# kjsc_button_<look>.png, 253 x 42: a rounded blue face on white.
for look in "normal rgb(38,146,219) rgb(24,120,190)" \
            "hover rgb(66,166,232) rgb(38,146,219)" \
            "pressed rgb(24,118,186) rgb(16,96,160)"; do
  set -- $look
  convert -size 253x42 xc:white \
    -fill "$3" -draw 'roundrectangle 0,0 252,41 8,8' \
    -fill "$2" -draw 'roundrectangle 1,1 251,40 7,7' \
    -define png:color-type=2 "kjsc_button_$1.png"
done

# kjsc_document.png, 45 x 53: a page of text with a folded corner.
convert -size 45x53 xc:white \
  -fill 'rgb(236,244,250)' -stroke 'rgb(4,104,147)' -strokewidth 2 \
  -draw 'polygon 3,2 31,2 42,13 42,50 3,50' \
  -fill 'rgb(190,220,238)' -draw 'polygon 31,2 31,13 42,13' \
  -stroke 'rgb(120,170,200)' -strokewidth 2 \
  -draw 'line 10,20 35,20' -draw 'line 10,27 35,27' \
  -draw 'line 10,34 35,34' -draw 'line 10,41 26,41' \
  -define png:color-type=2 kjsc_document.png

# kjsc_drop.png, 356 x 366: on a blue ground, a dashed rounded frame holding
# a folder and a hand, with the invitation to drop files here.
convert -size 356x366 xc:'rgb(38,146,219)' \
  -fill none -stroke white -strokewidth 2 -draw 'stroke-dasharray 10 6 roundrectangle 22,22 333,343 18,18' \
  -stroke none -fill 'rgb(255,214,102)' -draw 'roundrectangle 108,92 248,196 8,8' \
  -fill 'rgb(255,196,64)' -draw 'roundrectangle 108,80 168,100 6,6' \
  -fill 'rgb(255,228,140)' -draw 'roundrectangle 108,110 248,196 8,8' \
  -fill white -stroke 'rgb(24,120,190)' -strokewidth 3 \
  -draw 'roundrectangle 196,160 234,214 12,12' \
  -draw 'roundrectangle 203,128 217,182 7,7' \
  -stroke none -fill white -draw 'rectangle 205,160 232,180' \
  -fill white -font "$font" -pointsize 20 -gravity north -annotate +0+244 '将文件拖拽到这里' \
  -pointsize 15 -annotate +0+278 '即可上传到服务器' \
  -define png:color-type=2 kjsc_drop.png
