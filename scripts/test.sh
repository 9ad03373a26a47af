#!/usr/bin/env bash
# Sets up, builds and runs every test: the native core tests, a short run of every fuzz target,
# then the Win32 tests of the 64-bit and of the PE32 tree under Wine (scripts/wine-run.sh, windows
# on an Xvfb display). A failing test fails the run: nothing is run twice.
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

win64_failed=
# The Win32 tests of the 64-bit tree: directly on this processor (no emulated machine), with
# their own Wine prefix and an Xvfb display.
(
  export TIDEWELL_WINE_X64=1
  unset WINEPREFIX # the 64-bit programs have their own
  source scripts/wine-env.sh
  echo "Win32 tests (build/win64, $(ctest --test-dir build/win64 -N | sed -n 's/^Total Tests: //p') tests) run under: $(bash scripts/wine-run.sh --describe)"
  tidewell_display
  trap 'bash scripts/wine-run.sh --shutdown; if [ -n "${TIDEWELL_XVFB_PID:-}" ]; then kill "$TIDEWELL_XVFB_PID" 2>/dev/null || true; fi' EXIT
  ctest --test-dir build/win64 --output-on-failure
) || win64_failed=1
part "Win32 tests of the 64-bit tree"

# The Win32 tests of the PE32 tree. Where this processor runs no 32-bit code they run in the
# emulated machine, ten times slower: there the end-to-end tests, the crash laboratory, the
# tracer's and disassembler's live tests and the catching and fault cases run (everything else
# ran above as 64-bit code from the same sources); elsewhere all of them.
pe32_tests=()
if [ "$(tidewell_wine_mode)" = vm ]; then
  pe32_tests=(-R '^(sim_station_e2e|kestrace_e2e|crashlab_.*|stacktrace_win32_tests|traceprocess_win32_tests|disasm_live_memory_tests|exception_win32_tests|catching_tests|runtime_tests)$')
fi
echo "Win32 tests (build/win32, $(ctest --test-dir build/win32 -N "${pe32_tests[@]}" | sed -n 's/^Total Tests: //p') of $(ctest --test-dir build/win32 -N | sed -n 's/^Total Tests: //p') tests) run under: $(bash scripts/wine-run.sh --describe)"
if [ "$(tidewell_wine_mode)" != vm ]; then
  tidewell_display
fi
peak=$TIDEWELL_VM_DIR/spool/watchdog-peak
trap '[ ! -f "$peak" ] || echo "Highest share of the processor the Wine server used over 90 s since the emulated machine started: $(cat "$peak")% (the watchdog kills it at 85%)"
  bash scripts/wine-run.sh --shutdown; part "Win32 tests of the PE32 tree"; if [ -n "${TIDEWELL_XVFB_PID:-}" ]; then kill "$TIDEWELL_XVFB_PID" 2>/dev/null || true; fi' EXIT
ctest --test-dir build/win32 --output-on-failure "${pe32_tests[@]}"
if [ -n "${win64_failed:-}" ]; then
  echo "Win32 tests of the 64-bit tree: some failed (see above)" >&2
  exit 1
fi
