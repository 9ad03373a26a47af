#include "crash/output/image/NVAdler32.h"

namespace kx {

uint32_t Adler32(const void *data, size_t size, uint32_t adler) {
  constexpr uint32_t kBase = 65521;
  // The largest run of bytes whose sums cannot overflow 32 bits before the reduction.
  constexpr size_t kRun = 5552;
  auto p = static_cast<const uint8_t *>(data);
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (size > 0) {
    size_t run = size < kRun ? size : kRun;
    size -= run;
    while (run-- > 0) {
      a += *p++;
      b += a;
    }
    a %= kBase;
    b %= kBase;
  }
  return b << 16 | a;
}

} // namespace kx
