#!/usr/bin/env bash
# gifrec.exe records the whole screen with its frame window minimised while this script paints
# the X root window red, green, blue, yellow, magenta and cyan in turn, 700 ms each. The driver
# (gifrec_e2e.exe, one case) exports the recording forwards and in reverse through the save
# dialog; giflib then judges both GIFs: screen-sized frames, the colours in the painted order
# (reversed in reverse), and delays of whole ticks at 5 frames per second (20) that add up to the
# recording, each colour lasting its 700 ms. The driver also plays the recording in the preview,
# deletes frame 2 in the editor and exports again: that GIF must be the first without frame 2.
# Before that, a 1 s recording of the frame window's panel is exported and checked for its frames'
# count, size and delays. Then a second full-screen recording is exported plain and with 优化体积
# checked: the optimized GIF must be smaller, show the plain one's pictures at every moment (within
# 24 per colour channel but for JPEG noise, see below) and last as long. Last, a third one is
# exported plain and with 导出选项 缩放 50 % and 速度 2×: half the size, half the delays, the same
# colours in the same order.
#   scripts/gifrec_colours.sh gifrec_e2e.exe      (needs DISPLAY: run under scripts/xvfb-run.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
driver=$1
record_ms=3000
colours=(255,0,0 0,255,0 0,0,255 255,255,0 255,0,255 0,255,255)
out=$(mktemp -d "${TMPDIR:-/tmp}/gifrec-colours.XXXXXX")
painter=
cleanup() {
  [ -n "$painter" ] && kill "$painter" 2>/dev/null && wait "$painter" 2>/dev/null
  xsetroot -solid black 2>/dev/null || true
  [ -n "${KEEP_OUT:-}" ] || rm -rf "$out"  # KEEP_OUT=1 keeps the GIFs for a look
}
trap cleanup EXIT

(
  while :; do
    for c in "${colours[@]}"; do
      IFS=, read -r r g b <<<"$c"
      xsetroot -solid "$(printf '#%02x%02x%02x' "$r" "$g" "$b")"
      sleep 0.7
    done
  done
) &
painter=$!

GIFREC_E2E_OUT="Z:$out" GIFREC_E2E_RECORD_MS=$record_ms "$root/cmake/wine-run.sh" "$driver" \
  --gtest_filter=Gifrec.ExportsThroughTheSaveDialog:Gifrec.FullScreenRecordingExportsForwardsAndInReverse:Gifrec.OptimizeSizeIsStoredAndEverySaveWritesTheOptimizedGif:Gifrec.ExportOptionsShapeTheSavedGif
kill "$painter"
wait "$painter" 2>/dev/null || true
painter=

# giflib judges the GIFs: one line per frame with its delay, frame size, screen size, a checksum of
# the picture shown, and three sampled pixels away from the pointer (which the recording draws) and
# from the frame window's place, each as the index of the nearest painted colour or -1.
cc -O1 -o "$out/gif_frames" "$root/tests/win32/gif_frames.c" -lgif
# shellcheck source=scripts/colour_frames.sh
. "$root/scripts/colour_frames.sh"
frames() {
  # shellcheck disable=SC2086  # the points are words
  colour_frames "$1" ${sample_points:-}
}
fail() { echo "gifrec colours: $*" >&2; exit 1; }

frames "$out/forward.gif" >"$out/forward.txt"
frames "$out/reverse.gif" >"$out/reverse.txt"
echo "forward frames (delay, size, screen, colours, checksum):"
cat "$out/forward.txt"

