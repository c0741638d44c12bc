# shellcheck shell=bash disable=SC2154  # out and colours are the sourcing script's
# Sourced by the scripts whose recordings show the X root painted in known colours.
# colour_frames GIF [X,Y ...] prints what giflib decodes, one line a frame: delay, frame size,
# screen size, then at each of three points (by default 1200,60 60,960 1200,960, away from the
# pointer and the minimised frame window) the index of the nearest colour of the array `colours`
# (-1 when none is within 40), then the checksum of the picture shown. Needs $out/gif_frames, built
# from tests/win32/gif_frames.c with giflib.
colour_frames() {
  local gif=$1
  shift
  [ $# -gt 0 ] || set -- 1200,60 60,960 1200,960
  "$out/gif_frames" "$gif" "$@" | awk -v palette="${colours[*]}" '
    function nearest(rgb,   c, i, p, d, best) {
      split(rgb, c, ",")
      best = -1
      for (i = 1; i <= n; i++) {
        split(pal[i], p, ",")
        d = (c[1] - p[1]) ^ 2 + (c[2] - p[2]) ^ 2 + (c[3] - p[3]) ^ 2
        if (d < 40 ^ 2) best = i - 1
      }
      return best
    }
    BEGIN { n = split(palette, pal, " ") }
    { printf "%s %s %s %s %s %d %d %d %s\n", $1, $2, $3, $4, $5, nearest($7), nearest($8), nearest($9), $6 }'
}
