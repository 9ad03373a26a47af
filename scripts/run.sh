#!/usr/bin/env bash
# Sets up, builds and starts the tool under Wine.
#   scripts/run.sh          the tool with a simulated station (TidewellSim.exe)
#   scripts/run.sh --real   the tool with the system's HID devices (Tidewell.exe)
# Without a display the tool runs on a private Xvfb display for a few seconds and a
# screenshot of its window is saved to build/screenshots/tidewell.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
source scripts/wine-env.sh

name=TidewellSim
if [ "${1:-}" = "--real" ]; then name=Tidewell; fi
exe=build/win32/app/$name.exe
if ! tidewell_can_run_32bit; then
  echo "note: this kernel cannot run 32-bit programs; running the 64-bit build of the same code"
  exe=build/win64/app/$name.exe
  tidewell_use_wine64
fi
tidewell_wine_prefix

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$TIDEWELL_WINE" "$exe"
fi

tidewell_display
mkdir -p build/screenshots
"$TIDEWELL_WINE" "$exe" &
tool=$!
for _ in $(seq 60); do
  sleep 1
  if xwininfo -root -tree 2>/dev/null | grep -q '"Tidewell Interval"'; then break; fi
done
sleep 2
import -window root build/screenshots/tidewell.png
echo "screenshot: build/screenshots/tidewell.png"
kill "$tool" 2>/dev/null || true
"${WINESERVER:-wineserver}" -k 2>/dev/null || true
if [ -n "${TIDEWELL_XVFB_PID:-}" ]; then kill "$TIDEWELL_XVFB_PID" 2>/dev/null || true; fi
