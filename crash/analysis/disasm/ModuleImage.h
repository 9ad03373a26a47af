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
    ModuleImage(const MemoryReader& memory, uint64_t base) : memory_(memory), base_(base) {}
    // Reads at base + offset (an RVA, below 4 GiB). Of a module based below 4 GiB, bytes past
    // the 32-bit address space cannot be read; of one above, bytes past the 64-bit space.
    bool Read(uint64_t offset, void* out, size_t size) const override {
        const uint64_t top = base_ <= UINT32_MAX ? (1ull << 32) - 1 : UINT64_MAX;
        if (offset >= (1ull << 32) || size > UINT32_MAX || offset > top - base_) return false;
        const uint64_t at = base_ + offset;
        return (size == 0 || size - 1 <= top - at) && memory_.Read(at, out, uint32_t(size));
    }

private:
    const MemoryReader& memory_;
    uint64_t base_;
};

}  // namespace tidewell::disasm
