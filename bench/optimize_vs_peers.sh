#!/usr/bin/env bash
# The optimizing mode of `gifanim make` against the plain mode and the usual GIF makers, on the
# same frames, in one run: size, time, memory and fidelity.
#
#   bench/optimize_vs_peers.sh [BUILD_DIR]     (default build/linux-release, built already)
#
# Encoders (each frame set, each table):
#   opt       gifanim make --optimize --delay 10                (default quality)
#   opt-q100  gifanim make --optimize --quality 100 --delay 10
#   plain     gifanim make --delay 10
#   gifsicle  gifsicle -O3 of the plain GIF                     (time: plain make + gifsicle)
#   ffmpeg    ffmpeg -framerate 10 -i %03d.jpg OUT.gif          (its default conversion)
#   palette   ffmpeg palettegen, then paletteuse                (two runs, times added)
#   gifski    gifski -Q 90 --fps 10 of PNG frames               (npm package gifski, fetched into
#             build/gifski/ by `npm pack` when missing; never a dependency of the build or tests)
# Frame sets: seq720 (60 frames 1280x720), small240 (10 frames 320x240), big1080 (one 1920x1080
# desktop) from the corpus, and xrec: xterm printing a directory listing beside xclock, whose
# window is then dragged across the screen, grabbed on a private 1024x768 Xvfb by `gifanim grab
# --format jpeg` at 10 frames a second (the JPEGs the recorder stores).
#
# Table 1 (jpeg): gifanim and ffmpeg read the JPEG frames; gifski (PNG only) reads libjpeg-turbo's
# decoding of them (djpeg) as PNG; fidelity is measured against that decoding. Table 2 (png): every
# encoder reads the lossless PNG frames (for xrec: the decoded JPEGs) and is measured against them.
# Fidelity: ffmpeg composes each GIF (disposal, transparency), resamples it to 10 frames a second
# (merged frames repeat), and compares it in RGB (gbrp) frame by frame with the reference: mean
# SSIM, mean and worst per-frame PSNR. The number of frames compared must equal the source's.
#
# Every encoder runs once untimed (warm-up, and the GIF whose fidelity is measured), then ROUNDS
# timed rounds, the order of sets and encoders rotating every round; medians are reported.
#   ROUNDS=3                 timed rounds
#   SETS="seq720 small240 big1080 xrec"   TABLES="jpeg png"   subsets, for a quicker look
#   XFRAMES=80               frames of the X recording (60..100 is the intended range)
#   KEEP_XREC=1              reuse the X recording of an earlier run instead of recording anew
#   GIFSKI=PATH              a gifski binary to use instead of the fetched one
#   GIFSKI_VERSION=1.7.1     the npm package version fetched
# Missing tools (ffmpeg, gifsicle, time, djpeg, ImageMagick, Xvfb, xterm, xclock, xdotool) are
# installed with apt-get when the script runs as root. The tool is copied first (a rebuild during
# the run does not touch it). Results, logs and the commands run go to
# BUILD_DIR/bench-results/optimize_vs_peers/ (summary.txt).
set -euo pipefail
export LC_ALL=C

XSIZE_W=1024 XSIZE_H=768

