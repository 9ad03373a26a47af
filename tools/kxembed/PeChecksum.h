#pragma once
// The PE image checksum, as the loader checks it for drivers and critical DLLs and as linkers
// write it: the 16-bit one's-complement sum of the file's little-endian 16-bit words (an odd last
// byte counts as a word of its own), with the 4-byte CheckSum field taken as 0, plus the file's
// length.
#include <cstdint>
#include <span>

namespace kxembed {

uint32_t PeChecksum(std::span<const uint8_t> file, uint64_t checksumOffset);

} // namespace kxembed
