#!/usr/bin/env bash
# Fitting under a size and the size estimate, on the JPEG frames of seq720 (the corpus, 60 frames
# of 1280x720) and of xrec (xterm and xclock on Xvfb, 80 frames of 1024x768, as
# bench/optimize_vs_peers.sh records them): for `gifanim make --delay 10` as asked (plain, and
# --optimize), --max-size 1MB, 5MB and 10MB, each GIF's size against the limit, what was given
# up and the wall time against one optimized export (the two timed alternately); then --estimate
# against the size written, and its time against the export's. Medians of ROUNDS (default 3).
#   bench/shape_bench.sh [BUILD_DIR]     (default build/linux-release)
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/linux-release}" && pwd)
TOOL=$BUILD/tools/gifanim
ROUNDS=${ROUNDS:-3}
[ -x "$TOOL" ] || { echo "no $TOOL; build the linux-release preset first" >&2; exit 1; }
CORPUS=${GIFANIM_CORPUS:-$("$ROOT/scripts/corpus.sh")}
XREC=$BUILD/bench-results/optimize_vs_peers/inputs/xrec/jpg
if [ ! -d "$XREC" ]; then
  SETS=xrec TABLES=jpeg ROUNDS=1 "$ROOT/bench/optimize_vs_peers.sh" "$BUILD" >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Wall seconds of one run of the command, its stdout in $work/out.txt. The clock is bash's own: a
# `date` around the command would add the start of a process to the time.
wall_of() {
  local t0 t1
  t0=$EPOCHREALTIME
  "$@" >"$work/out.txt"
  t1=$EPOCHREALTIME
  echo "$t1 - $t0" | bc
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf '%-7s %-10s %-8s %10s %7s %8s %6s  %s\n' set mode limit bytes "%limit" "wall s" "x exp" "given up"
for set in seq720 xrec; do
  case $set in
    seq720) frames=("$CORPUS"/seq720/jpg/*.jpg) ;;
    xrec) frames=("$XREC"/*.jpg) ;;
  esac
  for mode in plain optimize; do
    flags=()
    [ $mode = optimize ] && flags=(--optimize)
    # The export as asked and its estimate one after the other in every round, so that the
    # machine's slower and faster spells fall on both alike.
    asked_times=() est_times=()
    for _ in $(seq "$ROUNDS"); do
      asked_times+=("$(wall_of "$TOOL" make --delay 10 "${flags[@]}" -o "$work/asked.gif" "${frames[@]}")")
      est_times+=("$(wall_of "$TOOL" make --delay 10 "${flags[@]}" --estimate -o "$work/e.gif" "${frames[@]}")")
    done
    asked_s=$(median "${asked_times[@]}")
    est_s=$(median "${est_times[@]}")
    asked=$(stat -c %s "$work/asked.gif")
    est=$(awk '{print $2}' "$work/out.txt")
    printf '%-7s %-10s %-8s %10s %7s %8.3f %6s  estimate %s (%+.1f%%), %.1f%% of the export time\n' "$set" "$mode" - \
      "$asked" - "$asked_s" - "$est" "$(echo "($est - $asked) * 100 / $asked" | bc -l)" \
      "$(echo "$est_s * 100 / $asked_s" | bc -l)"
    for limit in 1MB 5MB 10MB; do
      bytes_limit=$(( ${limit%MB} * 1000000 ))
      # The fit and one optimized export one after the other in every round, as for the estimate:
      # a slower spell of the machine during the exports alone would make the fits look cheap.
      fit_times=() export_times=()
      for _ in $(seq "$ROUNDS"); do
        export_times+=("$(wall_of "$TOOL" make --delay 10 --optimize -o "$work/ref.gif" "${frames[@]}")")
        rm -f "$work/fit.gif"
        fit_times+=("$(wall_of "$TOOL" make --delay 10 "${flags[@]}" --max-size "$limit" -o "$work/fit.gif" "${frames[@]}" || true)")
      done
      fit_s=$(median "${fit_times[@]}")
      export_s=$(median "${export_times[@]}")
      if [ -f "$work/fit.gif" ]; then
        bytes=$(stat -c %s "$work/fit.gif")
        printf '%-7s %-10s %-8s %10s %6.1f%% %8.3f %6.2f  %s\n' "$set" "$mode" "$limit" "$bytes" \
          "$(echo "$bytes * 100 / $bytes_limit" | bc -l)" "$fit_s" "$(echo "$fit_s / $export_s" | bc -l)" \
          "$(cat "$work/out.txt")"
      else
        printf '%-7s %-10s %-8s %10s\n' "$set" "$mode" "$limit" "not met"
      fi
    done
  done
done
echo "x exp: the fit's wall time over one optimized export of the same frames"
