#!/usr/bin/env bash
# Runs the crash dialog's window test under Wine and Xvfb and saves the dialogs it shows as PNG
# files in build/screenshots (exception-box-*.png):
#   tests/crash/ui/dialog/win32/screenshots.sh [build tree, default build/win64]
# The test announces each picture with a .rect file; this script captures that part of the display.
set -euo pipefail
cd "$(dirname "$0")/../../../../.."
tree=${1:-build/win64}
source scripts/wine-env.sh
if ! tidewell_can_run_32bit; then tidewell_use_wine64; fi
export WINEPREFIX=${SCREENSHOT_WINEPREFIX:-$WINEPREFIX}
tidewell_wine_prefix
tidewell_display
out=$PWD/build/screenshots
mkdir -p "$out"
case $tree in /*) ;; *) tree=$PWD/$tree ;; esac
exe=$tree/tests/crash/ui/dialog/tidewell_exception_box_window_test.exe
TIDEWELL_SCREENSHOTS="Z:$out" "$TIDEWELL_WINE" "$exe" >/dev/null 2>&1 &
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
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "${rect%.rect}.png"
    rm -f "$rect"
    echo "screenshot: ${rect%.rect}.png"
  done
  sleep 0.1
done
wait "$test_pid"
