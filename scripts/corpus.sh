#!/usr/bin/env bash
# Generates the screen-like corpus into build/corpus once (about 45 s); later calls reuse it.
# Prints the corpus directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${GIFANIM_CORPUS:-$root/build/corpus}
gen=$root/../shared/corpus/make_corpus.sh
[ -f "$gen" ] || gen=/work/shared/corpus/make_corpus.sh
if [ ! -f "$out/SHA256SUMS" ]; then
  [ -x "$gen" ] || [ -f "$gen" ] || { echo "corpus: $gen not found" >&2; exit 1; }
  mkdir -p "$(dirname "$out")"
  echo "corpus: generating $out" >&2
  bash "$gen" "$out" >/dev/null
fi
echo "$out"
