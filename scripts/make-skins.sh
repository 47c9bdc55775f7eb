#!/usr/bin/env bash
# Draws the setup window's skin sheets and makes their resources:
#   make-skins.sh [OUT_DIR]     (default src/resources/skins)
# Writes the PNG masters skin161.png (569 x 175), skin162.png (72 x 44) and
# skin164.png (460 x 130), straight alpha, top row first, and from each the
# resource skinNNN.tga: 32-bit, run-length coded, premultiplied alpha, with
# no image-ID field and rows bottom first. ImageMagick 6 writes a Targa's
# rows top first while marking it bottom-left and writes straight alpha,
# hence -flip and the premultiplication; +set comment keeps the ID field empty.
# Every picture is drawn inside the regions of src/ui/SkinRegions.h; the rest
# of each sheet stays transparent. ImageMagick centres pixel x on coordinate
# x, so outlines are drawn on whole coordinates: a 1-pixel stroke at x.5
# would spill half into the next region. Needs ImageMagick (convert).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/src/resources/skins}
mkdir -p "$out"

# Sheet 161: window furniture and control looks.
# Each control look is drawn on a canvas of its own size and composited at
# its place, so that no antialiased edge reaches a neighbouring region.
button() {  # x fill stroke highlight: one 7 x 33 look at y 77 (caps 3, middle 1)
  echo "\\( -size 7x33 xc:none -fill $2 -stroke $3 -strokewidth 1 -draw \"roundrectangle 0,0 6,32 3,3\""
  echo "-stroke none -fill $4 -draw \"rectangle 2,2 4,3\" \\) -geometry +$1+77 -composite"
}
box() {  # x y fill stroke checked: a 15 x 15 check box
  local mark=""
  if [ "$5" = 1 ]; then
    mark="-fill none -stroke '#2e7d32' -strokewidth 2 -draw \"polyline 3,7 6,10 11,4\""
  fi
  echo "\\( -size 15x15 xc:none -fill $3 -stroke $4 -strokewidth 1 -draw \"roundrectangle 0,0 14,14 3,3\""
  echo "$mark \\) -geometry +$1+$2 -composite"
}
radio() {  # x y fill stroke checked: a 15 x 15 radio button
  local dot=""
  if [ "$5" = 1 ]; then
    dot="-stroke none -fill '#f08a24' -draw \"circle 7,7 7,4\""
  fi
  echo "\\( -size 15x15 xc:none -fill $3 -stroke $4 -strokewidth 1 -draw \"circle 7,7 7,1\""
  echo "$dot \\) -geometry +$1+$2 -composite"
}

