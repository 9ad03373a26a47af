#include "tools/kxembed/PeChecksum.h"

namespace kxembed {

uint32_t PeChecksum(std::span<const uint8_t> file, uint64_t checksumOffset) {
  auto byte = [&](size_t at) -> uint32_t {
    return at >= checksumOffset && at - checksumOffset < 4 ? 0 : file[at];
  };
  uint64_t sum = 0; // at most 2^31 words of 16 bits: no overflow before folding
  size_t at = 0;
  for (; at + 1 < file.size(); at += 2) {
    if (at + 2 > checksumOffset && at < checksumOffset + 4)
      sum += byte(at) | (byte(at + 1) << 8);
    else
      sum += file[at] | (uint32_t(file[at + 1]) << 8);
  }
  if (at < file.size())
    sum += byte(at);
  while (sum >> 16)
    sum = (sum & 0xFFFF) + (sum >> 16);
  return uint32_t(sum) + uint32_t(file.size());
}

} // namespace kxembed
