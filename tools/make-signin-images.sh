#!/bin/sh
# Draws the two pictures of the sign-in dialogs (ImageMagick 6 "convert"),
# then stores them without PNG row filters (optipng): decoding the Paeth
# and Up filters took more than half of the login picture's decoding, which
# every start waits for, and the files come out smaller as well. The PNGs
# are committed; run this again only to change them.
set -eu
out="$(dirname "$0")/../signin/images"
mkdir -p "$out"

# Login cover, 380 x 183: a dark ledger page with ruled lines, a red margin
# and two brass keys where the login panel leaves the picture visible.
convert -size 380x183 gradient:'#16243f-#04060b' \
    -stroke '#1d314e' -strokewidth 1 \
    -draw 'line 0,20 380,20' -draw 'line 0,32 380,32' -draw 'line 0,44 380,44' \
    -draw 'line 0,56 380,56' -draw 'line 0,68 380,68' -draw 'line 0,80 380,80' \
    -draw 'line 0,92 380,92' -draw 'line 0,104 380,104' -draw 'line 0,116 380,116' \
    -draw 'line 0,128 380,128' -draw 'line 0,140 380,140' -draw 'line 0,152 380,152' \
    -draw 'line 0,164 380,164' -draw 'line 0,176 380,176' \
    -stroke '#5c1c1c' -draw 'line 64,0 64,183' -draw 'line 67,0 67,183' \
    -stroke '#6b5222' -strokewidth 2 -fill '#b38f3c' \
    -draw 'circle 34,42 34,24' \
    -draw 'rectangle 31,58 37,156' \
    -draw 'rectangle 37,132 50,138' -draw 'rectangle 37,144 46,150' \
    -fill '#0b1120' -draw 'circle 34,42 34,34' \
    -stroke '#4a3b1a' -strokewidth 1 -fill '#75612f' \
    -draw 'circle 342,28 342,16' \
    -draw 'rectangle 262,26 330,31' \
    -draw 'rectangle 266,31 271,39' -draw 'rectangle 276,31 280,36' \
    -fill '#0b1120' -draw 'circle 342,28 342,23' \
    -type TrueColor -strip PNG24:"$out/cover.png"

# First-use picture, 89 x 110: a person's silhouette with a new key.
convert -size 89x110 gradient:'#2b4068-#0c1322' \
    -stroke none -fill '#c7cedb' \
    -draw 'circle 40,38 40,22' \
    -draw 'ellipse 40,104 33,30 180,360' \
    -stroke '#6b5222' -strokewidth 1 -fill '#d1aa4a' \
    -draw 'circle 70,70 70,61' \
    -draw 'rectangle 68,79 72,104' \
    -draw 'rectangle 72,92 78,95' -draw 'rectangle 72,99 76,102' \
    -fill '#1a2640' -draw 'circle 70,70 70,66' \
    -type TrueColor -strip PNG24:"$out/newuser.png"

# Lossless: the same pixels, only stored unfiltered and recompressed.
optipng -quiet -f0 -zc9 -zm8 -zs0,1,2,3 -nc -nb -strip all "$out/cover.png" "$out/newuser.png"
