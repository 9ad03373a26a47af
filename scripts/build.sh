#!/usr/bin/env bash
# Sets up the machine, then configures and builds both trees:
#   build/native  the portable core, its tests (AddressSanitizer, UBSan) and the host tools
#   build/win32   the product: Tidewell.exe and TidewellSim.exe (PE32) and the Win32 tests
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

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
