#!/usr/bin/env bash
# Writes the seed corpus of reader_fuzz into OUT_DIR (emptied first): small animations made by our
# own tool (popularity and dither palettes, interlaced, comment, loop count, disposal, frames of
# different sizes), GIFs of ImageMagick, gifsicle and ffmpeg with frames at varied offsets, local
# tables and every kind of extension, small BMP files of every depth the decoder reads, a PNG, a
# JPEG, and the GIF fixtures of tests/data. Seeds are kept small so that the fuzzer runs fast and mutates them well.
#   fuzz/make_seeds.sh GIFANIM_TOOL OUT_DIR
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 GIFANIM_TOOL OUT_DIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$1
out=$2
convert=/usr/bin/convert  # ImageMagick itself, not the stand-in earlier on PATH
[ -x "$tool" ] || { echo "make_seeds: $tool is not an executable" >&2; exit 1; }
[ -x "$convert" ] || { echo "make_seeds: $convert missing (imagemagick)" >&2; exit 1; }
for t in gifsicle ffmpeg python3; do
    command -v "$t" >/dev/null || { echo "make_seeds: $t missing" >&2; exit 1; }
done

rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Source pictures: screen-like flat areas and edges, a smooth gradient, and noise.
$convert -size 40x30 xc:white -fill navy -draw 'rectangle 2,2 37,8' -fill gray80 -draw 'rectangle 4,12 30,26' \
    -fill red -draw 'line 0,29 39,10' "BMP3:$work/a.bmp"
$convert -size 40x30 gradient:yellow-blue "BMP3:$work/b.bmp"
$convert -seed 1 -size 40x30 xc: +noise Random "BMP3:$work/c.bmp"
$convert -size 17x9 pattern:checkerboard "BMP3:$work/d.bmp"
$convert -seed 7 -size 33x21 plasma:fractal "BMP3:$work/e.bmp"

"$tool" make -o "$out/popularity.gif" "$work/a.bmp" "$work/b.bmp" "$work/c.bmp"
"$tool" make -o "$out/interlaced.gif" --interlace --delay 5 "$work/a.bmp" "$work/c.bmp"
"$tool" make -o "$out/dither.gif" --dither --comment "seed" --loop-count 3 --disposal 2 "$work/b.bmp" "$work/a.bmp"
"$tool" make -o "$out/single.gif" --no-loop "$work/d.bmp"
"$tool" make -o "$out/sizes.gif" --interlace --reverse "$work/e.bmp" "$work/d.bmp" "$work/a.bmp"

# The BMP decoder: 1, 4, 8, 24 and 32 bits, a top-down file, 16 and 32 bits with bit fields, and
# the old core header with and without a colour table.
$convert "$work/a.bmp" -monochrome -compress none "BMP3:$out/mono.bmp"
$convert "$work/a.bmp" -colors 16 -type palette -compress none "BMP3:$out/sixteen.bmp"
$convert "$work/b.bmp" -colors 200 -type palette -compress none "BMP3:$out/palette.bmp"
cp "$work/d.bmp" "$out/rgb24.bmp"
$convert "$work/d.bmp" -alpha on -define bmp:format=bmp4 "BMP:$out/rgba32.bmp"
$convert "$work/d.bmp" -define bmp:subtype=RGB565 "BMP:$out/rgb565.bmp"
$convert "$work/d.bmp" -flip "BMP3:$work/flip.bmp"
# Turn the height negative: the same picture stored top-down.
python3 - "$work/flip.bmp" "$out/topdown.bmp" <<'EOF'
import struct, sys
b = bytearray(open(sys.argv[1], "rb").read())
h = struct.unpack_from("<i", b, 22)[0]
struct.pack_into("<i", b, 22, -h)
open(sys.argv[2], "wb").write(b)
EOF
$convert "$work/d.bmp" -alpha on -define bmp3:alpha=true "BMP3:$out/rgbx32.bmp"
$convert "$work/d.bmp" "BMP2:$out/core.bmp"
$convert "$work/a.bmp" -colors 4 -type palette "BMP2:$out/core-palette.bmp"
$convert "$work/e.bmp" -define png:exclude-chunk=date,time "PNG:$out/picture.png"
$convert "$work/e.bmp" -quality 70 "JPEG:$out/picture.jpg"

