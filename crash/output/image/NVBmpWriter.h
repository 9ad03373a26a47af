#pragma once
// The BMP file of a bitmap: the 14-byte file header ("BM", file size, two reserved zeros, pixel
// offset 54), the 40-byte information header, then the pixels as stored (bottom-up, 32 bits).
#include <cstdint>
#include <string>

#include "crash/output/image/NVPixels.h"

namespace kx {

constexpr size_t kNVBmpFileHeaderSize = 14;
constexpr size_t kNVBmpInfoHeaderSize = 40;

// The information header: width, height (positive: bottom-up), 1 plane, 32 bits, no
// compression, image size width * height * 4, no resolution, no colour table.
std::string BmpInfoHeader(int32_t width, int32_t height);

std::string BmpFile(const NVPixelView &pixels);

} // namespace kx