count=$(wc -l <"$out/forward.txt")
[ "$count" -ge 3 ] || fail "only $count frames"
# Under Wine without a window manager the minimised frame window is a small title bar at the
# screen's foot, and its caption changes every tick, so no two ticks read the same screen and
# still colours are not merged into one frame: a colour is a run of frames here.
awk -v n="${#colours[@]}" -v record_ms=$record_ms '
  function bad(m) { print "gifrec colours: frame " NR ": " m > "/dev/stderr"; failed = 1 }
  function end_run() {
    # Each colour is on screen 700 ms: three or four ticks, one more or less where a tick ran late.
    if (runs > 1 && (run < 40 || run > 100)) bad("colour " prev " lasted " run "0 ms")
  }
  {
    if ($2 != $4 || $3 != $5) bad("frame " $2 "x" $3 " on a screen of " $4 "x" $5)
    if ($6 < 0 || $6 != $7 || $6 != $8) bad("not one painted colour: " $6 " " $7 " " $8)
    if ($1 % 20 != 0 || $1 < 20) bad("delay " $1 " is not whole ticks of 20")
    if (NR == 1 || $6 != prev) {
      if (NR > 1) end_run()
      if (NR > 1 && $6 != (prev + 1) % n) bad("colour " $6 " after " prev)
      runs++; run = 0
    }
    prev = $6; run += $1; total += $1
  }
  END {
    # The delays add up to the recorded time within two ticks.
    if (total * 10 < record_ms - 400 || total * 10 > record_ms + 400) bad("delays add up to " total "0 ms")
    if (runs < 3) bad("only " runs " colours in " record_ms " ms")
    exit failed
  }' "$out/forward.txt" || fail "forward GIF is wrong"
# Reverse: the same frames, last first.
tac "$out/forward.txt" | cmp -s - "$out/reverse.txt" || {
  diff <(tac "$out/forward.txt") "$out/reverse.txt" >&2 || true
  fail "the reverse GIF is not the forward one backwards"
}
# The editor deleted frame 2 and saved: the next export is the first one without that frame.
sed 2d "$out/forward.txt" | cmp -s - <(frames "$out/edited.gif") || fail "the edited export is not the recording without frame 2"
# The window-mode recording (1 s) covers the capture panel. What the panel lets through depends on
# how Wine emulates the colour key, so only the frames are judged: every one the panel's size, as
# many frames as the frame window counted, delays of whole ticks adding up to the recording. When
# the panel read the same at every tick there is one frame, and a GIF of one frame carries no delay
# (the maker writes the graphic control blocks and the loop only for two frames or more).
read -r panel_w panel_h panel_frames <"$out/window.txt"
frames "$out/window.gif" | awk -v w="$panel_w" -v h="$panel_h" -v n="$panel_frames" '
  function bad(m) { print "gifrec colours: window.gif: " m > "/dev/stderr"; failed = 1 }
  {
    if ($2 != w || $3 != h || $4 != w || $5 != h) bad("frame " NR " is " $2 "x" $3 " on " $4 "x" $5 ", not " w "x" h)
    delay[NR] = $1
    total += $1
  }
  END {
    if (NR != n) bad(NR " frames, the frame window counted " n)
    if (NR >= 2) {
      for (i = 1; i <= NR; i++) if (delay[i] % 20 != 0 || delay[i] < 20) bad("frame " i ": delay " delay[i] " is not whole ticks of 20")
      if (total < 60 || total > 140) bad("delays add up to " total "0 ms for a 1 s recording")
    }
    exit failed
  }' || fail "the window-mode GIF is wrong"
echo "gifrec colours: $count frames, forwards and in reverse, as painted; after the edit $((count - 1)) in order;" \
  "window mode: $panel_frames frames of ${panel_w}x$panel_h"

