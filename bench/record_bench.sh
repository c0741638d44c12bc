#!/usr/bin/env bash
# `gifanim record --fps 15 --seconds 10` of a whole 1920x1080 screen that keeps changing: a private
# Xvfb, screen_painter moving a rectangle over the corpus desktop 60 times a second, and RUNS
# recordings one after another. Reports per run and as medians the ticks that collapsed (ticks that
# fell due while one ran late; 0 when every tick kept up), the recorder's CPU share as it prints it,
# and the CPU shares of the X server and the painter over the same 10 s, which the recorder's own
# figure leaves out.
#   bench/record_bench.sh [BUILD_DIR]     (default build/linux-release; RUNS=3)
# SCREEN=WxH changes the screen; WINE=1 records with the Windows build's gifanim.exe under Wine
# (build/windows), which grabs through GDI and encodes through GDI+ as gifrec.exe's tick does.
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" != --inside ]; then
    BUILD=$(cd "${1:-$ROOT/build/linux-release}" && pwd)
    programs=("$BUILD/bench/screen_painter")
    if [ "${WINE:-0}" = 1 ]; then programs+=("$ROOT/build/windows/tools/gifanim.exe"); else programs+=("$BUILD/tools/gifanim"); fi
    for program in "${programs[@]}"; do
        [ -x "$program" ] || { echo "no $program; build the linux-release preset first" >&2; exit 1; }
    done
    GIFANIM_CORPUS=$("$ROOT/scripts/corpus.sh")  # the painter's picture
    export GIFANIM_CORPUS
    GIFANIM_XVFB_SCREEN=${SCREEN:-1920x1080}x24 exec "$ROOT/scripts/xvfb-run.sh" "$0" --inside "$BUILD"
fi

BUILD=$2
RUNS=${RUNS:-3}
recorder=("$BUILD/tools/gifanim")
[ "${WINE:-0}" = 1 ] && recorder=("$ROOT/cmake/wine-run.sh" "$ROOT/build/windows/tools/gifanim.exe")
SCREEN=$(xdpyinfo | awk '/dimensions:/ {print $2}')
OUT=$BUILD/bench-results/record_bench
mkdir -p "$OUT"
rm -f "$OUT"/*.gif "$OUT"/runs.txt
HZ=$(getconf CLK_TCK)

# The Xvfb serving $DISPLAY (its first argument is the display).
xserver=
for dir in /proc/[0-9]*; do
    if [ "$(tr '\0' ' ' <"$dir/cmdline" 2>/dev/null | awk '{print $2}')" = "$DISPLAY" ] &&
        tr '\0' ' ' <"$dir/cmdline" 2>/dev/null | awk '{exit !($1 ~ /Xvfb$/)}'; then
        xserver=${dir#/proc/}
        break
    fi
done
[ -n "$xserver" ] || echo "record_bench: the Xvfb of $DISPLAY not found; its CPU is not reported" >&2

cpu_ticks() {  # utime + stime of process $1 in clock ticks; 0 when it is gone
    awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0
}

"$BUILD/bench/screen_painter" --hz 60 &
painter=$!
trap 'kill "$painter" 2>/dev/null || true; wait "$painter" 2>/dev/null || true' EXIT
sleep 2
kill -0 "$painter" 2>/dev/null || { echo "record_bench: screen_painter ended" >&2; exit 1; }

echo "gifanim record --fps 15 --seconds 10, whole $SCREEN screen, rectangle moving at 60 Hz, $RUNS runs$([ "${WINE:-0}" = 1 ] && echo " under Wine")"
for run in $(seq 1 "$RUNS"); do
    x0=$( [ -n "$xserver" ] && cpu_ticks "$xserver" || echo 0 ); p0=$(cpu_ticks "$painter"); t0=$EPOCHREALTIME
    line=$("${recorder[@]}" record -o "$OUT/run$run.gif" --fps 15 --seconds 10 | tr -d "\r" | tail -n 1)
    t1=$EPOCHREALTIME; x1=$( [ -n "$xserver" ] && cpu_ticks "$xserver" || echo 0 ); p1=$(cpu_ticks "$painter")
    # "OUT: N frames, S s, B bytes (G grabs, C collapsed, CPU P%)"
    fields=$(echo "$line" | sed -nE 's/.*: ([0-9]+) frames, ([0-9.]+) s, ([0-9]+) bytes \(([0-9]+) grabs, ([0-9]+) collapsed, CPU ([0-9.]+)%\)$/\1 \2 \3 \4 \5 \6/p')
    [ -n "$fields" ] || { echo "record_bench: unexpected last line: $line" >&2; exit 1; }
    read -r frames secs bytes grabs collapsed cpu <<<"$fields"
    shares=$(awk -v x="$((x1 - x0))" -v p="$((p1 - p0))" -v hz="$HZ" -v a="$t0" -v b="$t1" \
        'BEGIN {w = b - a; printf "%.0f %.0f", 100 * x / hz / w, 100 * p / hz / w}')
    read -r xcpu pcpu <<<"$shares"
    echo "$frames $secs $bytes $grabs $collapsed $cpu $xcpu $pcpu" >>"$OUT/runs.txt"
    printf '  run %d: %s frames, %s s, %s bytes, %s grabs, %s collapsed, recorder CPU %s%%, Xvfb %s%%, painter %s%%\n' \
        "$run" "$frames" "$secs" "$bytes" "$grabs" "$collapsed" "$cpu" "$xcpu" "$pcpu"
    # A screen that did not change would merge the frames and measure the still case instead.
    if [ "$frames" -lt $((grabs * 9 / 10)) ]; then
        echo "record_bench: only $frames frames of $grabs grabs: the screen did not keep changing" >&2
        exit 1
    fi
done

median() {  # of column $1 of runs.txt
    awk -v c="$1" '{print $c}' "$OUT/runs.txt" | sort -g |
        awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
printf 'medians: %s frames of %s grabs, %s collapsed (target 0), recorder CPU %s%% of one core, Xvfb %s%%, painter %s%%\n' \
    "$(median 1)" "$(median 4)" "$(median 5)" "$(median 6)" "$(median 7)" "$(median 8)"
echo "  raw: $OUT/runs.txt (frames seconds bytes grabs collapsed cpu% xvfb% painter% per run)"
