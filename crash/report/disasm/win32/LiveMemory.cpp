#include "LiveMemory.h"

#include <windows.h>

namespace tidewell::disasm {

LiveMemory::LiveMemory(void* process) : process_(process ? process : GetCurrentProcess()) {}

bool LiveMemory::Read(uint32_t address, void* buffer, uint32_t count) const {
    if (count == 0) return true;
    if (address == 0 || address > UINT32_MAX - (count - 1)) return false;
    // ReadProcessMemory copies under the system's own fault handling and fails for pages that
    // are not readable, also for the current process.
    SIZE_T done = 0;
    const void* from = reinterpret_cast<const void*>(static_cast<uintptr_t>(address));
    return ReadProcessMemory(static_cast<HANDLE>(process_), from, buffer, count, &done) && done == count;
}

}  // namespace tidewell::disasm
