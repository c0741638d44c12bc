#!/usr/bin/env bash
# The main job: builds the tool, turns sample images into a looping GIF animation, then records a
# private X screen with a ball moving across it into a second one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc 2>/dev/null || echo 2)" --target gifanim_cli >/dev/null

samples=$root/build/samples
rm -rf "$samples"
mkdir -p "$samples"
# Twelve frames of a ball crossing a window-like scene, as BMP, JPEG and PNG.
for i in $(seq 0 11); do
  x=$((20 + i * 22))
  ext=$([ $((i % 3)) = 0 ] && echo bmp || ([ $((i % 3)) = 1 ] && echo jpg || echo png))
  /usr/bin/convert -size 320x200 gradient:'#203060-#a0c0e0' \
    -fill '#f0f0f0' -draw 'rectangle 10,10 310,40' \
    -font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf -pointsize 16 -fill '#303030' -draw "text 20,32 'frame $i'" \
    -fill '#e04020' -draw "circle $x,120 $((x + 18)),120" \
    "$( [ "$ext" = bmp ] && echo BMP3: )$samples/$(printf %02d "$i").$ext"
done

out=$root/build/sample.gif
"$root/build/linux-release/tools/gifanim" make -o "$out" --delay 8 --comment "sample animation" "$samples"/*
echo "GIF written to $out ($(stat -c %s "$out") bytes, $(ls "$samples" | wc -l) frames)"

# The same scene shown on a private X screen, one frame every 150 ms, while the recorder grabs it
# at 10 frames per second for three seconds.
recording=$root/build/recording.gif
GIFANIM_XVFB_SCREEN=640x480x24 "$root/scripts/xvfb-run.sh" bash -c '
  samples=$1 tool=$2 out=$3
  (for round in 1 2 3; do
     for f in "$samples"/*; do /usr/bin/display -window root "$f" || true; sleep 0.15; done
   done) &
  painter=$!
  "$tool" record -o "$out" --rect 0,0,320,200 --fps 10 --seconds 3
  status=$?
  kill "$painter" 2>/dev/null || true
  wait "$painter" 2>/dev/null || true
  exit $status' _ "$samples" "$root/build/linux-release/tools/gifanim" "$recording"
echo "Screen recording written to $recording"
