#pragma once
// The image of a module loaded in the analysed process, read through the guarded read: the PE
// reader's source for the headers and directories of a module in memory.
#include <cstddef>
#include <cstdint>

#include "crash/analysis/disasm/Decoder.h"
#include "crash/base/pe/PeImage.h"

namespace tidewell::disasm {

class ModuleImage : public debuginfo::PeSource {
public:
    ModuleImage(const MemoryReader& memory, uint32_t base) : memory_(memory), base_(base) {}
    // Reads at base + offset; bytes past the 32-bit address space cannot be read.
    bool Read(uint64_t offset, void* out, size_t size) const override {
        const uint64_t at = uint64_t(base_) + offset;
        return offset < (1ull << 32) && size <= (1ull << 32) - at && memory_.Read(uint32_t(at), out, uint32_t(size));
    }

private:
    const MemoryReader& memory_;
    uint32_t base_;
};

}  // namespace tidewell::disasm
