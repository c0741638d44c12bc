#!/usr/bin/env bash
# Regenerates the GIFs written by other encoders that the reader tests load (see README.md here).
# The files are committed; run this only to change them. Needs ImageMagick, gifsicle and ffmpeg
# (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")"
convert=/usr/bin/convert  # a stand-in `convert` may shadow ImageMagick's on these machines

# Three full frames remapped onto one fixed palette: a global table only, a comment per frame.
$convert -loop 0 -size 64x48 gradient:red-blue -set delay 10 \
  \( +clone -fill yellow -draw "rectangle 5,5 20,20" -set delay 20 \) \
  \( +clone -fill green -draw "circle 40,24 50,30" -set delay 35 -set dispose Background \) \
  -dither None -remap netscape: -set comment "three frames" im_global.gif

# Interlaced, with a height that is not a multiple of 8 so that every pass ends early.
$convert -loop 2 -delay 7 -size 64x45 \
  gradient:navy-orange \( +clone -fill white -draw "rectangle 10,3 50,40" \) \
  -interlace GIF im_interlaced.gif

# A local table per later frame, of 2 and 8 entries, the last frame a smaller rectangle inside
# the screen.
$convert -loop 0 -delay 10 -size 64x48 gradient:red-blue -colors 64 \
  -delay 25 -dispose Background \( -size 64x48 gradient:green-yellow -colors 2 \) \
  -delay 40 -dispose Previous \( -size 30x20 gradient:white-black -colors 16 -repage 64x48+10+8 \) \
  im_local.gif

# gifsicle's optimiser: 16 colours, later frames cropped to what changed, with transparency.
gifsicle --colors 16 -O2 im_global.gif -o gifsicle_o2.gif 2>/dev/null
# gifsicle interlacing the GIF with local tables and an offset frame (it merges them into one
# global table).
gifsicle -i im_local.gif -o gifsicle_interlaced.gif

# ffmpeg's own palette, then palettegen/paletteuse; both crop later frames to what changed.
ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=5 -frames:v 3 ffmpeg_testsrc.gif
ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=5:duration=0.6 \
  -lavfi "split[a][b];[a]palettegen=max_colors=32[p];[b][p]paletteuse=dither=bayer" ffmpeg_palette.gif

ls -l ./*.gif