# GIFs of other encoders with frames at offsets whose low bytes are those of block introducers
# (0xF9, 0x21, 0x2C, 0x3B): a descriptor's position bytes must never be taken for a block.
# gifsicle without extensions writes GIF87a: two frames on a 1300 x 20 screen, the second at
# 1273,12 (0x04F9); then GIF89a with a comment, a plain-text and an application extension and
# one of an unknown label (0x2A) before frames at 249, 289, 300 and 315.
$convert -size 4x4 xc:red "$work/r.gif"
$convert -size 4x4 xc:blue "$work/b.gif"
$convert -size 5x3 gradient:lime-navy -colors 4 "$work/g.gif"
gifsicle --no-extensions -S 1300x20 -p 0,0 "$work/r.gif" -p 1273,12 "$work/b.gif" -o "$out/gifsicle-87a-1273.gif"
gifsicle --no-extensions -S 320x320 -p 249,33 "$work/r.gif" -p 44,289 "$work/g.gif" -p 300,59 "$work/b.gif" \
    -o "$out/gifsicle-87a-offsets.gif"
gifsicle -S 320x64 -l -d 5 -p 249,33 "$work/r.gif" -p 289,44 -c "gifsicle comment" "$work/b.gif" \
    -p 300,59 --extension 1 "plain text" "$work/g.gif" -p 315,33 --app-extension "XMP DataXMP" "xmp" "$work/b.gif" \
    -p 59,3 --extension 42 "unknown label" -i "$work/r.gif" -o "$out/gifsicle-89a-extensions.gif"
# A plain-text extension as the format lays it out (a 12-byte grid block, then the text) after
# the global table of a GIF87a file turned GIF89a.
python3 - "$out/gifsicle-87a-1273.gif" "$out/plain-text.gif" <<'PY'
import sys
b = bytearray(open(sys.argv[1], "rb").read())
table = 3 * (2 << (b[10] & 7)) if b[10] & 0x80 else 0
text = bytes([0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0, 2]) + b"Hi" + b"\0"
b[0:6] = b"GIF89a"
b[13 + table:13 + table] = text
open(sys.argv[2], "wb").write(b)
PY
# ImageMagick: a full first frame, then frames with local tables at 1273,12 and 289,2, interlaced,
# a comment on each; and GIF87a of one frame at 249,44 on a larger page.
$convert -size 1300x20 xc:white \( -size 4x4 xc:blue -repage +1273+12 \) \
    \( -size 6x5 gradient:red-yellow -colors 8 -repage +289+2 \) -set comment "im offsets" -interlace GIF -loop 0 \
    "$out/im-offsets.gif"
$convert -size 4x4 xc:blue -repage 300x64+249+44 "GIF87:$out/im-87a.gif"
# ffmpeg crops each later frame to the box that changed: a square moving over a 340 x 340 screen
# gives frames at 249,249, 289,249, 300,289, 315,300, 59,315 and 44,44.
i=0
for xy in 249,249 289,249 300,289 315,300 330,315 59,330 44,44; do
    x=${xy%,*} y=${xy#*,}
    $convert -size 340x340 xc:black -fill red -draw "rectangle $x,$y $((x + 3)),$((y + 3))" "$work/move$i.png"
    i=$((i + 1))
done
ffmpeg -v error -y -framerate 5 -i "$work/move%d.png" "$out/ffmpeg-offsets.gif"

shopt -s nullglob
for f in "$root"/tests/data/*.gif; do
    cp "$f" "$out/fixture-$(basename "$f")"
done
echo "make_seeds: $(ls "$out" | wc -l) seeds in $out"
