#pragma once
// Correcting an exception address: an address that is none of its function's instruction
// boundaries, but lies 4 bytes before one, is moved onto it.
#include <cstdint>

#include "crash/analysis/disasm/Decoder.h"

namespace kx {

// Whether address lies just after one of the function's calls (known or unknown target) or at the
// start of an instruction of one of its code areas.
bool IsInstructionBoundary(const tidewell::disasm::MemoryReader &memory, uint32_t functionEntry, uint32_t address);

// address + 4 when that is a boundary of the function and address is not; else address.
uint32_t CorrectedExceptAddress(const tidewell::disasm::MemoryReader &memory, uint32_t functionEntry, uint32_t address);

} // namespace kx
