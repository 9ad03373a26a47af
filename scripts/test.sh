#!/usr/bin/env bash
# Sets up, builds and runs every test: the native core tests, a short run of every fuzz target,
# then the Win32 tests of the PE32 tree under Wine (scripts/wine-run.sh, windows on an Xvfb display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
source scripts/wine-env.sh

ctest --test-dir build/native --output-on-failure
# Every fuzz target for a bounded time (clang tree build/fuzz); prints the fuzz log.
bash scripts/fuzz.sh 10

echo "Win32 tests (build/win32) run under: $(bash scripts/wine-run.sh --describe)"
if [ "$(tidewell_wine_mode)" != vm ]; then
  tidewell_display
fi
peak=$TIDEWELL_VM_DIR/spool/watchdog-peak
trap '[ ! -f "$peak" ] || echo "Highest share of the processor the Wine server used over 90 s since the emulated machine started: $(cat "$peak")% (the watchdog kills it at 85%)"
  bash scripts/wine-run.sh --shutdown; if [ -n "${TIDEWELL_XVFB_PID:-}" ]; then kill "$TIDEWELL_XVFB_PID" 2>/dev/null || true; fi' EXIT
if ! ctest --test-dir build/win32 --output-on-failure; then
  # Once more, in a fresh Wine, for the tests that failed: a test that fails again fails the run.
  echo "Win32 tests: running the failed ones once more after a restart of Wine"
  bash scripts/wine-run.sh --shutdown
  ctest --test-dir build/win32 --output-on-failure --rerun-failed
fi
