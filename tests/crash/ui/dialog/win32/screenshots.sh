#!/usr/bin/env bash
# Runs the crash dialog's window test under Wine and Xvfb and saves the dialogs it shows as PNG
# files in build/screenshots (exception-box-*.png):
#   tests/crash/ui/dialog/win32/screenshots.sh
# The test announces each picture with a .rect file; this script captures that part of the display.
set -euo pipefail
cd "$(dirname "$0")/../../../../.."
source scripts/wine-env.sh
if [ "$(tidewell_wine_mode)" != vm ]; then tidewell_display; fi
out=$PWD/build/screenshots
mkdir -p "$out"
exe=$PWD/build/win32/tests/crash/ui/dialog/tidewell_exception_box_window_test.exe
TIDEWELL_SCREENSHOTS="Z:$out" bash scripts/wine-run.sh "$exe" >/dev/null 2>&1 &
test_pid=$!
cleanup() {
  kill "$test_pid" 2>/dev/null || true
  if [ -n "${TIDEWELL_XVFB_PID:-}" ]; then kill "$TIDEWELL_XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT
while kill -0 "$test_pid" 2>/dev/null; do
  for rect in "$out"/*.rect; do
    [ -e "$rect" ] || continue
    read -r x y w h <"$rect"
    tidewell_capture_screen "${rect%.rect}.png" "${w}x${h}+${x}+${y}"
    rm -f "$rect"
    echo "screenshot: ${rect%.rect}.png"
  done
  sleep 0.1
done
wait "$test_pid"
