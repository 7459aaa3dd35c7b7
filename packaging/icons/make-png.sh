#!/usr/bin/env bash
# Draws ktq-update.png, the raster copy of ktq-update.svg (same shapes), with
# ImageMagick's own drawing, which needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")"
pins=()
for v in 78 106 134 162; do
  pins+=(-draw "rectangle $v,46 $((v + 11)),69" -draw "rectangle $v,186 $((v + 11)),209")
  pins+=(-draw "rectangle 46,$v 69,$((v + 11))" -draw "rectangle 186,$v 209,$((v + 11))")
done
convert -size 256x256 xc:none \
  -fill '#1f4e79' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill '#c9d6e3' "${pins[@]}" \
  -fill '#0d2740' -stroke '#c9d6e3' -strokewidth 6 -draw 'roundrectangle 66,66 189,189 10,10' \
  -stroke none -fill '#3fbf6f' -draw 'polygon 128,86 160,122 140,122 140,168 116,168 116,122 96,122' \
  PNG32:ktq-update.png