# ---- the X recording (runs inside a private Xvfb: the script calls itself through xvfb-run.sh) ----
# record_scene DIR FRAMES GIFANIM: FRAMES grabs at 10 a second into DIR/000.jpg ...
record_scene() {
    local dir=$1 frames=$2 gifanim=$3 go wid i d now start late=0
    rm -rf "$dir"
    mkdir -p "$dir"
    go=$dir/.go
    SCENE_PIDS=()
    # shellcheck disable=SC2317  # called by the trap
    stop_scene() { [ ${#SCENE_PIDS[@]} -eq 0 ] || kill "${SCENE_PIDS[@]}" 2>/dev/null || true; wait 2>/dev/null || true; }
    trap stop_scene EXIT
    command -v xsetroot >/dev/null && xsetroot -solid '#3a6e9a'
    # The listing starts when the grabbing does, 40-50 lines a second for about 6 s, then the
    # prompt waits.
    # shellcheck disable=SC2016  # expanded by the inner bash
    xterm -geometry 92x46+8+8 -fa 'DejaVu Sans Mono' -fs 9 -bg '#101418' -fg '#d0d0d0' -e bash -c '
        while [ ! -e "$1" ]; do sleep 0.02; done
        ls -lR --color=always /usr/share 2>/dev/null | head -n 260 |
            while IFS= read -r line; do printf "%s\n" "$line"; sleep 0.012; done
        exec sleep 600' listing "$go" &
    SCENE_PIDS+=($!)
    xclock -geometry 200x200+800+24 -update 1 -bg '#f4f0e0' -fg '#303030' -hd '#1a3a8a' -hl '#b02020' &
    SCENE_PIDS+=($!)
    timeout 20 xdotool search --sync --onlyvisible --class XTerm >/dev/null
    wid=$(timeout 20 xdotool search --sync --onlyvisible --class XClock | head -n 1)
    xdotool windowraise "$wid" mousemove 900 124  # no window manager: the one mapped last would be on top
    sleep 0.5
    # The drag: from 2.5 s on, the pointer takes the clock from the top right to the bottom left
    # over the terminal in 3 s, then lets go; the last seconds are still but for the clock's hand.
    (
        sleep 2.5
        for i in $(seq 0 60); do
            x=$((800 - i * 680 / 60)) y=$((24 + i * 500 / 60))
            xdotool mousemove $((x + 100)) $((y + 12)) windowmove "$wid" "$x" "$y"
            sleep 0.05
        done
    ) &
    SCENE_PIDS+=($!)
    : >"$go"
    start=${EPOCHREALTIME/./}
    for ((i = 0; i < frames; i++)); do
        now=${EPOCHREALTIME/./}
        d=$((start + i * 100000 - now))
        if [ "$d" -gt 0 ]; then
            sleep "$((d / 1000000)).$(printf %06d $((d % 1000000)))"
        elif [ "$d" -lt -50000 ]; then
            late=$((late + 1))
        fi
        "$gifanim" grab --rect "0,0,$XSIZE_W,$XSIZE_H" --cursor --format jpeg "$dir/$(printf %03d "$i").jpg"
    done
    now=${EPOCHREALTIME/./}
    echo "recorded $frames frames in $(((now - start) / 1000)) ms ($late grabs more than 50 ms late)"
}
if [ "${1:-}" = --record-scene ]; then
    shift
    record_scene "$@"
    exit 0
fi

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/linux-release}" && pwd)
ROUNDS=${ROUNDS:-3}
SETS=${SETS:-seq720 small240 big1080 xrec}
TABLES=${TABLES:-jpeg png}
XFRAMES=${XFRAMES:-80}
GIFSKI_VERSION=${GIFSKI_VERSION:-1.7.1}
GIFANIM=$BUILD/tools/gifanim
TIME=/usr/bin/time
MAGICK=/usr/bin/convert  # ImageMagick itself: a stand-in named convert may come first in PATH

die() { echo "optimize_vs_peers: $*" >&2; exit 1; }
[ -x "$GIFANIM" ] || die "no $GIFANIM; build the linux-release preset first"
[[ $ROUNDS =~ ^[1-9][0-9]*$ ]] || die "ROUNDS must be a positive number"
[[ $XFRAMES =~ ^[1-9][0-9]*$ ]] || die "XFRAMES must be a positive number"
for s in $SETS; do case $s in seq720 | small240 | big1080 | xrec) ;; *) die "unknown set $s" ;; esac; done
for t in $TABLES; do case $t in jpeg | png) ;; *) die "unknown table $t (jpeg or png)" ;; esac; done

