#include "KXEmergencyReserve.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace kx {

namespace {
constexpr int kBlocks = 4;
std::atomic<void *> gReserved[kBlocks];
std::atomic<void *> gCommitted[kBlocks];
} // namespace

void MakeEmergencyReserve() {
  for (int i = 0; i < kBlocks; ++i) {
    if (!gReserved[i])
      gReserved[i] = VirtualAlloc(nullptr, 0x400000, MEM_RESERVE, PAGE_NOACCESS);
    if (!gCommitted[i])
      gCommitted[i] = VirtualAlloc(nullptr, 0x80000, MEM_COMMIT, PAGE_NOACCESS);
  }
}

void ReleaseEmergencyReserve() {
  for (int i = 0; i < kBlocks; ++i) {
    if (void *p = gReserved[i].exchange(nullptr))
      VirtualFree(p, 0, MEM_RELEASE);
    if (void *p = gCommitted[i].exchange(nullptr))
      VirtualFree(p, 0, MEM_RELEASE);
  }
}

void EnsureHeapRoom(size_t bytes) {
  if (void *room = std::malloc(bytes))
    std::free(room);
  else
    ReleaseEmergencyReserve();
}

} // namespace kx

// Exception objects come from the heap. When it has no room, the C++ runtime falls back on a
// small pool of its own whose lock is a winpthreads mutex, made on its first use, from the heap:
// the lock fails, its error is thrown, that throw needs an object again, and so on until the
// stack overflows. So the reserve goes back before the object is made.
extern "C" {
void *__real___cxa_allocate_exception(size_t size) noexcept;

void *__wrap___cxa_allocate_exception(size_t size) noexcept {
  // The object follows the runtime's header of the exception (128 bytes and less).
  kx::EnsureHeapRoom(size + 128);
  return __real___cxa_allocate_exception(size);
}
}
