#!/usr/bin/env bash
# gifrec.exe under Wine killed at a random moment of a full-screen recording while the screen is
# painted a known sequence of colours, RUNS times (20). Each run is scripts/gifrec_recovery.sh with
# a random recording time from 1 to 6 s: the next start recovers the recording through the box
# (Yes), exports it, and giflib judges the frames; a run counts as recovered when that passes. The
# loss is the time recorded before the kill that the GIF's delays do not hold, or the age at the
# kill of the oldest colour change it lacks, whichever is more (all of the recording when nothing
# came back). Prints "N/RUNS recovered, worst loss X ms".
#   bench/gifrec_kill_bench.sh      (after ninja -C build/windows gifrec gifrec_e2e; SEED=n repeats a run)
# One private Xvfb for all runs; the Wine prefix is build/windows/wineprefix unless WINEPREFIX is set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ "${1:-}" = --inside ] || exec "$root/scripts/xvfb-run.sh" "$0" --inside

driver=$root/build/windows/tests/win32/gifrec_e2e.exe
[ -f "$driver" ] || { echo "no $driver; build the windows preset's gifrec_e2e first" >&2; exit 1; }
runs=${RUNS:-20}
seed=${SEED:-$$}
RANDOM=$seed
log=$(mktemp "${TMPDIR:-/tmp}/gifrec-kill-bench.XXXXXX")
trap 'rm -f "$log"' EXIT
echo "seed $seed"

recovered=0
worst=0
for run in $(seq "$runs"); do
  record_ms=$((1000 + RANDOM % 5001))
  if GIFREC_E2E_RECORD_MS=$record_ms "$root/scripts/gifrec_recovery.sh" "$driver" >"$log" 2>&1; then
    verdict=recovered
    recovered=$((recovered + 1))
  else
    verdict="NOT recovered"
  fi
  loss=$(sed -n 's/^gifrec recovery: killed after .*, loss \(-\?[0-9]*\) ms$/\1/p' "$log")
  if [ -z "$loss" ]; then
    loss=$record_ms
    grep -E 'Failure|gifrec recovery:|wine-run' "$log" | head -5 >&2 || true
  fi
  [ "$loss" -gt "$worst" ] && worst=$loss
  echo "run $run: killed after $record_ms ms, $verdict, loss $loss ms"
done
echo "$recovered/$runs recovered, worst loss $worst ms"
WINEPREFIX=${WINEPREFIX:-$root/build/windows/wineprefix} /usr/lib/wine/wineserver -w 2>/dev/null || true
