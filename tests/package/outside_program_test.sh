#!/usr/bin/env bash
# A program from outside the tree, in a folder of its own, built by the README's steps
# ("Add the crash reporter to your program") against the package that `cmake --install` of the
# Windows tree writes: find_package(Kestrelix), Kestrelix::Kestrelix, kestrelix_add_reporter.
# Its main calls a function of a second source file that throws; run under Wine, it must write
# bugreport.txt beside its exe, whose crashed thread names that function, its unit and its line.
# The folder lies under build/ of the checkout only because the emulated machine that runs 32-bit
# programs sees nothing else; it is a project of its own, and nothing of the source tree is used
# but the installed package and the toolchain file.
#   outside_program_test.sh WINDOWS_BUILD_TREE TOOLCHAIN_FILE
set -euo pipefail
tree=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$1
toolchain=$2
case $toolchain in /*) ;; *) toolchain=$tree/$toolchain ;; esac
mkdir -p "$tree/build"
work=$(mktemp -d "$tree/build/kestrelix-outside.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== installing the package into $work/prefix"
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }

mkdir -p "$work/gauge"
cat >"$work/gauge/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(Gauge LANGUAGES CXX)
find_package(Kestrelix REQUIRED)
add_executable(gauge main.cpp Gauge.cpp)
target_link_libraries(gauge PRIVATE Kestrelix::Kestrelix)
kestrelix_add_reporter(gauge SETTINGS gauge.settings)
EOF
cat >"$work/gauge/gauge.settings" <<'EOF'
Enabled = true
AutoSave = true
GnShowCfg = 4
PlWaitBox = false
EOF
cat >"$work/gauge/Gauge.h" <<'EOF'
#pragma once
double CalibrateGauge(int channel);
EOF
cat >"$work/gauge/Gauge.cpp" <<'EOF'
#include "Gauge.h"

#include <stdexcept>
#include <string>

double CalibrateGauge(int channel) {
  if (channel > 3)
    throw std::out_of_range("no gauge on channel " + std::to_string(channel));
  return 1.0;
}
EOF
cat >"$work/gauge/main.cpp" <<'EOF'
#include <cstdio>

#include "Gauge.h"

int main() {
  std::printf("%f\n", CalibrateGauge(7));
  return 0;
}
EOF

echo "== configuring and building the program"
cmake -S "$work/gauge" -B "$work/gauge/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "configure"; }
cmake --build "$work/gauge/build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build"; }

echo "== running it alone in a folder of its own"
mkdir -p "$work/run"
cp "$work/gauge/build/gauge.exe" "$work/run/"
cd "$work/run"
set +e
"$tree/scripts/wine-run.sh" ./gauge.exe >"$work/run.log" 2>&1
code=$?
set -e
echo "exit code $code"
[ -f bugreport.txt ] || { cat "$work/run.log"; fail "no bugreport.txt beside the exe"; }
# The header, then the crashed thread's section up to the next empty line.
report=$(tr -d '\r' <bugreport.txt)
crashed=$(printf '%s\n' "$report" | awk 'BEGIN{s=0} /^$/{s++; next} s==1{print}')
printf '%s\n' "$report" | grep -E '^exception class +: std::out_of_range$' >/dev/null || fail "exception class"
printf '%s\n' "$report" | grep -E '^exception message +: no gauge on channel 7\.$' >/dev/null || fail "exception message"
line=$(grep -n 'throw std::out_of_range' "$work/gauge/Gauge.cpp" | cut -d: -f1)
printf '%s\n' "$crashed" | grep -E "^[0-9a-f]{8} \+[0-9a-f]+ gauge\.exe +Gauge +$line +\+[0-9]+ CalibrateGauge$" >/dev/null ||
  { printf '%s\n' "$crashed"; fail "the crashed thread does not name CalibrateGauge at Gauge $line"; }
echo "PASS: the crashed thread names CalibrateGauge, unit Gauge, line $line"
