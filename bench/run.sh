#!/usr/bin/env bash
# Builds the linux-release preset and runs every benchmark against its peer in the same run:
# LZW against giflib, colour reduction, the reader's decode and index against giflib, the stage
# split of `gifanim make`, and the whole make against ffmpeg. Results and a summary go to
# build/linux-release/bench-results/.
#   bench/run.sh
#   GIFANIM_CORPUS=DIR   an existing corpus (otherwise build/corpus, generated on first use, ~45 s)
#   REPS=9               Google Benchmark repetitions (interleaved at random; medians reported)
#   ROUNDS=7             rounds of make against ffmpeg
#   SPLIT_RUNS=7         runs of the make split
#   RECORDER=1           also the recorder's benchmarks (bench/recorder.sh: a private 1920x1080
#                        Xvfb, and about 3 GiB of scratch in the temporary folder, removed at the end)
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/linux-release
REPS=${REPS:-9}
ROUNDS=${ROUNDS:-7}
SPLIT_RUNS=${SPLIT_RUNS:-7}
cd "$ROOT"

"$ROOT/scripts/setup.sh"
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j 2
GIFANIM_CORPUS=$("$ROOT/scripts/corpus.sh")
export GIFANIM_CORPUS
OUT=$BUILD/bench-results
mkdir -p "$OUT"

gbench() {
    echo "== $1"
    "$BUILD/bench/$1" --benchmark_repetitions="$REPS" --benchmark_enable_random_interleaving=true \
        --benchmark_report_aggregates_only=true --benchmark_out="$OUT/$1.json" --benchmark_out_format=json
}
gbench lzw_bench
gbench reduce_bench
gbench reader_bench

echo "== make_split"
"$BUILD/bench/make_split" --runs "$SPLIT_RUNS" -o "$OUT/make_split.gif" | tee "$OUT/make_split.txt"

echo "== make_vs_ffmpeg"
ROUNDS=$ROUNDS "$ROOT/bench/make_vs_ffmpeg.sh" "$BUILD" | tee "$OUT/make_vs_ffmpeg.txt"
# The split times the same work as the tool: it must write the same file.
if cmp -s "$OUT/make_split.gif" "$OUT/make_vs_ffmpeg/gifanim.gif"; then
    echo "  make_split wrote the same bytes as gifanim make"
else
    echo "  make_split and gifanim make wrote different files" >&2
    exit 1
fi

if [ "${RECORDER:-0}" = 1 ]; then
    "$ROOT/bench/recorder.sh" "$BUILD"
fi

echo "== summary"
python3 "$ROOT/bench/summarize.py" "$OUT/lzw_bench.json" "$OUT/reduce_bench.json" "$OUT/reader_bench.json" | tee "$OUT/summary.txt"
