#!/usr/bin/env bash
# Reads the laboratory's minidump with lldb, a minidump reader of its own, on the build machine:
# the dump must open as a process of the laboratory's architecture (32-bit x86 or x86-64), hold
# the laboratory among its modules and give the crashed thread the registers of the fault (its
# instruction pointer inside the laboratory).
#   check_minidump.sh DUMP EXE-NAME
set -uo pipefail
dump=$1 exe=$2
if [ ! -s "$dump" ]; then
  echo "FAIL: no minidump at $dump" >&2
  exit 1
fi
out=$(lldb --batch --no-lldbinit -c "$dump" -o "image list" -o "thread list" -o "register read pc" 2>&1)
echo "$out"
fail() {
  echo "FAIL: $1" >&2
  exit 1
}
grep -qi "ntdll.dll" <<<"$out" || fail "ntdll.dll is not among the dump's modules"
if grep -q "(x86_64) was loaded" <<<"$out"; then
  # x86-64: the crashed thread (#1) stands in the laboratory, at the instruction pointer read.
  pc=$(sed -n 's/.*rip = 0x\([0-9a-fA-F]*\).*/\1/p' <<<"$out" | head -n1)
  [ -n "$pc" ] || fail "no instruction pointer for the crashed thread"
  grep -q "thread #1: .*0x$pc $exe\`" <<<"$out" || fail "the crashed thread does not stand in $exe at rip 0x$pc"
  echo "minidump ok: x86-64, crashed thread in $exe at rip 0x$pc"
  exit 0
fi
grep -qi "i386\|i686\|x86" <<<"$out" || fail "lldb does not see a 32-bit x86 process"
grep -qi "$exe" <<<"$out" || fail "$exe is not among the dump's modules"
eip=$(sed -n 's/.*eip = 0x\([0-9a-fA-F]*\).*/\1/p' <<<"$out" | head -n1)
[ -n "$eip" ] || fail "no instruction pointer for the crashed thread"
base=$(grep -i "$exe" <<<"$out" | grep -o '0x[0-9a-fA-F]\{8\}' | head -n1)
[ -n "$base" ] || fail "no load address for $exe"
# The fault lies in the laboratory's code: within its first 16 MB.
offset=$((16#$eip - base))
if [ "$offset" -lt 0 ] || [ "$offset" -ge $((16 * 1024 * 1024)) ]; then
  fail "the crashed thread's eip 0x$eip is not inside $exe (loaded at $base)"
fi
echo "minidump ok: $exe at $base, crashed thread at eip 0x$eip"
