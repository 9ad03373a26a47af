// A library that calls back into the executable, so that the executable sees a return address
// in this library.
#include <cstdint>

extern "C" __declspec(dllexport) std::uintptr_t ProbeCallBack(std::uintptr_t (*callback)()) {
  std::uintptr_t result = callback();
  // Keeps the call a real call (no tail call), so that the return address lies in this library.
  asm volatile("" : "+r"(result));
  return result;
}
