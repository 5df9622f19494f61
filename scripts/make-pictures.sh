#!/usr/bin/env bash
# Draws the two pictures of the program with ImageMagick and writes them as JPEGs:
#   src/window/pictures/about.jpg  the about dialog's, 360 by 220, progressive
#   src/window/pictures/wait.jpg   the search's wait window's, 200 by 85, baseline
# The JPEGs are kept in the tree, so the build needs no ImageMagick; run this only to redraw them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/src/window/pictures"
convert="${CONVERT:-convert}"
bold="DejaVu-Sans-Bold"
plain="DejaVu-Sans"

# A quern is a hand mill: two round stones, the upper one turned by a peg. The about picture shows
# one from above on warm paper, the name beside it; the dialog writes its version and mail labels
# on the light part below the name, so that part stays plain.
"$convert" -size 360x220 gradient:'#fbf7ef'-'#e3d8c6' \
    -fill '#d2c6b2' -stroke none -draw "rectangle 0,150 360,153" \
    -fill '#8d8477' -stroke '#5e574d' -strokewidth 2 -draw "circle 300,56 300,12" \
    -fill '#a79d8f' -stroke '#6e665b' -strokewidth 2 -draw "circle 300,56 300,19" \
    -stroke '#7b7266' -strokewidth 1 \
    -draw "line 300,56 300,21" -draw "line 300,56 333,45" -draw "line 300,56 320,85" \
    -draw "line 300,56 280,85" -draw "line 300,56 267,45" \
    -fill '#5e574d' -stroke '#3f3a33' -draw "circle 300,56 300,47" \
    -fill '#b07a3c' -stroke '#6b4a24' -strokewidth 2 -draw "roundrectangle 324,26 332,34 2,2" \
    -stroke none -fill '#3d2f22' -font "$bold" -pointsize 40 -annotate +22+52 'Quern' \
    -fill '#6b5a48' -font "$plain" -pointsize 11 -annotate +24+168 'editor and backup tool for the registry' \
    -fill '#8a7a66' -pointsize 9 -annotate +24+184 'grinds the registry fine, keeps what it grinds' \
    -strip -sampling-factor 2x2 -quality 90 -interlace JPEG "$out/about.jpg"

# The wait picture: the millstone small, beside a column of key folders with a lens over them.
"$convert" -size 200x85 xc:'#d8d0c8' \
    -fill '#8d8477' -stroke '#5e574d' -strokewidth 2 -draw "circle 34,42 34,12" \
    -fill '#a79d8f' -stroke '#6e665b' -strokewidth 1 -draw "circle 34,42 34,18" \
    -fill '#5e574d' -stroke '#3f3a33' -draw "circle 34,42 34,36" \
    -stroke none -fill '#e2b64a' \
    -draw "rectangle 84,16 100,27" -draw "rectangle 96,36 112,47" -draw "rectangle 96,56 112,67" \
    -fill '#c8982c' -draw "rectangle 84,14 91,16" -draw "rectangle 96,34 103,36" -draw "rectangle 96,54 103,56" \
    -stroke '#6e665b' -strokewidth 1 -draw "line 79,22 84,22" -draw "line 79,22 79,62" \
    -draw "line 79,42 96,42" -draw "line 79,62 96,62" \
    -fill '#3d2f22' -stroke none -font "$plain" -pointsize 9 \
    -annotate +104+26 'Software' -annotate +116+45 'Classes' -annotate +116+65 'Wine' \
    -fill none -stroke '#3d2f22' -strokewidth 3 -draw "circle 150,44 150,30" \
    -strokewidth 5 -draw "line 160,54 176,70" \
    -strip -sampling-factor 2x2 -quality 90 -interlace none "$out/wait.jpg"

identify "$out/about.jpg" "$out/wait.jpg"