# ---- tools: installed the way scripts/setup.sh does, when missing ----
pkgs=(ffmpeg gifsicle time libjpeg-turbo-progs imagemagick)
case " $SETS " in *" xrec "*) pkgs+=(xvfb xauth xterm x11-apps xdotool x11-xserver-utils fonts-dejavu-core) ;; esac
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ -z "${GIFSKI:-}" ] && [ ! -x "$ROOT/build/gifski/$GIFSKI_VERSION/package/bin/debian/gifski" ] &&
    ! command -v npm >/dev/null; then
    missing+=(npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
    [ "$(id -u)" = 0 ] || die "missing ${missing[*]}; install them (apt-get install ${missing[*]}) or run as root"
    echo "optimize_vs_peers: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >/dev/null ||
        die "apt-get could not install ${missing[*]}"
fi
for tool in ffmpeg ffprobe gifsicle djpeg; do
    command -v "$tool" >/dev/null || die "$tool missing after the installation"
done
[ -x "$TIME" ] || die "$TIME missing (apt-get install time)"
[ -x "$MAGICK" ] || die "$MAGICK missing (apt-get install imagemagick)"

if [ -z "${GIFSKI:-}" ]; then
    GIFSKI=$ROOT/build/gifski/$GIFSKI_VERSION/package/bin/debian/gifski
    if [ ! -x "$GIFSKI" ]; then
        dir=$ROOT/build/gifski/$GIFSKI_VERSION
        mkdir -p "$dir"
        echo "optimize_vs_peers: fetching gifski $GIFSKI_VERSION (npm pack) into $dir" >&2
        tgz=$(cd "$dir" && npm pack --silent "gifski@$GIFSKI_VERSION" | tail -n 1) ||
            die "npm pack gifski@$GIFSKI_VERSION failed"
        tar -xzf "$dir/$tgz" -C "$dir" package/bin/debian/gifski || die "$dir/$tgz has no package/bin/debian/gifski"
        chmod +x "$GIFSKI"
    fi
fi
"$GIFSKI" --version >/dev/null 2>&1 || die "$GIFSKI does not run"

OUT=$BUILD/bench-results/optimize_vs_peers
rm -rf "${OUT:?}/out" "${OUT:?}/times" "${OUT:?}/logs" "${OUT:?}/check" "${OUT:?}/bin"
mkdir -p "$OUT/inputs" "$OUT/out" "$OUT/times" "$OUT/logs" "$OUT/check" "$OUT/bin"
# A copy of the tool: a rebuild of BUILD_DIR during the run changes nothing here.
BUILT_GIFANIM=$GIFANIM
cp "$BUILT_GIFANIM" "$OUT/bin/gifanim"
GIFANIM=$OUT/bin/gifanim
OPTIMIZE=0
"$GIFANIM" make --help 2>&1 | grep -q -- --optimize && OPTIMIZE=1

# ---- inputs: INPUTS/SET/jpg (what the recorder stores), dec (djpeg's pixels as PNG), png (lossless) ----
CORPUS=$("$ROOT/scripts/corpus.sh")
IN=$OUT/inputs
declare -A COUNT WIDTH HEIGHT
stage_corpus() {  # SET JPGDIR PNGDIR N: links the N JPEGs and the PNGs of the same names as 000.jpg ...
    local set=$1 jpgdir=$2 pngdir=$3 n=$4 i=0 jpg png
    rm -rf "${IN:?}/$set"
    mkdir -p "$IN/$set/jpg" "$IN/$set/png"
    for jpg in "$jpgdir"/*.jpg; do
        png=$pngdir/$(basename "$jpg" .jpg).png
        [ -f "$jpg" ] && [ -f "$png" ] || die "corpus misses $jpg or $png"
        ln -s "$jpg" "$IN/$set/jpg/$(printf %03d "$i").jpg"
        ln -s "$png" "$IN/$set/png/$(printf %03d "$i").png"
        i=$((i + 1))
    done
    [ "$i" -eq "$n" ] || die "$jpgdir holds $i frames, not $n"
}
for set in $SETS; do
    case $set in
        seq720) stage_corpus seq720 "$CORPUS/seq720/jpg" "$CORPUS/seq720/png" 60 ;;
        small240) stage_corpus small240 "$CORPUS/small240/jpg" "$CORPUS/small240/png" 10 ;;
        big1080) stage_corpus big1080 "$CORPUS/big1080" "$CORPUS/big1080" 1 ;;
        xrec)
            if [ "${KEEP_XREC:-0}" = 1 ] && [ -f "$IN/xrec/jpg/000.jpg" ]; then
                echo "optimize_vs_peers: reusing the X recording in $IN/xrec/jpg" >&2
            else
                echo "optimize_vs_peers: recording $XFRAMES frames of X programs on a private ${XSIZE_W}x${XSIZE_H} Xvfb" >&2
                rm -rf "${IN:?}/xrec"
                GIFANIM_REUSE_DISPLAY=0 GIFANIM_XVFB_SCREEN=${XSIZE_W}x${XSIZE_H}x24 "$ROOT/scripts/xvfb-run.sh" \
                    bash "$ROOT/bench/optimize_vs_peers.sh" --record-scene "$IN/xrec/jpg" "$XFRAMES" "$GIFANIM" \
                    >"$OUT/logs/xrec-recording.log" 2>&1 || die "the X recording failed; see $OUT/logs/xrec-recording.log"
                tail -n 1 "$OUT/logs/xrec-recording.log" >&2
            fi
            rm -rf "$IN/xrec/png"
            ln -s dec "$IN/xrec/png"  # the lossless frames of a recording are its decoded JPEGs
            ;;
    esac
    # libjpeg-turbo's decoding of the JPEGs (djpeg: islow DCT, fancy upsampling), stored as PNG
    rm -rf "${IN:?}/$set/dec" "$IN/$set/ppm"
    mkdir -p "$IN/$set/dec" "$IN/$set/ppm"
    for jpg in "$IN/$set/jpg"/*.jpg; do
        djpeg -outfile "$IN/$set/ppm/$(basename "$jpg" .jpg).ppm" "$jpg" || die "djpeg cannot decode $jpg"
    done
    ffmpeg -nostdin -loglevel error -y -start_number 0 -i "$IN/$set/ppm/%03d.ppm" -start_number 0 \
        "$IN/$set/dec/%03d.png" || die "ffmpeg cannot store the decoded frames of $set as PNG"
    rm -rf "${IN:?}/$set/ppm"
    COUNT[$set]=$(find "$IN/$set/jpg" -name '*.jpg' | wc -l)
    [ "$(find "$IN/$set/dec" -name '*.png' | wc -l)" -eq "${COUNT[$set]}" ] || die "$set: decoded frames missing"
    IFS=, read -r w h < <(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 \
        "$IN/$set/jpg/000.jpg")
    WIDTH[$set]=$w HEIGHT[$set]=$h
done

# ---- the encoders ----
ENCODERS=(opt opt-q100 plain gifsicle ffmpeg palette gifski)
declare -A LABEL=(
    [opt]="gifanim make --optimize" [opt-q100]="gifanim --optimize -Q 100" [plain]="gifanim make"
    [gifsicle]="gifanim make + gifsicle -O3" [ffmpeg]="ffmpeg (default)" [palette]="ffmpeg palettegen+use"
    [gifski]="gifski -Q 90")
# commands_for TABLE SET ENCODER: sets CMD1 and CMD2 (empty unless there is a second step) as
# shown, with the element @FRAMES@ for the frame files SRC_DIR/*.SRC_EXT; RUN1 and RUN2 as run,
# with the frames listed; GIFOUT; EXPECT, the frames the GIF lasts at 10 a second.
commands_for() {
    local t=$1 set=$2 enc=$3 o=$OUT/out/$1/$2 src ext a frames
    if [ "$t" = jpeg ]; then src=$IN/$set/jpg ext=jpg; else src=$IN/$set/png ext=png; fi
    mkdir -p "$o"
    GIFOUT=$o/$enc.gif CMD2=() SRC_DIR=$src SRC_EXT=$ext EXPECT=${COUNT[$set]}
    case $enc in
        opt) CMD1=("$GIFANIM" make --optimize --delay 10 -o "$GIFOUT" @FRAMES@) ;;
        opt-q100) CMD1=("$GIFANIM" make --optimize --quality 100 --delay 10 -o "$GIFOUT" @FRAMES@) ;;
        plain) CMD1=("$GIFANIM" make --delay 10 -o "$GIFOUT" @FRAMES@) ;;
        gifsicle) CMD1=(gifsicle -O3 "$o/plain.gif" -o "$GIFOUT") ;;
        ffmpeg) CMD1=(ffmpeg -nostdin -loglevel error -y -framerate 10 -i "$src/%03d.$ext" "$GIFOUT") ;;
        palette)
            CMD1=(ffmpeg -nostdin -loglevel error -y -framerate 10 -i "$src/%03d.$ext" -vf palettegen "$o/palette.png")
            CMD2=(ffmpeg -nostdin -loglevel error -y -framerate 10 -i "$src/%03d.$ext" -i "$o/palette.png"
                -lavfi paletteuse "$GIFOUT")
            ;;
        gifski)
            # PNG only (the JPEG table's decoded frames); without -W/-H it scales above ~800x600 down
            [ "$t" = jpeg ] && SRC_DIR=$IN/$set/dec SRC_EXT=png
            CMD1=("$GIFSKI" --quiet -Q 90 --fps 10 -W "${WIDTH[$set]}" -H "${HEIGHT[$set]}" -o "$GIFOUT" @FRAMES@)
            # it refuses a single image: given it twice, it writes one frame shown twice as long
            [ "${COUNT[$set]}" -gt 1 ] || { CMD1+=(@FRAMES@) EXPECT=2; }
            ;;
    esac
    frames=("$SRC_DIR"/*."$SRC_EXT")
    RUN1=() RUN2=()
    for a in "${CMD1[@]}"; do if [ "$a" = @FRAMES@ ]; then RUN1+=("${frames[@]}"); else RUN1+=("$a"); fi; done
    for a in "${CMD2[@]}"; do RUN2+=("$a"); done
}
# show_command CMD...: the command as a shell line, the frame list as its glob
show_command() {
    local a line=
    for a in "$@"; do
        if [ "$a" = @FRAMES@ ]; then line+="$(printf '%q' "$SRC_DIR")/*.$SRC_EXT "; else line+="$(printf '%q' "$a") "; fi
    done
    echo "${line% }"
}

# measure TIMEFILE LOG CMD...: runs CMD, appends "wall user sys maxrss_kib" to TIMEFILE
measure() {
    local file=$1 log=$2 start end status=0
    shift 2
    start=$EPOCHREALTIME
    "$TIME" -f '%U %S %M' -o "$file.time" "$@" >>"$log" 2>&1 || status=$?
    end=$EPOCHREALTIME
    if [ "$status" -ne 0 ]; then
        echo "exit status $status: $*" >>"$log"
        return 1
    fi
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f", b - a}') $(tail -n 1 "$file.time")" >>"$file"
}

# run_unit TABLE SET ENCODER DEST: one run of the encoder; appends "wall user sys maxrss_kib bytes"
# (the steps' times added, the largest RSS) to DEST; a failure marks the unit failed for good
run_unit() {
    local key=$1-$2-$3 dest=$4 parts
    [ -e "$OUT/times/$key.failed" ] && return 0
    commands_for "$1" "$2" "$3"
    parts=$OUT/times/$key.parts
    : >"$parts"
    if measure "$parts" "$OUT/logs/$key.log" "${RUN1[@]}" &&
        { [ ${#RUN2[@]} -eq 0 ] || measure "$parts" "$OUT/logs/$key.log" "${RUN2[@]}"; } && [ -s "$GIFOUT" ]; then
        awk -v bytes="$(stat -c %s "$GIFOUT")" '{w += $1; u += $2; s += $3; if ($4 > m) m = $4}
            END {printf "%.4f %.2f %.2f %d %d\n", w, u, s, m, bytes}' "$parts" >>"$dest"
    else
        touch "$OUT/times/$key.failed"
        echo "optimize_vs_peers: $key failed; see $OUT/logs/$key.log" >&2
    fi
    rm -f "$parts" "$parts.time"
}

active=()
for e in "${ENCODERS[@]}"; do
    case $e in opt | opt-q100) [ "$OPTIMIZE" = 1 ] || continue ;; esac
    active+=("$e")
done
blocks=()
for t in $TABLES; do for s in $SETS; do blocks+=("$t $s"); done; done

echo "optimize_vs_peers: warm-up" >&2
for b in "${blocks[@]}"; do
    for e in "${active[@]}"; do
        # shellcheck disable=SC2086  # "TABLE SET"
        run_unit $b "$e" "$OUT/times/${b/ /-}-$e.warm"
    done
done
for r in $(seq 1 "$ROUNDS"); do
    echo "optimize_vs_peers: round $r of $ROUNDS" >&2
    for ((i = 0; i < ${#blocks[@]}; i++)); do
        b=${blocks[(i + r - 1) % ${#blocks[@]}]}
        for ((k = 0; k < ${#active[@]}; k++)); do
            e=${active[(k + r - 1) % ${#active[@]}]}
            # shellcheck disable=SC2086
            run_unit $b "$e" "$OUT/times/${b/ /-}-$e.txt"
        done
    done
done

# ---- fidelity ----
# fidelity NAME REFDIR INPUT_OPTION...: ffmpeg reads the input (a GIF: composed with disposal and
# transparency), resamples it to 10 frames a second and compares it with REFDIR/000.png ... in RGB.
# Prints "ssim psnr_mean psnr_worst worst_frame exact_frames input_frames compared_frames", or
# "failed". Per-frame statistics stay in check/NAME.{ssim,psnr}.
fidelity() {
    local name=$1 ref=$2 in_frames
    shift 2
    if ! (cd "$OUT/check" && ffmpeg -nostdin -loglevel error -y "$@" -framerate 10 -start_number 0 -i "$ref/%03d.png" \
        -filter_complex "[0:v]fps=10,format=gbrp,split=3[a1][a2][a3];[1:v]format=gbrp,split[b1][b2];
            [a1][b1]ssim=stats_file=$name.ssim[o1];[a2][b2]psnr=stats_file=$name.psnr[o2]" \
        -map '[o1]' -map '[o2]' -f null - -map '[a3]' -f framecrc "$name.frames") 2>"$OUT/check/$name.log"; then
        echo failed
        return 0
    fi
    in_frames=$(grep -vc '^#' "$OUT/check/$name.frames" || true)
    awk -v in_frames="$in_frames" '
        FILENAME ~ /\.ssim$/ { for (i = 1; i <= NF; i++) if ($i ~ /^All:/) { ssim += substr($i, 5); ns++ } next }
        {
            for (i = 1; i <= NF; i++) if ($i ~ /^psnr_avg:/) v = substr($i, 10)
            np++
            if (v == "inf") { exact++; next }
            sum += v; nf++
            if (nf == 1 || v + 0 < worst) { worst = v + 0; wf = np - 1 }
        }
        END {
            if (ns == 0 || np != ns) { print "failed"; exit }
            printf "%.4f %s %s %s %d %d %d\n", ssim / ns, nf ? sprintf("%.2f", sum / nf) : "inf",
                nf ? sprintf("%.2f", worst) : "inf", nf ? wf : "-", exact, in_frames, ns
        }' "$OUT/check/$name.ssim" "$OUT/check/$name.psnr"
}

median() {  # the median of the numbers on stdin
    sort -g | awk '{v[NR] = $1} END {if (NR) print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
# rounds_of TABLE SET ENCODER: "wall cpu maxrss_kib bytes" per timed round (gifsicle: with the
# plain make of the same round, times added, the larger RSS)
rounds_of() {
    local base=$OUT/times/$1-$2
    if [ "$3" = gifsicle ]; then
        [ -s "$base-plain.txt" ] && [ -s "$base-gifsicle.txt" ] || return 0
        paste -d ' ' "$base-plain.txt" "$base-gifsicle.txt" |
            awk '{print $1 + $6, $2 + $3 + $7 + $8, ($4 > $9 ? $4 : $9), $10}'
    else
        [ -s "$base-$3.txt" ] || return 0
        awk '{print $1, $2 + $3, $4, $5}' "$base-$3.txt"
    fi
}

declare -A FID
SUMMARY=$OUT/summary.txt
COMMANDS=$OUT/commands.txt
: >"$COMMANDS"
{
    echo "optimize_vs_peers: $ROUNDS timed rounds after a warm-up, sets and encoders rotating, medians"
    echo "  gifanim  $BUILT_GIFANIM, copied to $GIFANIM (source at $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?')$(
        git -C "$ROOT" diff --quiet HEAD 2>/dev/null || echo ' with uncommitted changes'); --optimize: $(
        [ "$OPTIMIZE" = 1 ] && echo yes || echo 'not in this build, its rows left out'))"
    echo "  $(ffmpeg -version | head -n 1 | cut -d ' ' -f 1-3), $(gifsicle --version | head -n 1), $("$GIFSKI" --version) ($GIFSKI)"
    echo "  sets:$(for s in $SETS; do printf ' %s (%d x %dx%d)' "$s" "${COUNT[$s]}" "${WIDTH[$s]}" "${HEIGHT[$s]}"; done)"
    echo "  wall s, cpu s (user + sys) and peak RSS are medians; bytes and fidelity are of the last run's GIF"
    echo "  (bytes marked * varied between runs). Fidelity: RGB, frame i of the GIF at 10 frames a second"
    echo "  against source frame i; PSNR is the mean of per-frame PSNR (exact frames, PSNR inf, left out"
    echo "  and counted in the notes), worst the lowest frame (number from 0)."
    for t in $TABLES; do
        echo
        if [ "$t" = jpeg ]; then
            echo "== Table 1 (jpeg): the JPEG frames (gifski: their libjpeg-turbo decoding as PNG); fidelity against that decoding"
        else
            echo "== Table 2 (png): the lossless PNG frames (xrec: its decoded JPEGs) for everyone; fidelity against them"
        fi
        printf '%-9s %-28s %10s %6s %8s %8s %8s %7s %7s %7s %-6s %s\n' set encoder bytes "%plain" "wall s" "cpu s" \
            "RSS MiB" SSIM PSNR worst "(frame)" notes
        for s in $SETS; do
            plain_bytes=$(rounds_of "$t" "$s" plain | awk '{print $4}' | median)
            for e in "${ENCODERS[@]}"; do
                key=$t-$s-$e
                case $e in opt | opt-q100)
                    if [ "$OPTIMIZE" != 1 ]; then
                        printf '%-9s %-28s %s\n' "$s" "${LABEL[$e]}" "-- (gifanim make has no --optimize in this build)"
                        continue
                    fi ;;
                esac
                commands_for "$t" "$s" "$e"
                {
                    echo "# $key"
                    [ "$e" = gifsicle ] && { commands_for "$t" "$s" plain; printf '%q ' "${RUN1[@]}"; echo; commands_for "$t" "$s" "$e"; }
                    printf '%q ' "${RUN1[@]}"; echo
                    [ ${#RUN2[@]} -eq 0 ] || { printf '%q ' "${RUN2[@]}"; echo; }
                } >>"$COMMANDS"
                if [ -e "$OUT/times/$key.failed" ] || { [ "$e" = gifsicle ] && [ -e "$OUT/times/$t-$s-plain.failed" ]; }; then
                    printf '%-9s %-28s %s\n' "$s" "${LABEL[$e]}" "FAILED (see $OUT/logs/$key.log)"
                    continue
                fi
                rows=$(rounds_of "$t" "$s" "$e")
                wall=$(awk '{print $1}' <<<"$rows" | median)
                cpu=$(awk '{print $2}' <<<"$rows" | median)
                rss=$(awk '{print $3}' <<<"$rows" | median)
                bytes=$(stat -c %s "$GIFOUT")
                varied=$( (awk '{print $4}' <<<"$rows"; echo "$bytes") | sort -u | wc -l)
                if [ "$t" = jpeg ]; then ref=$IN/$s/dec; else ref=$IN/$s/png; fi
                read -r ssim psnr worst wf exact gif_frames compared < <(fidelity "$key" "$ref" -i "$GIFOUT")
                FID[$key]="$ssim $psnr $worst"
                notes=
                if [ "$ssim" = failed ]; then
                    notes="fidelity failed (see $OUT/check/$key.log)" ssim=- psnr=- worst=- wf=-
                else
                    [ "$exact" -eq 0 ] || notes="$exact exact frames"
                    if [ "$gif_frames" -ne "$EXPECT" ] || [ "$compared" -ne "$EXPECT" ]; then
                        notes+="${notes:+; }FRAME COUNT: $gif_frames at 10/s, $compared compared, $EXPECT expected"
                    fi
                    [ "$EXPECT" = "${COUNT[$s]}" ] || notes+="${notes:+; }given the one image twice"
                fi
                printf '%-9s %-28s %10d%1s %5s %8.3f %8.3f %7.1f %7s %7s %7s %-6s %s\n' "$s" "${LABEL[$e]}" "$bytes" \
                    "$([ "$varied" -gt 1 ] && echo '*')" \
                    "$(awk -v a="$bytes" -v b="$plain_bytes" 'BEGIN {if (b > 0) printf "%.0f", 100 * a / b; else print "-"}')" \
                    "$wall" "$cpu" "$(awk -v k="$rss" 'BEGIN {print k / 1024}')" "$ssim" "$psnr" "$worst" "($wf)" "$notes"
            done
        done
    done

    echo
    echo "== Protocol checks"
    s0=${SETS%% *}
    same=() differ=()
    for s in $SETS; do
        "$GIFANIM" convert --format png "$IN/$s/jpg/000.jpg" "$OUT/check/gifanim-decode-$s.png" 2>>"$OUT/check/decode.log" || true
        a=$(ffmpeg -nostdin -loglevel error -i "$OUT/check/gifanim-decode-$s.png" -f rawvideo -pix_fmt rgb24 -f md5 - 2>/dev/null || true)
        b=$(ffmpeg -nostdin -loglevel error -i "$IN/$s/dec/000.png" -f rawvideo -pix_fmt rgb24 -f md5 - 2>/dev/null || true)
        if [ -n "$a" ] && [ "$a" = "$b" ]; then same+=("$s"); else differ+=("$s"); fi
    done
    echo "  gifanim convert decodes frame 000 of ${same[*]:-no set} exactly as djpeg does${differ[*]:+; NOT of ${differ[*]}}"
    read -r ssim psnr worst wf exact in_frames compared < <(fidelity "ffmpeg-decode-$s0" "$IN/$s0/dec" \
        -framerate 10 -start_number 0 -i "$IN/$s0/jpg/%03d.jpg")
    echo "  ffmpeg's own JPEG decoding of $s0 against djpeg's: SSIM $ssim, PSNR $psnr dB (worst $worst); it is part of"
    echo "    the ffmpeg rows of table 1"
    # The GIF against its own frames, composed by ImageMagick and each repeated for its delay (in
    # tenths of a second): identical pixels, as many frames as the source. On the recording when
    # there is one (frames merged into longer delays), with transparency and partial frames.
    case " $SETS " in *" xrec "*) sc=xrec ;; *) sc=$s0 ;; esac
    tc=${TABLES%% *}
    for e in opt gifsicle ffmpeg gifski; do
        gif=$OUT/out/$tc/$sc/$e.gif
        [ -s "$gif" ] || continue
        self=$OUT/check/self-$tc-$sc-$e
        rm -rf "$self"
        mkdir -p "$self/coalesced" "$self/frames"
        if ! "$MAGICK" "$gif" -coalesce -alpha off "PNG24:$self/coalesced/%03d.png" 2>"$self.log" ||
            ! delays=$("$MAGICK" "$gif" -format '%T\n' info: 2>>"$self.log"); then
            echo "  $tc/$sc/$e.gif: ImageMagick cannot compose it (see $self.log)"
            continue
        fi
        k=0 n=0 odd=0
        for d in $delays; do
            [ $((d % 10)) -eq 0 ] || odd=1
            for ((r = 0; r < d / 10; r++)); do
                ln -s "../coalesced/$(printf %03d "$k").png" "$self/frames/$(printf %03d "$n").png"
                n=$((n + 1))
            done
            k=$((k + 1))
        done
        if [ "$odd" = 1 ]; then
            echo "  $tc/$sc/$e.gif: delays not in tenths of a second, not checked"
            continue
        fi
        read -r ssim psnr worst wf exact in_frames compared < <(fidelity "self-$tc-$sc-$e" "$self/frames" -i "$gif")
        verdict=ok
        [ "$psnr" = inf ] && [ "$exact" = "$n" ] && [ "$compared" = "$n" ] && [ "$in_frames" = "$n" ] &&
            [ "$n" = "${COUNT[$sc]}" ] || { verdict=WRONG; : >"$OUT/check/WRONG"; }
        printf '  %s/%s/%s.gif against its %d frames composed by ImageMagick (-coalesce), %d at 10/s: SSIM %s, PSNR %s, %s of %d exact, %s compared: %s\n' \
            "$tc" "$sc" "$e" "$k" "$n" "$ssim" "$psnr" "$exact" "$n" "$compared" "$verdict"
        rm -rf "$self"
    done
    case " $SETS " in *" seq720 "*)
        case " $TABLES " in *" jpeg "*)
            read -r ssim psnr worst <<<"${FID[jpeg-seq720-plain]:-- - -}"
            awk -v s="$ssim" -v p="$psnr" 'BEGIN {exit !(s > 0.92 && s < 0.935 && p > 26.8 && p < 27.4)}' ||
                : >"$OUT/check/WRONG"
            echo "  plain gifanim make of seq720 against the decoded JPEGs: SSIM $ssim, PSNR $psnr dB" \
                "(near 0.927 and 27.1 dB when the protocol holds)"
            ;;
        esac ;;
    esac

    echo
    echo "== Commands (R=$OUT, gifanim is \$R/bin/gifanim; the other sets differ in the set's name and gifski's -W/-H, its size;"
    echo "   every command as run, frames listed: $COMMANDS)"
    for t in $TABLES; do
        echo "  $t, $s0:"
        for e in "${active[@]}"; do
            commands_for "$t" "$s0" "$e"
            printf '    %-9s %s\n' "$e" "$(show_command "${CMD1[@]}" | sed "s|$OUT|\$R|g")"
            [ ${#CMD2[@]} -eq 0 ] || printf '    %-9s %s\n' "" "$(show_command "${CMD2[@]}" | sed "s|$OUT|\$R|g")"
        done
    done
    echo "  timing: $TIME -f '%U %S %M' COMMAND, wall from bash's EPOCHREALTIME around it"
    echo "  fidelity: ffmpeg -i GIF -framerate 10 -start_number 0 -i REF/%03d.png -filter_complex"
    echo "    '[0:v]fps=10,format=gbrp,split=3[a1][a2][a3];[1:v]format=gbrp,split[b1][b2];"
    echo "     [a1][b1]ssim=stats_file=S[o1];[a2][b2]psnr=stats_file=P[o2]' -map [o1] -map [o2] -f null - -map [a3] -f framecrc F"
    echo "  raw: $OUT/times (wall user sys maxrss_kib bytes per round), $OUT/check (per-frame SSIM and PSNR), $OUT/logs"
} | tee "$SUMMARY"
if [ -e "$OUT/check/WRONG" ]; then
    echo "optimize_vs_peers: a protocol check failed (see above); the fidelity figures are not to be trusted" >&2
    exit 1
fi
