#!/usr/bin/env bash
# The Windows and the Linux gifanim make the same GIF from the same BMP files, and JPEG frames of
# the same size. Needs both builds and an X display for Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux=$root/build/linux/tools/gifanim
windows=$root/build/windows/tools/gifanim.exe
run_windows() { "$root/cmake/wine-run.sh" "$windows" "$@"; }
corpus=${GIFANIM_CORPUS:-$("$root/scripts/corpus.sh")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for i in 000 001 002; do
  /usr/bin/convert "$corpus/small240/png/$i.png" -type TrueColor "BMP3:$work/$i.bmp"
done
"$linux" make -o "$work/linux.gif" --delay 10 "$work"/00?.bmp
(cd "$work" && run_windows make -o windows.gif --delay 10 000.bmp 001.bmp 002.bmp)
cmp "$work/linux.gif" "$work/windows.gif"
echo "cross check: BMP frames give byte-identical GIFs ($(stat -c %s "$work/linux.gif") bytes)"

"$linux" make -o "$work/linux-jpeg.gif" "$corpus/small240/jpg/000.jpg"
cp "$corpus/small240/jpg/000.jpg" "$work/in.jpg"
(cd "$work" && run_windows make -o windows-jpeg.gif in.jpg)
a=$(/usr/bin/identify -format '%w %h' "$work/linux-jpeg.gif")
b=$(/usr/bin/identify -format '%w %h' "$work/windows-jpeg.gif")
[ "$a" = "$b" ] || { echo "cross check: JPEG sizes differ: linux $a, windows $b" >&2; exit 1; }
echo "cross check: JPEG frames decode to the same size ($a)"
