#!/usr/bin/env bash
# Builds every preset and runs every test: Linux natively (debug, ASan+UBSan, the maker and reader
# tests under ThreadSanitizer), the release build, two and a half minutes of fuzzing, and the
# Windows build under Wine on a private Xvfb. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh"
corpus=$("$root/scripts/corpus.sh")
export GIFANIM_CORPUS=$corpus

jobs=$(nproc 2>/dev/null || echo 2)
step() { printf '\n== %s\n' "$*"; }

# linux-tsan builds and runs only the maker, reader, spill file, session, export and thumbnail tests (its build and test presets say which).
for preset in linux linux-asan linux-tsan linux-release; do
  step "build $preset"
  cmake --preset "$preset" -DGIFANIM_CORPUS_DIR="$corpus" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  step "test $preset"
  ctest --preset "$preset" -j "$jobs"
done

step "fuzz reader_fuzz for 60 s and optimizer_fuzz, shaping_fuzz and recovery_fuzz for 30 s each (clang, libFuzzer, ASan + UBSan)"
"$root/scripts/fuzz.sh" 60

step "build windows"
cmake --preset windows -DGIFANIM_CORPUS_DIR="$corpus" >/dev/null
cmake --build --preset windows -j "$jobs"
step "test windows (Wine)"
# One Wine server and prefix for the whole run; test programs run one after another.
"$root/scripts/xvfb-run.sh" bash -c '
  set -e
  ctest --preset windows -j 1
  # The picture loader again at 144 DPI (a prefix of its own): natural sizes must not change.
  GIFANIM_WINE_DPI=144 GIFANIM_EXPECT_DPI=144 ctest --preset windows -j 1 -R win32_tests
  "$0/scripts/cross_check.sh"
  WINEPREFIX="$0/build/windows/wineprefix" /usr/lib/wine/wineserver -w || true
' "$root"
step "all tests passed"
