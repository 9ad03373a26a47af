#!/usr/bin/env bash
# Regenerates the seeds of the module-reader fuzz targets from real files (see README.md):
# settings streams written by kxstream, a small PE32 exe and DLL built by i686-w64-mingw32-gcc,
# the exe's linker map, its debug container written by kesgen, code bytes of its code section and
# of a C-run-time exe, and BMP pictures. Needs the native tree's kxstream and kesgen
# (cmake --build build/native --target kxstream kesgen) and the mingw-w64 tool chain.
# Usage: tests/fuzz/make-seeds.sh [NATIVE_BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
native=${1:-$root/build/native}
corpus=$root/tests/fuzz/corpus
seeds=$root/tests/fuzz/seeds
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc=i686-w64-mingw32-gcc
objcopy=i686-w64-mingw32-objcopy

mkdir -p "$corpus"/{settings_stream,debug_container,text_map,pe_image,disasm,bmp}

# Settings streams: the product's settings and one of the test settings.
"$native/tools/kxstream/kxstream" settings "$root/resources/settings/Tidewell.settings" "$corpus/settings_stream/Tidewell.stream"
"$native/tools/kxstream/kxstream" settings "$root/tests/crash/base/settings/win32/Own.settings" "$corpus/settings_stream/Own.stream"

# The exe: without the C run time, with DWARF for kesgen and the linker's map.
flags=(-O2 -g -nostdlib -nostartfiles -fno-asynchronous-unwind-tables -fno-ident)
(cd "$work" && cp "$seeds"/station.c "$seeds"/station.rc . &&
  $cc "${flags[@]}" -Wl,-e,_start -Wl,-Map,station.map station.c -lkernel32 -o station.exe)
"$native/tools/kesgen/kesgen" --source-root "$work" "$work/station.exe" "$work/station.kes"
cp "$work/station.map" "$corpus/text_map/mingw-ld.map"
cp "$work/station.kes" "$corpus/debug_container/station.kes"
c++ -std=c++20 -O1 -I"$root" "$seeds/ExtractDebugStream.cpp" \
  "$root/crash/analysis/debuginfo/Deflate.cpp" "$root/crash/analysis/debuginfo/Scrambler.cpp" \
  "$root/crash/analysis/debuginfo/Crc32.cpp" -lz -o "$work/extract"
"$work/extract" "$work/station.kes" "$corpus/debug_container/station"
# The shipped form: the container as the exe's TIDEWELLDEBUG resource, the exe stripped.
(cd "$work" && i686-w64-mingw32-windres station.rc -O coff -o station.res &&
  $cc "${flags[@]}" -s -Wl,-e,_start station.c station.res -lkernel32 -o station-shipped.exe)
cp "$work/station-shipped.exe" "$corpus/pe_image/station.exe"
(cd "$work" && $cc "${flags[@]}" -s -shared -DSTATION_DLL -Wl,-e,_DllMainCRTStartup@12 station.c -lkernel32 -o station.dll)
cp "$work/station.dll" "$corpus/pe_image/station.dll"

# Code bytes (the disasm target's first four bytes place the section at 0x00401000 and give the
# entry's offset): the exe's own functions, and the start of a C-run-time exe's code section.
text_of() { $objcopy -O binary --only-section=.text "$1" "$2"; }
entry_seed() { # OUT BYTES OFFSET
  printf "\\x00\\x40\\x$(printf %02x $(($3 & 0xFF)))\\x$(printf %02x $(($3 >> 8)))" > "$1"
  cat "$2" >> "$1"
}
text_of "$work/station.exe" "$work/station.text"
base=$(i686-w64-mingw32-nm "$work/station.exe" | awk '$3 == "__text_start__" || $3 == ".text" {print $1; exit}')
for fn in _start _average _dew_point _direction _checksum; do
  at=$(i686-w64-mingw32-nm "$work/station.exe" | awk -v f="$fn" '$3 == f {print $1}')
  entry_seed "$corpus/disasm/station$fn" "$work/station.text" $((0x$at - 0x$base))
done
printf '#include <stdio.h>\n#include <stdlib.h>\nstatic int by(const void *a, const void *b) { return *(const int *)a - *(const int *)b; }\nint main(int argc, char **argv) { int v[4] = {argc, 3, 1, 2}; qsort(v, 4, sizeof *v, by); printf("%%s %%d\\n", argv[0], v[0]); return 0; }\n' > "$work/crt.c"
$cc -O2 "$work/crt.c" -o "$work/crt.exe"
text_of "$work/crt.exe" "$work/crt.text"
head -c 4096 "$work/crt.text" > "$work/crt.part"
entry_seed "$corpus/disasm/crt_start" "$work/crt.part" 0

# BMP pictures: the progress window's 32-bit clock, and ImageMagick conversions of it to the
# other depths the reader takes (8-bit palette, 8-bit RLE, 4-bit, 1-bit, 24-bit, 16-bit).
cp "$root/tests/crash/ui/progress/win32/data/clock32.bmp" "$corpus/bmp/clock32.bmp"
clock="$root/tests/crash/ui/progress/win32/data/clock32.bmp"
convert "$clock" -resize 16x16 -colors 200 -type Palette BMP3:"$corpus/bmp/clock8.bmp"
convert "$clock" -resize 16x16 -colors 200 -type Palette -compress RLE BMP3:"$corpus/bmp/clock8rle.bmp"
convert "$clock" -resize 16x16 -colors 16 -type Palette BMP3:"$corpus/bmp/clock4.bmp"
convert "$clock" -resize 16x16 -monochrome BMP3:"$corpus/bmp/clock1.bmp"
convert "$clock" -resize 12x12 -type TrueColor BMP3:"$corpus/bmp/clock24.bmp"
convert "$clock" -resize 12x12 -define bmp:subtype=RGB565 BMP:"$corpus/bmp/clock16.bmp"
echo "seeds written to $corpus"
