#!/usr/bin/env bash
# gifrec.exe records the whole screen, its frame window minimised, while this script paints the X
# root window red, green, blue, yellow, magenta and cyan in turn, 700 ms each, noting the wall-clock
# time of every change. The driver (gifrec_e2e.exe, one case) kills the program halfway, starts it
# again, answers Yes in the box that offers the recording and exports it through the save dialog.
# giflib then judges recovered.gif: as many frames as the box offered, screen-sized, each one
# painted colour, the colours in the order painted from the one on screen at the first tick, delays
# of whole ticks at 5 frames per second (20). The loss is the time recorded before the kill that the
# GIF's delays do not hold, or the age at the kill of the oldest colour change it lacks, whichever
# is more: at most a second, as the journal flushes about once a second. The last line says
# "loss X ms" (bench/gifrec_kill_bench.sh reads it).
#   scripts/gifrec_recovery.sh gifrec_e2e.exe      (needs DISPLAY: run under scripts/xvfb-run.sh)
# GIFREC_E2E_RECORD_MS is how long the recording runs before the kill (3000).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
driver=$1
record_ms=${GIFREC_E2E_RECORD_MS:-3000}
colours=(255,0,0 0,255,0 0,0,255 255,255,0 255,0,255 0,255,255)
out=$(mktemp -d "${TMPDIR:-/tmp}/gifrec-recovery.XXXXXX")
painter=
cleanup() {
  [ -n "$painter" ] && kill "$painter" 2>/dev/null && wait "$painter" 2>/dev/null
  xsetroot -solid black 2>/dev/null || true
  [ -n "${KEEP_OUT:-}" ] || rm -rf "$out"  # KEEP_OUT=1 keeps the GIF for a look
}
trap cleanup EXIT
fail() { echo "gifrec recovery: $*" >&2; exit 1; }

cc -O1 -o "$out/gif_frames" "$root/tests/win32/gif_frames.c" -lgif
(
  i=0
  while :; do
    IFS=, read -r r g b <<<"${colours[i]}"
    xsetroot -solid "$(printf '#%02x%02x%02x' "$r" "$g" "$b")"
    echo "$(date +%s%3N) $i" >>"$out/painted.txt"
    i=$(((i + 1) % ${#colours[@]}))
    sleep 0.7
  done
) &
painter=$!

GIFREC_E2E_OUT="Z:$out" GIFREC_E2E_RECORD_MS=$record_ms "$root/cmake/wine-run.sh" "$driver" \
  --gtest_filter=Gifrec.AKilledRecordingIsOfferedAtTheNextStartAndExports
kill "$painter"
wait "$painter" 2>/dev/null || true
painter=

read -r offered started killed <"$out/recovered.txt" || fail "the driver wrote no recovered.txt"
# One line per frame: delay, frame size, screen size, then the nearest painted colour (or -1) at
# three points away from the pointer and the minimised frame window.
# shellcheck source=scripts/colour_frames.sh
. "$root/scripts/colour_frames.sh"
colour_frames "$out/recovered.gif" >"$out/frames.txt" ||
  fail "giflib could not read recovered.gif"

awk -v offered="$offered" -v started="$started" -v killed="$killed" '
  function bad(m) { print "gifrec recovery: " m > "/dev/stderr"; failed = 1 }
  FNR == NR { at[++painted] = $1; colour[painted] = $2; next }
  {
    if ($2 != $4 || $3 != $5) bad("frame " FNR " is " $2 "x" $3 " on a screen of " $4 "x" $5)
    if ($6 < 0 || $6 != $7 || $6 != $8) bad("frame " FNR " is not one painted colour: " $6 " " $7 " " $8)
    if ($1 % 20 != 0 || $1 < 20) bad("frame " FNR ": delay " $1 " is not whole ticks of 20")
    if (FNR == 1 || $6 != prev) shows[++runs] = $6
    prev = $6; held += $1 * 10
  }
  END {
    if (FNR != offered) bad(FNR " frames, the box offered " offered)
    # The change the first frame shows: the last one to its colour before the first tick (one
    # interval after the start) could have seen it, with a tick late.
    for (i = 1; i <= painted; i++) if (colour[i] == shows[1] && at[i] <= started + 500) first = i
    if (!first) bad("the first frame shows colour " shows[1] ", which was not on screen at the start")
    for (k = 2; k <= runs; k++) {
      i = first + k - 1
      if (i > painted || at[i] >= killed || colour[i] != shows[k]) bad("colour " k " (" shows[k] ") is not the next one painted")
    }
    loss = killed - started - held
    missing = first + runs  # the first change painted that the GIF does not show
    if (missing <= painted && at[missing] < killed && killed - at[missing] > loss) loss = killed - at[missing]
    printf "gifrec recovery: killed after %d ms, %d frames of %d colours holding %d ms, loss %d ms\n",
      killed - started, FNR, runs, held, loss
    if (loss > 1000) bad("lost " loss " ms")
    exit failed
  }' "$out/painted.txt" "$out/frames.txt" || fail "the recovered GIF is wrong"
