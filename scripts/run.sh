#!/usr/bin/env bash
# Builds and starts Kestrix under Wine, installing what is missing first.
# With a DISPLAY the program appears there; without one it runs on a private
# Xvfb display, and the script says how to look at it. Ends when the program
# does (tray menu "Exit", or Ctrl+C here).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
kestrix_use_prefix run
kestrix_end_with kestrix_stop
kestrix_prepare
if [ -z "${DISPLAY:-}" ]; then
  kestrix_start_xvfb 1280x1024x24
  cat >&2 <<MSG
kestrix: no DISPLAY, so Kestrix runs on the private display $DISPLAY.
  Take a picture of that display:   import -display $DISPLAY -window root shot.png
  Drive it (tray icon at the top left): DISPLAY=$DISPLAY xdotool mousemove 13 32 click --repeat 2 1
MSG
fi
kestrix_start_wine
# Waited for, not run in the foreground, so that a signal to this script
# ends the session (and the program with it) at once.
wine "$BUILD/bin/kestrix.exe" "$@" &
wait $!
