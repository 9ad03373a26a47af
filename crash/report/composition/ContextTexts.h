#pragma once
// The "cpu registers" and "stack dump" sections, made from a register context and the stack's
// memory.
#include <cstdint>
#include <functional>
#include <string>

#include "crash/capture/exception/KXException.h"

namespace kx {

// Nine lines "eax = 0012f5a0" ... "ebp = ...".
std::string CpuRegistersText(const KXRegisterContext &context);

// Reads `count` bytes at `address`; false when any of them cannot be read.
using KXReadMemoryFn = std::function<bool(uint64_t address, uint8_t *buffer, size_t count)>;

// At most 20 lines of 16 bytes from `start` up to `end` (0: no end known). A line reads
// "0012f5a0  a8 f5 12 00 00 00 00 00 - 48 e3 45 00 00 00 00 00  ........H.E.....". Reading stops
// at the first byte that cannot be read.
std::string StackDumpText(uint64_t start, uint64_t end, const KXReadMemoryFn &read);

} // namespace kx
