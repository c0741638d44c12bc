#!/usr/bin/env bash
# Whole-process comparison on the 60 frames of seq720/jpg:
#   gifanim make -o OUT.gif --delay 10 seq720/jpg/*.jpg            (every core)
#   gifanim make -o OUT.gif --delay 10 --jobs 1 seq720/jpg/*.jpg   (one thread reducing and compressing)
#   ffmpeg -framerate 10 -i seq720/jpg/%03d.jpg OUT.gif
# run in turn (the order rotates every round) after one warm-up each; reports median wall and
# CPU times, the ratios, that both GIFs are the same bytes, and the peak RSS of our make against
# its bound (3 x GIF size + 64 MiB).
#   bench/make_vs_ffmpeg.sh [BUILD_DIR]     (default build/linux-release; ROUNDS=7)
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/linux-release}" && pwd)
ROUNDS=${ROUNDS:-7}
GIFANIM=$BUILD/tools/gifanim
TIME=/usr/bin/time
CORPUS=$("$ROOT/scripts/corpus.sh")  # $GIFANIM_CORPUS, or build/corpus generated on first use

[ -x "$GIFANIM" ] || { echo "no $GIFANIM; build the linux-release preset first" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg missing (apt-get install ffmpeg)" >&2; exit 1; }
[ -x "$TIME" ] || { echo "$TIME missing (apt-get install time)" >&2; exit 1; }

FRAMES=$CORPUS/seq720/jpg
for i in $(seq 0 59); do
    [ -f "$FRAMES/$(printf %03d "$i").jpg" ] || { echo "missing frame $FRAMES/$(printf %03d "$i").jpg" >&2; exit 1; }
done
[ "$(ls "$FRAMES"/*.jpg | wc -l)" -eq 60 ] || { echo "$FRAMES holds other than 60 frames" >&2; exit 1; }

OUT=$BUILD/bench-results/make_vs_ffmpeg
mkdir -p "$OUT"
rm -f "$OUT"/*.gif "$OUT"/*.txt

OURS=("$GIFANIM" make -o "$OUT/gifanim.gif" --delay 10 "$FRAMES"/*.jpg)
ONE=("$GIFANIM" make -o "$OUT/gifanim-j1.gif" --delay 10 --jobs 1 "$FRAMES"/*.jpg)
PEER=(ffmpeg -nostdin -loglevel error -y -framerate 10 -i "$FRAMES/%03d.jpg" "$OUT/ffmpeg.gif")

# measure NAME COMMAND...: appends "wall user sys maxrss_kib" to $OUT/NAME.txt
measure() {
    local name=$1 start end
    shift
    start=$EPOCHREALTIME
    "$TIME" -f '%U %S %M' -o "$OUT/$name.time" "$@"
    end=$EPOCHREALTIME
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f", b - a}') $(tail -n 1 "$OUT/$name.time")" >> "$OUT/$name.txt"
}

"${OURS[@]}"; "${ONE[@]}"; "${PEER[@]}"  # warm the page cache and the binaries
for r in $(seq 1 "$ROUNDS"); do
    case $((r % 3)) in
        1) measure ours "${OURS[@]}"; measure one "${ONE[@]}"; measure peer "${PEER[@]}" ;;
        2) measure one "${ONE[@]}"; measure peer "${PEER[@]}"; measure ours "${OURS[@]}" ;;
        0) measure peer "${PEER[@]}"; measure ours "${OURS[@]}"; measure one "${ONE[@]}" ;;
    esac
done

median_of() {  # the median of the numbers on stdin
    sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
column() { awk -v c="$2" '{print $c}' "$1" | median_of; }   # median of column $2 of file $1
cpu() { awk '{print $2 + $3}' "$1" | median_of; }           # median of user + sys
ours_wall=$(column "$OUT/ours.txt" 1); peer_wall=$(column "$OUT/peer.txt" 1)
ours_cpu=$(cpu "$OUT/ours.txt"); peer_cpu=$(cpu "$OUT/peer.txt")
one_wall=$(column "$OUT/one.txt" 1); one_cpu=$(cpu "$OUT/one.txt")
ours_rss=$(column "$OUT/ours.txt" 4); peer_rss=$(column "$OUT/peer.txt" 4)
ours_max_rss=$(awk '{print $4}' "$OUT/ours.txt" | sort -g | tail -n 1)
ours_size=$(stat -c %s "$OUT/gifanim.gif"); peer_size=$(stat -c %s "$OUT/ffmpeg.gif")
bound_kib=$(( (3 * ours_size + 64 * 1024 * 1024) / 1024 ))

echo "make vs ffmpeg: 60 frames 1280x720 from $FRAMES, $ROUNDS rounds each, alternating, medians"
printf '  %-28s %9s %9s %12s %12s\n' "" "wall s" "cpu s" "peak RSS" "GIF bytes"
printf '  %-28s %9.3f %9.3f %9d KiB %12d\n' "gifanim make --delay 10" "$ours_wall" "$ours_cpu" "$ours_rss" "$ours_size"
printf '  %-28s %9.3f %9.3f %9d KiB %12d\n' "gifanim make --jobs 1" "$one_wall" "$one_cpu" "$(column "$OUT/one.txt" 4)" "$(stat -c %s "$OUT/gifanim-j1.gif")"
printf '  %-28s %9.3f %9.3f %9d KiB %12d\n' "ffmpeg -framerate 10" "$peer_wall" "$peer_cpu" "$peer_rss" "$peer_size"
printf '  wall ffmpeg/gifanim = %.2f (above 1: gifanim faster)   cpu ffmpeg/gifanim = %.2f\n' \
    "$(awk -v a="$peer_wall" -v b="$ours_wall" 'BEGIN {print a / b}')" \
    "$(awk -v a="$peer_cpu" -v b="$ours_cpu" 'BEGIN {print a / b}')"
printf '  every core against --jobs 1: wall %.2fx faster, cpu %+.1f%%; same bytes: %s\n' \
    "$(awk -v a="$one_wall" -v b="$ours_wall" 'BEGIN {print a / b}')" \
    "$(awk -v a="$ours_cpu" -v b="$one_cpu" 'BEGIN {print (a / b - 1) * 100}')" \
    "$(cmp -s "$OUT/gifanim.gif" "$OUT/gifanim-j1.gif" && echo yes || echo NO)"
verdict=ok; [ "$ours_max_rss" -lt "$bound_kib" ] || verdict=MISSED
printf '  gifanim peak RSS (largest of %d) %d KiB, bound 3 x %d B + 64 MiB = %d KiB: %s\n' \
    "$ROUNDS" "$ours_max_rss" "$ours_size" "$bound_kib" "$verdict"
echo "  raw: $OUT/ours.txt, $OUT/one.txt, $OUT/peer.txt (wall user sys maxrss_kib per round)"
