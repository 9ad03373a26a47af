#pragma once
// Adler-32 (RFC 1950), the checksum at the end of a zlib stream.
#include <cstddef>
#include <cstdint>

namespace kx {

constexpr uint32_t kNVAdler32Start = 1;

// Continues a checksum over more data: pass the previous result (kNVAdler32Start to begin).
uint32_t Adler32(const void *data, size_t size, uint32_t adler = kNVAdler32Start);

} // namespace kx
