// The guarded read over the memory of a live process (Win32 only).
#pragma once

#include "crash/analysis/disasm/Decoder.h"

namespace tidewell::disasm {

// Reads the memory of the process `process` (a HANDLE with PROCESS_VM_READ; null for the
// current process). A read of an unmapped, uncommitted or guarded page reports failure
// instead of faulting.
class LiveMemory final : public MemoryReader {
public:
    explicit LiveMemory(void* process = nullptr);
    bool Read(uint64_t address, void* buffer, uint32_t count) const override;
    bool PageGranular() const override { return true; }

private:
    void* process_;
};

}  // namespace tidewell::disasm
