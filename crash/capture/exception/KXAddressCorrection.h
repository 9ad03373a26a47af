#pragma once
// Correcting an exception address: an address that is none of its function's instruction
// boundaries, but lies 4 bytes before one, is moved onto it.
#include <cstdint>

#include "crash/analysis/disasm/Decoder.h"

namespace kx {

// Whether address lies just after one of the function's calls (known or unknown target) or at the
// start of an instruction of one of its code areas.
// `mode` is the kind of code (32-bit or 64-bit).
bool IsInstructionBoundary(const tidewell::disasm::MemoryReader &memory, uint64_t functionEntry, uint64_t address,
                           tidewell::disasm::CpuMode mode = tidewell::disasm::CpuMode::X86);

// address + 4 when that is a boundary of the function and address is not; else address.
uint64_t CorrectedExceptAddress(const tidewell::disasm::MemoryReader &memory, uint64_t functionEntry, uint64_t address,
                                tidewell::disasm::CpuMode mode = tidewell::disasm::CpuMode::X86);

} // namespace kx
