#!/usr/bin/env bash
# Renders gifrec.exe's windows under Wine on a private X screen, with a CJK font, into docs/:
# frame_window.png and settings_window.png on a first start, then preview_window.png and
# editor_window.png after a short full-screen recording of a screen changing colour. Run by hand
# after a change to the windows; it needs the Windows build (cmake --preset windows).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
missing=()
for p in fonts-wqy-microhei xdotool x11-xserver-utils; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
cmake --preset windows >/dev/null
cmake --build --preset windows --target gifrec >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/gifrec-shots.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$root/build/windows/app/gifrec.exe" "$work/"
export WINEPREFIX=$root/build/windows/wineprefix-shots WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
wine=/usr/lib/wine/wine64
[ -d "$WINEPREFIX" ] || "$wine" wineboot -i >/dev/null 2>&1
# The dialog fonts fall back to the CJK font, so the Chinese texts show.
for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Microsoft Sans Serif" "MS Sans Serif"; do
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v "$face" /t REG_SZ \
    /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
done
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# The server of those edits has no display: the program must start a fresh one on the X screen.
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w 2>/dev/null || true

GIFANIM_XVFB_SCREEN=1024x768x24 "$root/scripts/xvfb-run.sh" bash -c '
  set -euo pipefail
  work=$1 docs=$2 wine=$3
  xsetroot -solid "#3a6ea5" 2>/dev/null || true
  # A start ended by a kill leaves its recording, which the next start would offer in a box.
  rm -f "$WINEPREFIX"/drive_c/users/*/Temp/*.tmp
  (cd "$work" && "$wine" gifrec.exe) &
  frame=
  for _ in $(seq 60); do
    frame=$(xwininfo -root -tree | awk "/\"Zovaro GIF/ {print \$1; exit}")
    [ -n "$frame" ] && break
    sleep 0.5
  done
  [ -n "$frame" ] || { echo "screenshots: the frame window did not appear" >&2; xwininfo -root -tree | head -20 >&2; exit 1; }
  sleep 2
  import -window root "$work/screen.png"
  geometry() { xwininfo -id "$1" | awk "/Absolute upper-left X/ {x=\$4} /Absolute upper-left Y/ {y=\$4} /Width:/ {w=\$2} /Height:/ {h=\$2} END {print w \"x\" h \"+\" x \"+\" y}"; }
  /usr/bin/convert "$work/screen.png" -crop "$(geometry "$frame")" +repage "$docs/frame_window.png"
  # The 录制 drop-down, then 设置(&Z) by its access key.
  xdotool mousemove 47 31 click 1
  sleep 1
  xdotool key z
  sleep 2
  settings=$(xwininfo -root -tree | awk "/\"设置\"/ {print \$1; exit}")
  [ -n "$settings" ] || { echo "screenshots: the settings window did not appear" >&2; exit 1; }
  import -window root "$work/screen.png"
  /usr/bin/convert "$work/screen.png" -crop "$(geometry "$settings")" +repage "$docs/settings_window.png"
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  /usr/lib/wine/wineserver -w 2>/dev/null || true

  # Full screen without hiding the window, placed so that the preview and the editor, centred on
  # it, fit on the screen.
  printf "[配置]\r\n菜单全屏=8\r\n全屏隐藏=0\r\n左边=100\r\n顶边=40\r\n宽度=640\r\n高度=400\r\n" |
    iconv -f UTF-8 -t GBK >"$work/gif配置.ini"
  # A start ended by a kill leaves its recording, which the next start would offer in a box.
  rm -f "$WINEPREFIX"/drive_c/users/*/Temp/*.tmp
  (cd "$work" && "$wine" gifrec.exe) &
  window_named() {
    local id=
    for _ in $(seq 60); do
      id=$(xwininfo -root -tree | awk -v n="\"$1" "index(\$0, n) {print \$1; exit}")
      [ -n "$id" ] && break
      sleep 0.5
    done
    [ -n "$id" ] || { echo "screenshots: no window named $1..." >&2; exit 1; }
    echo "$id"
  }
  frame=$(window_named "Zovaro GIF")
  sleep 2
  (while :; do for c in "#c0392b" "#27ae60" "#2980b9" "#f39c12" "#8e44ad"; do xsetroot -solid "$c"; sleep 0.4; done; done) &
  painter=$!
  # Toolbar buttons, from the left: 录制 at 22, 预览 at 108, 编辑 at 147; 32 down from the
  # window top (caption included).
  xdotool mousemove --window "$frame" 22 32 click 1
  sleep 2.2
  xdotool mousemove --window "$frame" 22 32 click 1
  kill "$painter"
  xdotool mousemove --window "$frame" 108 32 click 1
  preview=$(window_named "一共有")
  xdotool mousemove --window "$preview" 22 32 click 1
  sleep 1.2
  import -window root "$work/screen.png"
  /usr/bin/convert "$work/screen.png" -crop "$(geometry "$preview")" +repage "$docs/preview_window.png"
  xdotool key alt+F4
  sleep 1
  xdotool mousemove --window "$frame" 147 32 click 1
  editor=$(window_named "总帧数")
  sleep 2
  import -window root "$work/screen.png"
  /usr/bin/convert "$work/screen.png" -crop "$(geometry "$editor")" +repage "$docs/editor_window.png"
  /usr/lib/wine/wineserver -k 2>/dev/null || true
' _ "$work" "$root/docs" "$wine"

# The frame window again at 144 DPI, in a prefix of its own: the toolbar and its text are one and
# a half times the size (the text no smaller than the buttons).
export WINEPREFIX=$root/build/windows/wineprefix-shots-dpi144
[ -d "$WINEPREFIX" ] || "$wine" wineboot -i >/dev/null 2>&1
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Microsoft Sans Serif" "MS Sans Serif"; do
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v "$face" /t REG_SZ \
    /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
done
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w 2>/dev/null || true
rm -f "$work/gif配置.ini"
GIFANIM_XVFB_SCREEN=1024x768x24 "$root/scripts/xvfb-run.sh" bash -c '
  set -euo pipefail
  work=$1 docs=$2 wine=$3
  xsetroot -solid "#3a6ea5" 2>/dev/null || true
  # A start ended by a kill leaves its recording, which the next start would offer in a box.
  rm -f "$WINEPREFIX"/drive_c/users/*/Temp/*.tmp
  (cd "$work" && "$wine" gifrec.exe) &
  frame=
  for _ in $(seq 60); do
    frame=$(xwininfo -root -tree | awk "/\"Zovaro GIF/ {print \$1; exit}")
    [ -n "$frame" ] && break
    sleep 0.5
  done
  [ -n "$frame" ] || { echo "screenshots: the frame window did not appear at 144 DPI" >&2; exit 1; }
  sleep 2
  import -window root "$work/screen.png"
  geometry() { xwininfo -id "$1" | awk "/Absolute upper-left X/ {x=\$4} /Absolute upper-left Y/ {y=\$4} /Width:/ {w=\$2} /Height:/ {h=\$2} END {print w \"x\" h \"+\" x \"+\" y}"; }
  /usr/bin/convert "$work/screen.png" -crop "$(geometry "$frame")" +repage "$docs/frame_window_144dpi.png"
  /usr/lib/wine/wineserver -k 2>/dev/null || true
' _ "$work" "$root/docs" "$wine"
echo "written: $root/docs/{frame_window,settings_window,preview_window,editor_window,frame_window_144dpi}.png"
