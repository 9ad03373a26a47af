#include "crash/output/image/NVPalette.h"

namespace kx {

std::string NVPalette::Bytes() const {
  std::string bytes;
  bytes.reserve(size_t(count) * 3);
  for (int i = 0; i < count; ++i) {
    bytes += char(entries[size_t(i)].red);
    bytes += char(entries[size_t(i)].green);
    bytes += char(entries[size_t(i)].blue);
  }
  return bytes;
}

} // namespace kx
