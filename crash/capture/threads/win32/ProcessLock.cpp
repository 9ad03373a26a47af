#include "crash/capture/threads/win32/ProcessLock.h"

#include <cstddef>

namespace kx {

namespace {

// Offsets in the process environment block of the pointers to the process-environment lock and the
// loader lock; the block itself is named by the thread environment block.
#if defined(__x86_64__)
constexpr size_t kFastPebLockOffset = 0x38;
constexpr size_t kLoaderLockOffset = 0x110;

void *ProcessEnvironmentBlock() {
  return reinterpret_cast<void *>(__readgsqword(0x60));
}
#else
constexpr size_t kFastPebLockOffset = 0x1C;
constexpr size_t kLoaderLockOffset = 0xA0;

void *ProcessEnvironmentBlock() {
  return reinterpret_cast<void *>(__readfsdword(0x30));
}
#endif

bool Owned(const void *peb, size_t offset) {
  auto section = *reinterpret_cast<RTL_CRITICAL_SECTION *const volatile *>(static_cast<const char *>(peb) + offset);
  if (!section)
    return false;
  return *reinterpret_cast<const volatile HANDLE *>(&section->OwningThread) != nullptr;
}

bool AnyHeld() {
  const void *peb = ProcessEnvironmentBlock();
  return peb && (Owned(peb, kLoaderLockOffset) || Owned(peb, kFastPebLockOffset));
}

} // namespace

bool ProcessLockHeld(DWORD waitMs) {
  DWORD start = GetTickCount();
  while (AnyHeld()) {
    if (GetTickCount() - start >= waitMs)
      return true;
    Sleep(10);
  }
  return false;
}

} // namespace kx
