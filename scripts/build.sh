#!/usr/bin/env bash
# Sets up the machine, then configures and builds every tree:
#   build/native  the portable core, its tests (AddressSanitizer, UBSan) and the host tools
#   build/win32   the product: Tidewell.exe (PE32) and the Win32 tests
#   build/win64   the same Win32 code for 64-bit Wine, built only where this kernel cannot
#                 run 32-bit programs (some virtual machines switch that off)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/wine-env.sh

configure() { # dir [cmake args...]
  local dir=$1
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$@"
  fi
  cmake --build "$dir"
}

configure build/native
configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
if ! tidewell_can_run_32bit; then
  configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
fi
