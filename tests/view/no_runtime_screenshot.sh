#!/usr/bin/env bash
# Starts the Windows program under Wine on a virtual X display with no WebView2 runtime anywhere,
# answers the error box, and keeps a screenshot of the window: it must show the written
# explanation on the window's own background, not a black or empty window.
# Usage: no_runtime_screenshot.sh <build folder> <program> <screenshot.png>
set -euo pipefail
build="$1"
program="$2"
screenshot="$3"
here="$(cd "$(dirname "$0")" && pwd)"
wine_run="$here/../../cmake/wine-run"

work="$build/no-runtime"
rm -rf "$work"
mkdir -p "$work/program" "$work/appdata"
cp "$program" "$work/program/"
mkdir -p "$(dirname "$screenshot")"

exec 8< <(Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null)
read -r display <&8
export DISPLAY=":$display"
xvfb=$(pgrep -n -x Xvfb)
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
  WINEPREFIX="$build/wine/prefix" wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

unset WEBVIEW2_BROWSER_EXECUTABLE_FOLDER
(cd "$work/program" && LOCALAPPDATA="Z:$work/appdata" exec "$wine_run" "$build" "$work/program/VelkaphonRack.exe") &
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
