#!/usr/bin/env bash
# Sets up, builds and starts the tool (the PE32 exe) under Wine.
#   scripts/run.sh          the tool with a simulated station (TidewellSim.exe)
#   scripts/run.sh --real   the tool with the system's HID devices (Tidewell.exe)
#   scripts/run.sh --x64 [--real]   the same as PE32+ (64-bit) exe from build/win64, run directly
# With a display (and a processor that runs 32-bit code) the window opens there. Otherwise the
# tool runs on a private Xvfb display (in the emulated machine when this processor runs no
# 32-bit code) for a few seconds, and a screenshot of it is saved to
# build/screenshots/tidewell.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh

name=TidewellSim
tree=build/win32
for arg in "$@"; do
  case "$arg" in
  --real) name=Tidewell ;;
  --x64) tree=build/win64; export TIDEWELL_WINE_X64=1 ;;
  *) echo "usage: scripts/run.sh [--x64] [--real]" >&2; exit 2 ;;
  esac
done
exe=$tree/app/$name.exe
source scripts/wine-env.sh
mode=$(tidewell_wine_mode)
echo "$name.exe runs under: $(bash scripts/wine-run.sh --describe)"

if [ "$mode" != vm ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec bash scripts/wine-run.sh "$exe"
fi
if [ "$mode" = vm ] && [ -n "${DISPLAY:-}" ]; then
  echo "note: this processor runs no 32-bit code; the tool runs in the emulated machine's own display"
fi

cleanup() {
  if [ "$mode" = vm ]; then bash scripts/wine-run.sh --shutdown; else bash scripts/wine-run.sh --stop; fi
  if [ -n "${TIDEWELL_XVFB_PID:-}" ]; then kill "$TIDEWELL_XVFB_PID" 2>/dev/null || true; fi
}
if [ "$mode" != vm ]; then
  unset DISPLAY
  tidewell_display
fi
trap cleanup EXIT

mkdir -p build/screenshots
bash scripts/wine-run.sh "$exe" &
tool=$!
for _ in $(seq 120); do
  sleep 1
  if tidewell_on_display xwininfo -root -tree 2>/dev/null | grep -q '"Tidewell Interval"'; then break; fi
done
sleep 2
tidewell_capture_screen build/screenshots/tidewell.png
echo "screenshot: build/screenshots/tidewell.png"
cleanup
trap - EXIT
wait "$tool" 2>/dev/null || true
