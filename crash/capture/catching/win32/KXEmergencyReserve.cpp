#include "KXEmergencyReserve.h"

#include <windows.h>

#include <atomic>

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

} // namespace kx
