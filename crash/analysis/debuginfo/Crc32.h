#pragma once
// Standard CRC-32 (reflected polynomial 0xEDB88320, initial value all ones, final inversion),
// the checksum zip and PNG use. Kept in its own file so it can move to a shared place later.
#include <cstddef>
#include <cstdint>

namespace debuginfo {

// Continues a CRC over more data: pass the previous result as crc (0 to start).
uint32_t Crc32(const void *data, size_t size, uint32_t crc = 0);

} // namespace debuginfo
