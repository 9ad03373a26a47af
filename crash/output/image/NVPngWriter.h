#pragma once
// The PNG container of a palette image (colour type 3): signature, IHDR, PLTE, one IDAT, IEND,
// each chunk closed by its CRC-32. The IDAT holds the whole zlib stream: the header bytes 0x78
// 0x01, the raw deflate data of the filtered image and its Adler-32. The filtered image is, for
// every row from the top of the picture down, the filter byte 0 (None) and the row's packed
// palette indices.
#include <cstdint>
#include <functional>
#include <string>

#include "crash/output/image/NVPalette.h"

namespace kx {

// Bytes of packed indices in one row (without the filter byte): one per pixel at depth 8, two
// pixels per byte at depth 4.
size_t PackedRowSize(int32_t width, int bitDepth);

// Fills the packed indices of row y (counted from the top) into row (PackedRowSize bytes).
using NVRowSource = std::function<void(int32_t y, uint8_t *row)>;

// The PNG file; empty when deflate fails or the data does not fit one chunk. bitDepth is 8 or 4;
// the palette's first count entries are written.
std::string WritePalettePng(int32_t width, int32_t height, int bitDepth, const NVPalette &palette,
                            const NVRowSource &rows);

} // namespace kx
