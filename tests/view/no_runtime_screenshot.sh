#!/usr/bin/env bash
# Starts the Windows program under Wine on a virtual X display with no WebView2 runtime anywhere,
# answers the error box, and keeps a screenshot of the window: it must show the written
# explanation on the window's own background, not a black or empty window.
# Usage: no_runtime_screenshot.sh <build folder> <program> <screenshot.png>
set -euo pipefail
build="$(cd "$1" && pwd)"
program="$2"
screenshot="$3"
here="$(cd "$(dirname "$0")" && pwd)"
wine_run="$here/../../cmake/wine-run"

work="$build/no-runtime"
# A Wine prefix of its own: a session the other tests started without a display would take the
# program's windows.
wine_build="$build/no-runtime-wine"
rm -rf "$work"
mkdir -p "$work/program" "$work/appdata"
cp "$program" "$work/program/"
mkdir -p "$(dirname "$screenshot")"

# The prefix is made without a display (with one, Wine would offer to install its extras and wait),
# and its session ended, so the program's run starts one on the virtual display.
export WINEDLLOVERRIDES="mscoree,mshtml="
env -u DISPLAY "$wine_run" "$wine_build" cmd.exe /c exit 0 >/dev/null 2>&1 || true
WINEPREFIX="$wine_build/wine/prefix" /usr/lib/wine/wineserver64 -w

exec 8< <(Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null)
read -r display <&8
export DISPLAY=":$display"
xvfb=$(pgrep -n -x Xvfb)
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
  WINEPREFIX="$wine_build/wine/prefix" /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 1' INT TERM

unset WEBVIEW2_BROWSER_EXECUTABLE_FOLDER
(cd "$work/program" && LOCALAPPDATA="Z:$work/appdata" exec "$wine_run" "$wine_build" "$work/program/VelkaphonRack.exe") &
program_pid=$!

# The error box comes first, before the main window shows; answering it lets the program go on.
box=$(xdotool search --sync --onlyvisible --name '^VELKAPHON RACK$' | head -n 1)
xdotool windowfocus --sync "$box" key Return
window=$(xdotool search --sync --onlyvisible --name '^VELKAPHON RACK .' | head -n 1)

# The window paints its explanation once the box is gone: wait for a light background with text.
while :; do
  xwd -silent -id "$window" | convert xwd:- "png:$screenshot"
  # The share of light pixels: about 0 for a black window, 1 for an empty one.
  light=$(convert "$screenshot" -colorspace Gray -threshold 50% -format '%[fx:mean]' info:)
  if awk -v l="$light" 'BEGIN { exit !(l > 0.5 && l < 0.999) }'; then
    break
  fi
  sleep 0.2
done
echo "screenshot: $screenshot (light pixels: $light)"
