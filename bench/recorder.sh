#!/usr/bin/env bash
# The recorder's benchmarks, medians printed: one CaptureTick of a 1920x1080 screen, changing and
# still (tick_bench on a private Xvfb), `gifanim record` of a changing screen (record_bench.sh),
# and ten minutes of recording replayed through the session with the export against ffmpeg
# (long_recording). Results go to BUILD_DIR/bench-results/.
#   bench/recorder.sh [BUILD_DIR]     (default build/linux-release, built already)
#   REPS=9            tick_bench repetitions
#   RUNS=3            record_bench recordings
#   LONG_FRAMES=900   frames long_recording exports with each of ExportFrames and ffmpeg (all 9000
#                     take several minutes each and hold a GIF of gigabytes in memory)
#   LONG_ROUNDS=1     exports of each
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/linux-release}" && pwd)
REPS=${REPS:-9}
GIFANIM_CORPUS=$("$ROOT/scripts/corpus.sh")
export GIFANIM_CORPUS
OUT=$BUILD/bench-results
mkdir -p "$OUT"
for program in tick_bench long_recording screen_painter; do
    [ -x "$BUILD/bench/$program" ] || { echo "no $BUILD/bench/$program; build the linux-release preset" >&2; exit 1; }
done

echo "== tick_bench ($REPS repetitions, medians; Time is wall, CPU this process's, xserver_cpu_ms the Xvfb's)"
GIFANIM_XVFB_SCREEN=1920x1080x24 "$ROOT/scripts/xvfb-run.sh" "$BUILD/bench/tick_bench" \
    --benchmark_repetitions="$REPS" --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_out="$OUT/tick_bench.json" \
    --benchmark_out_format=json | tee "$OUT/tick_bench.txt" | grep -E '^(Benchmark|-+$|.*_median)'

echo "== record_bench"
"$ROOT/bench/record_bench.sh" "$BUILD" | tee "$OUT/record_bench.txt"

echo "== long_recording --frames ${LONG_FRAMES:-900} --rounds ${LONG_ROUNDS:-1}"
"$BUILD/bench/long_recording" --frames "${LONG_FRAMES:-900}" --rounds "${LONG_ROUNDS:-1}" |
    tee "$OUT/long_recording.txt"
