#include "crash/capture/catching/win32/KXEmergencyReserve.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace kx {

namespace {
constexpr int kBlocks = 4;
std::atomic<void *> gReserved[kBlocks];
std::atomic<void *> gCommitted[kBlocks];
constexpr size_t kHeapRoom = 64 * 1024;
std::atomic<void *> gHeapRoom{nullptr};

// Whether anything was given back.
bool ReleaseAddressSpace() {
  bool released = false;
  for (int i = 0; i < kBlocks; ++i) {
    if (void *p = gReserved[i].exchange(nullptr))
      released = VirtualFree(p, 0, MEM_RELEASE) || released;
    if (void *p = gCommitted[i].exchange(nullptr))
      released = VirtualFree(p, 0, MEM_RELEASE) || released;
  }
  return released;
}
} // namespace

void MakeEmergencyReserve() {
  for (int i = 0; i < kBlocks; ++i) {
    if (!gReserved[i])
      gReserved[i] = VirtualAlloc(nullptr, 0x400000, MEM_RESERVE, PAGE_NOACCESS);
    if (!gCommitted[i])
      gCommitted[i] = VirtualAlloc(nullptr, 0x80000, MEM_COMMIT, PAGE_NOACCESS);
  }
  if (!gHeapRoom)
    gHeapRoom = std::malloc(kHeapRoom);
}

void ReleaseEmergencyReserve() { ReleaseAddressSpace(); }

void EnsureHeapRoom(size_t bytes) {
  if (void *room = std::malloc(bytes)) {
    std::free(room);
    return;
  }
  if (!ReleaseAddressSpace())
    std::free(gHeapRoom.exchange(nullptr));
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
