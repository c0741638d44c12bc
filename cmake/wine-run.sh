#!/usr/bin/env bash
# Runs a Windows program under Wine with a private prefix beside the build tree.
# WINEPREFIX may be preset; otherwise it is <build dir>/wineprefix, found from the program's path.
set -euo pipefail
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || wine=/usr/lib/wine/wine64
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ "$dir" = / ] && dir=$(cd "$(dirname "$1")" && pwd)
  export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" WINEARCH=win64
mkdir -p "$WINEPREFIX"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
    "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
  fi
) 9>"$WINEPREFIX.lock"
exec "$wine" "$@"
