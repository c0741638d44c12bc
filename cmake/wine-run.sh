#!/usr/bin/env bash
# Runs a Windows program under Wine with a private prefix beside the build tree:
#   cmake/wine-run.sh PROGRAM.exe [ARG...]
# WINEPREFIX may be preset; otherwise it is <build dir>/wineprefix, the build dir being the first
# directory above the program that holds a CMakeCache.txt. The prefix is created on first use
# (about 15 s), under a lock so that parallel tests wait for one creation instead of racing.
#
# GIFANIM_WINE_DPI=N selects a second prefix, <build dir>/wineprefix-dpiN, whose screen
# resolution is N dots per inch (HKCU\Control Panel\Desktop\LogPixels), for checking that
# nothing changes size at other resolutions.
#
# Programs that draw or grab the screen need an X display: run under scripts/xvfb-run.sh.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 PROGRAM.exe [ARG...]" >&2
  exit 2
fi

wine=
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then
    wine=$candidate
    break
  fi
done
if [ -z "$wine" ]; then
  echo "wine-run: no wine64 found (scripts/setup.sh installs it)" >&2
  exit 127
fi
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo wineserver)

dpi=${GIFANIM_WINE_DPI:-}
if [ -n "$dpi" ] && ! [[ "$dpi" =~ ^[1-9][0-9]*$ ]]; then
  echo "wine-run: GIFANIM_WINE_DPI must be a number of dots per inch, not '$dpi'" >&2
  exit 2
fi

if [ -z "${WINEPREFIX:-}" ]; then
  program_dir=$(cd "$(dirname "$1")" && pwd)
  dir=$program_dir
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ "$dir" = / ] && dir=$program_dir
  WINEPREFIX="$dir/wineprefix${dpi:+-dpi$dpi}"
fi
export WINEPREFIX
export WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installer dialogs: none of our programs uses .NET or the HTML engine. No
# debugger on a crash either: it would wait for ever, and the test must fail instead.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winedbg.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-run: creating Wine prefix $WINEPREFIX" >&2
    start=$SECONDS
    "$wine" wineboot --init >/dev/null 2>&1 || true
    if [ -n "$dpi" ]; then
      "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    fi
    # The registry reaches the disk when the server exits; system.reg marks a finished prefix.
    "$wineserver" -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine-run: Wine could not create $WINEPREFIX" >&2
      exit 1
    fi
    echo "wine-run: prefix ready after $((SECONDS - start)) s" >&2
  fi
) 9>"$WINEPREFIX.lock"

exec "$wine" "$@"
