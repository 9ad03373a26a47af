#pragma once
// Stores little-endian values at given offsets of a byte buffer. Every offset is checked: a
// store that would reach past the end is refused with an EmbedError instead of writing.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/kxembed/EmbedError.h"

namespace kxembed {

inline void PutLittleEndian(std::vector<uint8_t> &bytes, uint64_t at, uint64_t value, size_t width) {
  if (at > bytes.size() || width > bytes.size() - at)
    throw EmbedError("internal error: a store past the end of the image");
  for (size_t i = 0; i < width; ++i)
    bytes[size_t(at) + i] = uint8_t(value >> (8 * i));
}
inline void Put16(std::vector<uint8_t> &bytes, uint64_t at, uint16_t value) { PutLittleEndian(bytes, at, value, 2); }
inline void Put32(std::vector<uint8_t> &bytes, uint64_t at, uint32_t value) { PutLittleEndian(bytes, at, value, 4); }

// value rounded up to a multiple of alignment (a power of two).
inline uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) & ~(alignment - 1); }

} // namespace kxembed
