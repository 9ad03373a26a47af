// The DWARF unwind tables (.eh_frame) of code built by our toolchain, and the C++ exception
// tables (LSDA) they point to. A C++ function's exception-handling code (its landing pads) is
// reached by the unwinder only, never by a jump; these tables name it so that the function
// analysis can take it in (AnalysisOptions::extraEntries).
#pragma once

#include <cstdint>
#include <vector>

#include "crash/analysis/disasm/Decoder.h"

namespace tidewell::disasm {

struct FrameDescription {
    uint32_t begin = 0;  // first byte of the code it describes
    uint32_t end = 0;    // exclusive
    uint32_t lsda = 0;   // language-specific data (C++ exception table), or 0
};

// All frame descriptions of the .eh_frame section at [begin, end). Records that cannot be read
// or that use unsupported encodings are skipped; the walk never leaves the section.
std::vector<FrameDescription> ReadFrameDescriptions(const MemoryReader& memory, uint32_t begin, uint32_t end);

// The landing pads named by the exception table of `fde`, in ascending order without repeats.
std::vector<uint32_t> LandingPads(const MemoryReader& memory, const FrameDescription& fde);

// The landing pads of the code that contains `address`, from the .eh_frame section at
// [begin, end); empty when no description covers it.
std::vector<uint32_t> LandingPadsAt(const MemoryReader& memory, uint32_t begin, uint32_t end, uint32_t address);

}  // namespace tidewell::disasm
