#!/usr/bin/env bash
# Sets up, builds and runs every test: the native core tests, then the Win32 tests under Wine
# (windows on a private Xvfb display when there is none).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
source scripts/wine-env.sh

ctest --test-dir build/native --output-on-failure

if tidewell_can_run_32bit; then
  wintree=build/win32
else
  echo "note: this kernel cannot run 32-bit programs; the Win32 tests run as 64-bit builds under 64-bit Wine"
  wintree=build/win64
  tidewell_use_wine64
fi
tidewell_wine_prefix
tidewell_display
trap '"${WINESERVER:-wineserver}" -k 2>/dev/null || true; if [ -n "${TIDEWELL_XVFB_PID:-}" ]; then kill "$TIDEWELL_XVFB_PID" 2>/dev/null || true; fi' EXIT
ctest --test-dir "$wintree" --output-on-failure
