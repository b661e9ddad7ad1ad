#!/usr/bin/env bash
# Draws the program's artwork with ImageMagick: the 64 x 64 picture of the main window
# (download.jpg), the window icon (icon.jpg, 32 x 32) and the Windows program's icon
# (download.ico, 16, 24, 32 and 48 pixels). The results are committed and
# embedded in the binary at build time; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")"

draw() { # size file
    local s=$1 k
    k=$(echo "scale=4; $s/64" | bc)
    convert -size "${s}x${s}" xc:white \
        -fill '#1f6fc5' -stroke '#174f8c' -strokewidth "$(echo "2*$k" | bc)" \
        -draw "circle $(echo "32*$k" | bc),$(echo "28*$k" | bc) $(echo "32*$k" | bc),$(echo "5*$k" | bc)" \
        -fill white -stroke none \
        -draw "polygon $(echo "26*$k" | bc),$(echo "12*$k" | bc) $(echo "38*$k" | bc),$(echo "12*$k" | bc) $(echo "38*$k" | bc),$(echo "27*$k" | bc) $(echo "46*$k" | bc),$(echo "27*$k" | bc) $(echo "32*$k" | bc),$(echo "43*$k" | bc) $(echo "18*$k" | bc),$(echo "27*$k" | bc) $(echo "26*$k" | bc),$(echo "27*$k" | bc)" \
        -fill '#3a3a3a' \
        -draw "rectangle $(echo "12*$k" | bc),$(echo "54*$k" | bc) $(echo "52*$k" | bc),$(echo "59*$k" | bc)" \
        -draw "rectangle $(echo "12*$k" | bc),$(echo "47*$k" | bc) $(echo "16*$k" | bc),$(echo "59*$k" | bc)" \
        -draw "rectangle $(echo "48*$k" | bc),$(echo "47*$k" | bc) $(echo "52*$k" | bc),$(echo "59*$k" | bc)" \
        -strip -quality 92 -sampling-factor 1x1 "$2"
}

draw 64 download.jpg
draw 32 icon.jpg
icons=$(mktemp -d)
trap 'rm -rf "$icons"' EXIT
for size in 16 24 32 48; do
    draw "$size" "$icons/$size.png"
done
convert "$icons/16.png" "$icons/24.png" "$icons/32.png" "$icons/48.png" download.ico
