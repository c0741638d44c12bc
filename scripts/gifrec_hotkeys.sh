#!/usr/bin/env bash
# gifrec.exe records the whole screen, driven by its hotkeys, while the driver (gifrec_e2e.exe,
# two cases) pauses one recording and holds a mouse button down during another; giflib then judges
# the exported GIFs:
#   pause.gif  the delays add up to the time recorded with the pauses left out (pause.txt, in ms):
#              at most two ticks (at 5 frames per second) more, so that either pause (1.5 s each)
#              in any delay shows, and at most three ticks less, since a tick that comes late
#              under a busy Wine still stores one interval;
#   click.gif  while the button was down a frame shows the left button's ring colour all round the
#              pointer (click.txt: its x and y), 16 pixels out; before the press and after the
#              release no frame does.
#   scripts/gifrec_hotkeys.sh gifrec_e2e.exe      (needs DISPLAY: run under scripts/xvfb-run.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
driver=$1
out=$(mktemp -d "${TMPDIR:-/tmp}/gifrec-hotkeys.XXXXXX")
cleanup() { [ -n "${KEEP_OUT:-}" ] || rm -rf "$out"; }
trap cleanup EXIT
fail() { echo "gifrec hotkeys: $*" >&2; exit 1; }

xsetroot -solid black
GIFREC_E2E_OUT="Z:$out" "$root/cmake/wine-run.sh" "$driver" \
  --gtest_filter=Gifrec.PauseKeyLeavesThePauseOutOfTheDelays:Gifrec.AHeldClickShowsAsARingAroundThePointer

cc -O1 -o "$out/gif_frames" "$root/tests/win32/gif_frames.c" -lgif

read -r recorded_ms < <(tr -d "\r" <"$out/pause.txt")
"$out/gif_frames" "$out/pause.gif" | awk -v recorded="$recorded_ms" '
  { total += $1 }
  END {
    printf "gifrec hotkeys: pause.gif: %d frames, delays %d0 ms, recorded %d ms\n", NR, total, recorded
    if (NR < 5) { print "gifrec hotkeys: only " NR " frames" > "/dev/stderr"; exit 1 }
    if (total * 10 < recorded - 600 || total * 10 > recorded + 400) {
      print "gifrec hotkeys: the delays add up to " total "0 ms, not the " recorded " ms recorded" > "/dev/stderr"
      exit 1
    }
  }' || fail "pause.gif holds the pause"

read -r x y < <(tr -d "\r" <"$out/click.txt")
# Ring colour 255,196,0 within 60 per channel (JPEG blurs a ring 4 pixels wide) at the four points.
"$out/gif_frames" "$out/click.gif" "$((x - 16)),$y" "$x,$((y - 16))" "$((x + 16)),$y" "$x,$((y + 16))" | awk '
  function ring(rgb,   c) {
    split(rgb, c, ",")
    return (c[1] > 195 && c[2] > 136 && c[2] < 256 && c[3] < 60)
  }
  {
    n = ring($7) + ring($8) + ring($9) + ring($10)
    state[NR] = n == 4 ? "ring" : n == 0 ? "none" : "part"
    printf "gifrec hotkeys: click.gif frame %d: delay %d, %s (%s %s %s %s)\n", NR, $1, state[NR], $7, $8, $9, $10
  }
  END {
    rings = 0
    for (i = 1; i <= NR; i++) if (state[i] == "ring") rings++
    if (NR < 3 || state[1] != "none" || state[NR] != "none" || rings == 0) {
      print "gifrec hotkeys: no ring while the button was down, or one without it" > "/dev/stderr"
      exit 1
    }
  }' || fail "click.gif does not show the click"
echo "gifrec hotkeys: the pause is in no delay; the held click shows as a ring"
