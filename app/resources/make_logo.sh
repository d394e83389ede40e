#!/bin/sh
# Draws the About box logo, a 66 x 46 baseline JPEG, with ImageMagick. The JPEG is committed.
set -e
cd "$(dirname "$0")"
/usr/bin/convert -size 66x46 gradient:'#16408f'-'#5d9cf0' \
  \( icons/kavrel-48.png -filter point -resize 32x32 \) -gravity north -geometry +0+2 -composite \
  -font DejaVu-Sans-Bold -pointsize 8 -fill white -gravity south -annotate +0+1 'KAVREL' \
  -strip -interlace none -quality 92 -sampling-factor 2x2 about/logo.jpg
