#!/usr/bin/env bash
# Runs a command with an X display of its own: a private Xvfb at 1280x1024x24 on the first free
# display number from :99 up, stopped again when the command ends. Exits with the command's status.
#
# With GIFANIM_REUSE_DISPLAY=1 and a DISPLAY that answers, the command runs on that display
# instead (handy on a desktop); CI never sets it, so nothing depends on a developer's screen.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi

if [ "${GIFANIM_REUSE_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ] && command -v xdpyinfo >/dev/null &&
  xdpyinfo >/dev/null 2>&1; then
  exec "$@"
fi

geometry=${GIFANIM_XVFB_SCREEN:-1280x1024x24}
work=$(mktemp -d "${TMPDIR:-/tmp}/xvfb-run.XXXXXX")
xvfb_pid=
stop_server() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  fi
  rm -rf "$work"
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Xvfb writes the display number to -displayfd once it accepts connections, so there is no
# polling; a number taken between the lock check and the start just makes Xvfb exit, and the
# next number is tried.
display=
for n in $(seq 99 199); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  rm -f "$work/ready"
  mkfifo "$work/ready"
  Xvfb ":$n" -screen 0 "$geometry" -noreset -nolisten tcp -displayfd 3 3>"$work/ready" \
    >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  answer=
  # The read ends with EOF if Xvfb exits without writing, and gives up after 30 s.
  read -r -t 30 answer <"$work/ready" || true
  if [ "$answer" = "$n" ]; then
    display=":$n"
    break
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
done
if [ -z "$display" ]; then
  echo "xvfb-run: could not start Xvfb" >&2
  cat "$work/xvfb.log" >&2 2>/dev/null || true
  exit 1
fi

export DISPLAY=$display
unset XAUTHORITY
status=0
"$@" || status=$?
exit "$status"
