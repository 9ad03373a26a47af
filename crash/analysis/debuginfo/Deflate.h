#pragma once
// The container's compressed block: 64-bit little-endian uncompressed length, CRC-32 of the
// uncompressed data, then a raw deflate stream (no zlib header or trailer).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace debuginfo {

std::vector<uint8_t> CompressBlock(const uint8_t *data, size_t size);

// nullopt when the block is shorter than 13 bytes, does not inflate to exactly the stated
// length, or fails its CRC.
std::optional<std::vector<uint8_t>> DecompressBlock(const uint8_t *data, size_t size);

} // namespace debuginfo