# 优化体积: giflib plays both GIFs side by side and measures, at every moment where either shows a
# new frame, how far apart the pictures are. Most of the screen is flat painted colour, on which the
# plain export is off by its dropped low four bits and the optimizer by its own bound: within 24 per
# channel. JPEG noise around the pointer and the minimised window's caption is another matter: each
# export maps those rare colours to the nearest in its table (popularity palette, median cut), so
# both stray far from the recorded frames there. Measured against the frames themselves, the plain
# export is more than 24 off at up to 0.07% of the screen (by up to about 90), the optimized one at
# up to 0.05%, so the two may disagree there. So: at most 0.1% of the screen beyond 24, and nowhere
# beyond 128, which a region showing the wrong frame, a shifted rectangle or a lost transparency
# would pass (painted colours differ by 255, the caption's text from its bar by more than 128).
cc -O1 -o "$out/gif_compare" "$root/tests/win32/gif_compare.c" -lgif
"$out/gif_compare" "$out/plain.gif" "$out/optimized.gif" 24 >"$out/compare.txt" || fail "gif_compare could not read the GIFs"
plain_bytes=$(stat -c %s "$out/plain.gif")
optimized_bytes=$(stat -c %s "$out/optimized.gif")
read -r _ plain_cs optimized_cs _ plain_frames optimized_frames _ pixels _ largest _ largest_at _ most_over _ most_over_at \
  < <(grep '^total ' "$out/compare.txt")
echo "gifrec colours: 优化体积: plain $plain_bytes bytes in $plain_frames frames, optimized $optimized_bytes bytes in" \
  "$optimized_frames frames, both ${plain_cs}0 ms; over $(grep -c '^moment ' "$out/compare.txt") moments the largest" \
  "channel difference $largest (at $((largest_at * 10)) ms), at most $most_over pixels beyond 24 (at $((most_over_at * 10)) ms)"
awk -v allowed=$((pixels / 1000)) -v ceiling=128 '
  function bad(m) { print "gifrec colours: optimized.gif: " m > "/dev/stderr"; failed = 1 }
  $1 == "moment" && ($5 > ceiling || $7 > allowed) {
    bad("at " $2 * 10 " ms (frame " $3 " of plain.gif, " $4 " of optimized.gif) " $7 " pixels differ by more than 24, by " $5 " at " $6)
  }
  $1 == "total" && $2 != $3 { bad("lasts " $3 * 10 " ms, plain.gif " $2 * 10 " ms") }
  END { exit failed }' "$out/compare.txt" || fail "the optimized GIF does not show the plain one's pictures"
[ "$optimized_bytes" -lt "$plain_bytes" ] ||
  fail "the optimized GIF ($optimized_bytes bytes) is not smaller than the plain one ($plain_bytes)"

# 导出选项 缩放 50 % and 速度 2×: every frame half the plain export's size, each delay half its
# delay, and at the same places of the picture (half the coordinates) the same painted colours.
frames "$out/unshaped.gif" >"$out/unshaped.txt"
sample_points="600,30 30,480 600,480" frames "$out/shaped.gif" >"$out/shaped.txt"
awk '
  function bad(m) { print "gifrec colours: shaped.gif: " m > "/dev/stderr"; failed = 1 }
  NR == FNR { plain[FNR] = $0; n = FNR; next }
  {
    split(plain[FNR], p, " ")
    if ($2 * 2 != p[2] || $3 * 2 != p[3] || $4 != $2 || $5 != $3) bad("frame " FNR " is " $2 "x" $3 " on " $4 "x" $5 ", the plain one " p[2] "x" p[3])
    if ($1 * 2 != p[1]) bad("frame " FNR ": delay " $1 ", the plain one " p[1])
    if ($6 != p[6] || $7 != p[7] || $8 != p[8]) bad("frame " FNR " shows colours " $6 " " $7 " " $8 ", the plain one " p[6] " " p[7] " " p[8])
  }
  END {
    if (FNR != n) bad(FNR " frames, the plain export " n)
    if (n < 3) bad("only " n " frames")
    exit failed
  }' "$out/unshaped.txt" "$out/shaped.txt" || fail "the export with 缩放 50% and 速度 2x is wrong"
echo "gifrec colours: 导出选项 缩放 50% 速度 2x: $(wc -l <"$out/shaped.txt") frames of half the size and half the delay"
