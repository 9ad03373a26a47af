#pragma once
// The "cpu registers" and "stack dump" sections, made from a register context and the stack's
// memory.
#include <cstdint>
#include <functional>
#include <string>

#include "crash/capture/exception/KXException.h"

namespace kx {

// x86-32: nine lines "eax = 0012f5a0" ... "ebp = ...". x86-64: one line per general register
// "rax = 000000000012f5a0" ... "r15 = ...", "rip", "rsp", "rbp", then "eflags = 00000246" and a
// line of the segment registers "cs = 0033  ds = 002b  es = 002b  fs = 0053  gs = 002b  ss = 002b".
std::string CpuRegistersText(const KXRegisterContext &context);

// Reads `count` bytes at `address`; false when any of them cannot be read.
using KXReadMemoryFn = std::function<bool(uint64_t address, uint8_t *buffer, size_t count)>;

// At most 20 lines of 16 bytes from `start` up to `end` (0: no end known). Reading stops at the
// first byte that cannot be read. x86-32 lines show the bytes:
// "0012f5a0  a8 f5 12 00 00 00 00 00 - 48 e3 45 00 00 00 00 00  ........H.E....."; x86-64 lines
// (x64) show the two 8-byte words, as values, where the stack holds its pointers:
// "000000000012f5a0  000000000012f5a8 - 000000014000e348  ........H.......". A line cut short by
// an unreadable byte shows only the whole words it read (and all its bytes on the right).
std::string StackDumpText(uint64_t start, uint64_t end, const KXReadMemoryFn &read, bool x64 = false);

} // namespace kx
