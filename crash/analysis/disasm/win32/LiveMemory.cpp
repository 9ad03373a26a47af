#include "crash/analysis/disasm/win32/LiveMemory.h"

#include <windows.h>

namespace tidewell::disasm {

LiveMemory::LiveMemory(void* process) : process_(process ? process : GetCurrentProcess()) {}

namespace {

// True when every page of the range is committed and readable. ReadProcessMemory alone is not
// enough: some systems (Wine among them) let it read reserved or no-access pages of the
// calling process.
bool Readable(HANDLE process, uintptr_t address, uint32_t count) {
    const uintptr_t end = address + count;
    for (uintptr_t at = address; at < end;) {
        MEMORY_BASIC_INFORMATION info{};
        if (!VirtualQueryEx(process, reinterpret_cast<const void*>(at), &info, sizeof(info))) return false;
        const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        if (info.State != MEM_COMMIT || (info.Protect & PAGE_GUARD) || !(info.Protect & readable)) return false;
        const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
        if (regionEnd <= at) return false;
        at = regionEnd;
    }
    return true;
}

}  // namespace

bool LiveMemory::Read(uint64_t address, void* buffer, uint32_t count) const {
    if (count == 0) return true;
    // Nothing beyond the process's address space (4 GiB for a 32-bit one), and no range that
    // wraps around its end.
    if (address == 0 || address > UINTPTR_MAX - (count - 1)) return false;
    if (!Readable(static_cast<HANDLE>(process_), static_cast<uintptr_t>(address), count)) return false;
    // ReadProcessMemory copies under the system's own fault handling, so a page that goes away
    // between the check and the copy still cannot fault.
    SIZE_T done = 0;
    const void* from = reinterpret_cast<const void*>(static_cast<uintptr_t>(address));
    return ReadProcessMemory(static_cast<HANDLE>(process_), from, buffer, count, &done) && done == count;
}

}  // namespace tidewell::disasm
