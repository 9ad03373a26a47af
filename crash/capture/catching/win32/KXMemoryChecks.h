#pragma once
// Checks made before the catching code reads memory it was handed (thread parameters, exception
// objects, type information), so that a read never faults.
#include <windows.h>

#include <cstddef>

#include "crash/base/settings/win32/KXWin32Platform.h"

namespace kx {

// True when size bytes from p lie in one committed, accessible region.
inline bool ReadableMemory(const void *p, size_t size) {
  MEMORY_BASIC_INFORMATION mbi;
  if (!p || !VirtualQuery(p, &mbi, sizeof mbi) || mbi.State != MEM_COMMIT || (mbi.Protect & (PAGE_NOACCESS | PAGE_GUARD)))
    return false;
  return static_cast<const char *>(p) + size <= static_cast<const char *>(mbi.BaseAddress) + mbi.RegionSize;
}

// True when p lies in the image of a loaded module.
inline bool InLoadedImage(const void *p) { return ModuleOfAddress(reinterpret_cast<std::uintptr_t>(p)) != 0; }

} // namespace kx
