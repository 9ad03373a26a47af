#!/usr/bin/env bash
# Sets up the machine, then configures and builds both trees:
#   build/native  the portable core, its tests (AddressSanitizer, UBSan) and the host tools
#   build/win32   the product: Tidewell.exe and TidewellSim.exe (PE32) and the Win32 tests
#   build/win64   the same from the same sources as PE32+ (x86-64), with the same tests
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/wine-env.sh

configure() { # dir build-type [cmake args...]
  local dir=$1 type=$2
  shift 2
  if [ ! -f "$dir/build.ninja" ] || ! grep -qx "CMAKE_BUILD_TYPE:STRING=$type" "$dir/CMakeCache.txt"; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@"
  fi
  cmake --build "$dir"
}

# Tests of the Windows tree wait for real time; in the emulated machine everything takes about
# ten times longer (scripts/wine-run.sh stretches the tests' own limits the same way). There the
# longest test takes about four minutes; its limit is four times the PC's, 20 minutes, since a
# test that hangs costs its whole limit and the test run has to fit in CI's time.
timeout=300
if [ "$(tidewell_wine_mode)" = vm ]; then timeout=1200; fi

configure build/native Debug
# The product as users get it: optimised, its exes stripped after their debug information is
# written; the tests of the tree run optimised too.
configure build/win32 RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
if ! grep -qx "TIDEWELL_TEST_TIMEOUT:STRING=$timeout" build/win32/CMakeCache.txt; then
  cmake build/win32 -DTIDEWELL_TEST_TIMEOUT=$timeout >/dev/null
fi
# The 64-bit tree runs its tests directly on this processor, never in the emulated machine.
configure build/win64 RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
if ! grep -qx "TIDEWELL_TEST_TIMEOUT:STRING=300" build/win64/CMakeCache.txt; then
  cmake build/win64 -DTIDEWELL_TEST_TIMEOUT=300 >/dev/null
fi
