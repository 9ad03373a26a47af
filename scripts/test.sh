#!/usr/bin/env bash
# Sets up, builds and runs every test: the native core tests, a short run of every fuzz target,
# then the Win32 tests of the PE32 tree under Wine (scripts/wine-run.sh, windows on an Xvfb display).
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
part() { echo "== $1: $((SECONDS - started)) s since the test run started"; }

bash scripts/build.sh
part "set-up and build"
# The reporter's layers: no file includes, and no library links, a layer above its own; every
# include is written from the root (scripts/check-layers.py prints what it counted).
python3 scripts/check-layers.py
source scripts/wine-env.sh

ctest --test-dir build/native --output-on-failure
part "native tests"
# Every fuzz target for a bounded time (clang tree build/fuzz); prints the fuzz log.
bash scripts/fuzz.sh 10
part "fuzz targets"

echo "Win32 tests (build/win32) run under: $(bash scripts/wine-run.sh --describe)"
if [ "$(tidewell_wine_mode)" != vm ]; then
  tidewell_display
fi
peak=$TIDEWELL_VM_DIR/spool/watchdog-peak
trap '[ ! -f "$peak" ] || echo "Highest share of the processor the Wine server used over 90 s since the emulated machine started: $(cat "$peak")% (the watchdog kills it at 85%)"
  bash scripts/wine-run.sh --shutdown; part "Win32 tests"; if [ -n "${TIDEWELL_XVFB_PID:-}" ]; then kill "$TIDEWELL_XVFB_PID" 2>/dev/null || true; fi' EXIT
if ! ctest --test-dir build/win32 --output-on-failure; then
  # Once more, in a fresh Wine, for the tests that failed: a test that fails again fails the run.
  echo "Win32 tests: running the failed ones once more after a restart of Wine"
  bash scripts/wine-run.sh --shutdown
  ctest --test-dir build/win32 --output-on-failure --rerun-failed
fi
