#!/usr/bin/env bash
# Photographs the setup dialog in its interesting states, in both languages, on a private Xvfb
# display. The states are set up by the screenshot cases of the Windows program win_ui_tests;
# this script takes each picture from the X server when the program asks for it.
#   ui_screenshots.sh BUILD_DIR [OUTPUT_DIR]    (default output: artifacts/screenshots)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: ui_screenshots.sh BUILD_DIR [OUTPUT_DIR]}" && pwd)
out=${2:-$root/artifacts/screenshots}
program=$build/tests/win_ui_tests.exe
[ -f "$program" ] || { echo "missing $program: build the windows preset first" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out"/*.ready "$out"/*.ready.tmp "$out"/*.png

# A free display number, and the server on it for as long as this script runs.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display"

# A Wine prefix of its own, where Wine draws the window frames itself: the private display has no
# window manager to draw them. Set up once the display exists, which Wine's desktop then uses.
export QERV_WINEPREFIX=${QERV_WINEPREFIX:-$build/wineprefix-screenshots}
"$root/scripts/wine-run.sh" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null

# Only the screenshot cases, chosen through the environment (the dialog's checks depend on whether
# the program was given an argument); it sees the output folder through Wine's drive Z:.
GTEST_FILTER='Screenshots.*' QERV_UI_SCREENSHOT_DIR="Z:${out//\//\\}" \
  "$root/scripts/wine-run.sh" "$program" &
program_pid=$!

while kill -0 "$program_pid" 2>/dev/null; do
  for ready in "$out"/*.ready; do
    [ -e "$ready" ] || continue
    read -r x y width height <"$ready"
    name=$(basename "$ready" .ready)
    /usr/bin/import -display "$DISPLAY" -window root -crop "${width}x${height}+${x}+${y}" +repage \
      "$out/$name.tmp.png"
    mv "$out/$name.tmp.png" "$out/$name.png"
    rm -f "$ready"
    echo "$out/$name.png"
  done
  sleep 0.2
done
status=0
wait "$program_pid" || status=$?
# The prefix's Wine processes go with the program, before the display they use does.
WINEPREFIX=$QERV_WINEPREFIX wineserver -w
exit "$status"