draw161=(
  # Footer bar slices (1..3, 0..67): a dark vertical gradient with a lit top edge.
  "\\( -size 3x68 gradient:'#4a4a49-#262625' \\) -geometry +1+0 -composite"
  "-fill '#767675' -draw \"rectangle 1,0 3,0\""
  # Check boxes: unchecked (4,0) and hover (19,0), checked below them.
  "$(box 4 0 "'#e8e8e8'" "'#8a8a8a'" 0)" "$(box 19 0 "'#ffffff'" "'#ff982e'" 0)"
  "$(box 4 15 "'#e8e8e8'" "'#8a8a8a'" 1)" "$(box 19 15 "'#ffffff'" "'#ff982e'" 1)"
  # Note icon (5,30) and conflict row icon (20,30), 13 x 13.
  "-stroke none -fill '#ffb300' -draw \"circle 11.0,36.0 11.0,30.4\""
  "-fill white -draw \"rectangle 10,35 11,39\" -draw \"rectangle 10,32 11,33\""
  "-fill '#d84315' -draw \"circle 26.0,36.0 26.0,30.4\""
  "-fill white -draw \"rectangle 23,35 29,37\""
  # Progress track (4,44, 9 x 33): a rounded trough.
  "-fill '#1c1c1b' -stroke '#5c5c5b' -strokewidth 1 -draw \"roundrectangle 4,44 12,76 3,3\""
  # Focus ring (13,44, 15 x 15): an outline with an empty middle.
  "-fill none -stroke '#ff982e' -strokewidth 2 -draw \"roundrectangle 14,45 26,57 4,4\""
  # Progress fill (2,77, 4 x 29): an orange gradient, round at the right.
  "\\( -size 4x29 gradient:'#ffc46b-#e0600c' \\) -geometry +2+77 -composite"
  "-stroke none -fill none -draw \"point 5,77\""
  # Push buttons at y 77: disabled (6), normal (13), hover (20), pressed (27).
  "$(button 6 "'rgba(120,120,119,0.55)'" "'rgba(80,80,79,0.7)'" "'rgba(160,160,159,0.6)'")"
  "$(button 13 "'#f08a24'" "'#b85d0a'" "'#ffc27a'")"
  "$(button 20 "'#ffa94d'" "'#d0700f'" "'#ffe0b8'")"
  "$(button 27 "'#c96a10'" "'#8f4a08'" "'#e08a3a'")"
  # Failure icon (0,110, 33 x 30): a warning triangle.
  "-stroke none -fill '#e53935' -draw \"polygon 16,110 32,139 0,139\""
  "-fill white -draw \"rectangle 15,119 17,130\" -draw \"rectangle 15,133 17,135\""
  # Radio buttons: unchecked (2,140) and hover (17,140), checked below them.
  "$(radio 2 140 "'#e8e8e8'" "'#8a8a8a'" 0)" "$(radio 17 140 "'#ffffff'" "'#ff982e'" 0)"
  "$(radio 2 155 "'#e8e8e8'" "'#8a8a8a'" 1)" "$(radio 17 155 "'#ffffff'" "'#ff982e'" 1)"
  # Maker logo (34,0, 47 x 71): a four-pointed spark above a bar.
  "-stroke none -fill '#ff982e' -draw \"polygon 57,3 62,24 79,30 62,36 57,57 52,36 35,30 52,24\""
  "-fill 'rgba(255,255,255,0.85)' -draw \"roundrectangle 39,61 75,68 3,3\""
  # Uninstaller splash and notice background (33,123, 122 x 52): framed, opaque.
  "-fill '#5a5a59' -draw \"rectangle 33,123 154,174\""
  "\\( -size 120x50 gradient:'#41413f-#2a2a29' \\) -geometry +34+124 -composite"
  # Installer splash background (155,0, 414 x 175): framed picture, opaque.
  "-fill '#5a5a59' -draw \"rectangle 155,0 568,174\""
  "\\( -size 412x173 gradient:'#2d3a48-#333332' \\) -geometry +156+0 -composite"
  "-fill 'rgba(255,152,46,0.18)' -draw \"circle 470,60 470,10\" -draw \"circle 530,130 530,100\""
  "-fill 'rgba(255,255,255,0.08)' -draw \"circle 250,150 250,90\""
)

# Sheet 164: the splash picture (0,0, 400 x 130), opaque; the rest stays empty.
draw164=(
  "\\( -size 400x130 gradient:'#1f2b38-#3b2a1c' \\) -geometry +0+0 -composite"
  "-fill none -stroke 'rgba(255,152,46,0.7)' -strokewidth 3 -draw \"bezier 0,100 120,20 260,140 399,40\""
  "-stroke 'rgba(255,255,255,0.35)' -strokewidth 2 -draw \"bezier 0,115 140,50 250,150 399,70\""
  "-stroke none -fill '#ffb35c' -draw \"polygon 330,14 336,38 360,45 336,52 330,76 324,52 300,45 324,38\""
)

# Sheet 162: a small badge (not used by the window).
draw162=(
  "-fill '#f08a24' -stroke '#b85d0a' -strokewidth 1 -draw \"roundrectangle 2.5,2.5 69.5,41.5 8,8\""
  "-stroke none -fill white -draw \"polygon 36,7 39,19 51,22 39,25 36,37 33,25 21,22 33,19\""
)

sheet() {  # id size commands...
  local id=$1 size=$2
  shift 2
  local commands="$*"
  eval "convert -size $size xc:none ${commands//$'\n'/ } -depth 8 -strip '$out/skin$id.png'"
  convert "$out/skin$id.png" -flip -channel RGB -fx 'u*u.a' +channel +set comment \
    -type TrueColorAlpha -compress RLE "$out/skin$id.tga"
}

sheet 161 569x175 "${draw161[@]}"
sheet 162 72x44 "${draw162[@]}"
sheet 164 460x130 "${draw164[@]}"
echo "skins written to $out"
