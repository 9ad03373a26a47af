#!/usr/bin/env bash
# Builds and runs the benchmarks. Every figure is measured against a baseline timed in the same
# run; the run ends with a summary table (figure, ours, baseline, ratio ours / baseline, baseline).
#   scripts/bench.sh            the native benchmarks, then the Win32 harnesses under Wine
#   scripts/bench.sh --native   the native benchmarks only
# The native benchmarks are built optimised without the sanitizers in build/bench; the Win32
# harnesses in the cross tree build/win32 (configured as scripts/build.sh does). The exe whose code
# and debug information are measured is build/win32/app/Tidewell.exe (TIDEWELL_BENCH_WIN32_TREE
# names another cross tree, which for the Win32 part must lie in the checkout); with --native and
# no such exe, a PE32 built here from our own sources takes its place. Each benchmark's whole
# output is kept in build/bench/results/.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,11s/^# \{0,1\}//p' "$0"; }

native_only=0
for arg in "$@"; do
  case $arg in
  --native) native_only=1 ;;
  -h | --help) usage; exit 0 ;;
  *) echo "bench.sh: unknown option $arg" >&2; usage >&2; exit 2 ;;
  esac
done

native=build/bench
win32=${TIDEWELL_BENCH_WIN32_TREE:-build/win32}
results=$native/results
figures=$results/figures.tsv
failed=()

# --- what the benchmarks need -----------------------------------------------------------------

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in cmake ninja-build libbenchmark-dev libcapstone-dev libzydis-dev imagemagick zlib1g-dev \
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev; do
  if ! installed "$p"; then
    echo "bench.sh: $p is missing; running scripts/setup.sh" >&2
    bash scripts/setup.sh
    break
  fi
done
if ! addr2line=$(command -v i686-w64-mingw32-addr2line); then
  echo "bench.sh: i686-w64-mingw32-addr2line not found (binutils-mingw-w64-i686)" >&2
  exit 1
fi

# --- building ---------------------------------------------------------------------------------

echo "== building the native benchmarks ($native, Release, no sanitizers)"
if [ ! -f "$native/build.ninja" ] || ! grep -qx "CMAKE_BUILD_TYPE:STRING=Release" "$native/CMakeCache.txt" ||
  ! grep -qx "TIDEWELL_SANITIZE:BOOL=OFF" "$native/CMakeCache.txt"; then
  cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIDEWELL_SANITIZE=OFF >/dev/null
fi
cmake --build "$native" -j2 --target disasm_bench addrlookup_bench image_bench merge_bench kxaddr kesgen

if [ "$native_only" = 0 ]; then
  echo "== building the product and the Win32 harnesses ($win32)"
  if [ ! -f "$win32/build.ninja" ]; then
    cmake -S . -B "$win32" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
  fi
  cmake --build "$win32" -j2 --target Tidewell throw_bench composition_bench startup_bench
fi

# The measured exe: the product, stripped as shipped (its debug information in the embedded
# container or the .kes beside it) and as linked (with its DWARF, for addr2line).
exe=$win32/app/Tidewell.exe
unstripped=$win32/app/unstripped/Tidewell.exe
if [ ! -f "$exe" ] || [ ! -f "$unstripped" ]; then
  # Another real PE32: kxaddr and the portable debug-information and decoder code, cross-compiled
  # optimised with DWARF, its container written by kesgen, then stripped.
  pe32=$native/pe32
  exe=$pe32/kxaddr.exe
  unstripped=$pe32/unstripped/kxaddr.exe
  sources=(crash/analysis/debuginfo/{Crc32,Deflate,MapFile,ModelCache,Scrambler,SymbolNames,TextMap}.cpp crash/base/pe/PeImage.cpp
    crash/analysis/disasm/{Decoder,OpcodeTables}.cpp tools/kxaddr/main.cpp)
  stale=0
  [ -f "$unstripped" ] || stale=1
  for s in "${sources[@]}"; do
    if [ "$s" -nt "$unstripped" ]; then stale=1; fi
  done
  if [ "$stale" = 1 ]; then
    echo "== no $win32/app/Tidewell.exe: building a stand-in PE32 ($unstripped)"
    mkdir -p "$pe32/unstripped"
    i686-w64-mingw32-g++-posix -std=c++20 -O2 -g -I. \
      "${sources[@]}" -static -lz -o "$unstripped"
    "$native/tools/kesgen/kesgen" --source-root "$PWD" "$unstripped" "$pe32/kxaddr.kes"
    i686-w64-mingw32-strip --strip-all -o "$exe" "$unstripped"
  fi
fi
if ! i686-w64-mingw32-objdump -h "$unstripped" | grep -q '\.debug_line'; then
  echo "bench.sh: $unstripped carries no DWARF line table; addr2line would have nothing to read" >&2
  exit 1
fi
echo "== measured exe: $exe (with DWARF: $unstripped)"

# --- running ----------------------------------------------------------------------------------

rm -rf "$results"
mkdir -p "$results"
: >"$figures"

# run NAME COMMAND...: runs one benchmark, shows and keeps its output, gathers its figure lines.
run() {
  local name=$1
  shift
  echo "== $name"
  # Plain text: no carriage returns from Windows programs, no colours from Google Benchmark.
  if "$@" 2>&1 | tr -d '\r' | sed -u 's/\x1b\[[0-9;]*m//g' | tee "$results/$name.txt"; then
    if ! grep -q $'^figure\t' "$results/$name.txt"; then
      failed+=("$name (no figures)")
    fi
  else
    failed+=("$name")
  fi
  grep $'^figure\t' "$results/$name.txt" | cut -f2- >>"$figures" || true
}

run decoder "$native/bench/disasm/disasm_bench" "$exe"
run addrlookup "$native/bench/addrlookup/addrlookup_bench" "$native/tools/kxaddr/kxaddr" "$exe" "$addr2line" "$unstripped"
run png "$native/bench/image/image_bench"
run merge "$native/bench/output/merge_bench"
if [ "$native_only" = 0 ]; then
  run throw bash scripts/wine-run.sh "$win32/bench/capture/throw_bench.exe"
  run composition bash scripts/wine-run.sh "$win32/bench/composition/composition_bench.exe"
  run startup bash scripts/wine-run.sh "$win32/bench/startup/startup_bench.exe"
fi

# --- summary ----------------------------------------------------------------------------------

echo
echo "== summary ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), load average $(cut -d" " -f1-3 /proc/loadavg))"
echo "ratio = ours / baseline; for times, below 1 means ours takes less time"
{
  printf 'figure\tours\tbaseline\tratio\tbaseline name\n'
  cat "$figures"
} | column -t -s $'\t' | tee "$results/summary.txt"
if [ "$native_only" = 1 ]; then
  echo "(--native: the Win32 figures, throw, bug report and start-up, were not measured)"
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "bench.sh: failed: ${failed[*]} (outputs in $results)" >&2
  exit 1
fi
