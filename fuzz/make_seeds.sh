#!/usr/bin/env bash
# Writes the seed corpus of reader_fuzz into OUT_DIR (emptied first): small animations made by our
# own tool (popularity and dither palettes, interlaced, comment, loop count, disposal, frames of
# different sizes), small BMP files of every depth the decoder reads, a PNG, a JPEG, and the GIF
# fixtures of tests/data. Seeds are kept small so that the fuzzer runs fast and mutates them well.
#   fuzz/make_seeds.sh GIFANIM_TOOL OUT_DIR
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 GIFANIM_TOOL OUT_DIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$1
out=$2
convert=/usr/bin/convert  # ImageMagick itself, not the stand-in earlier on PATH
[ -x "$tool" ] || { echo "make_seeds: $tool is not an executable" >&2; exit 1; }
[ -x "$convert" ] || { echo "make_seeds: $convert missing (imagemagick)" >&2; exit 1; }

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

shopt -s nullglob
for f in "$root"/tests/data/*.gif; do
    cp "$f" "$out/fixture-$(basename "$f")"
done
echo "make_seeds: $(ls "$out" | wc -l) seeds in $out"
