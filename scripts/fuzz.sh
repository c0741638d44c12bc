#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, ASan + UBSan) and runs reader_fuzz for SECONDS
# (default 60) from seeds made by fuzz/make_seeds.sh, then optimizer_fuzz, shaping_fuzz and
# recovery_fuzz for half as long each. The corpora grow in BUILD/fuzz/corpus and
# BUILD/fuzz/TARGET_corpus from run to run; crashing inputs land in BUILD/fuzz/artifacts/. Fails
# on any crash, leak, timeout, out-of-memory or sanitizer report. BUILD is build/fuzz, or
# GIFANIM_FUZZ_BUILD_DIR when set.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
cd "$root"
"$root/scripts/setup.sh"

build=${GIFANIM_FUZZ_BUILD_DIR:-$root/build/fuzz}
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j 2

work=$build/fuzz
"$root/fuzz/make_seeds.sh" "$build/tools/gifanim" "$work/seeds"
# libFuzzer writes new inputs into the first folder: a copy, so that the seeds stay as made.
mkdir -p "$work/corpus" "$work/optimizer_corpus" "$work/shaping_corpus" "$work/recovery_corpus" "$work/artifacts"
cp -f "$work/seeds"/* "$work/corpus"/

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
"$work/reader_fuzz" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus"
for target in optimizer shaping recovery; do
    "$work/${target}_fuzz" -max_total_time="$(( (seconds + 1) / 2 ))" -rss_limit_mb=2048 -timeout=30 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/${target}_corpus"
done
