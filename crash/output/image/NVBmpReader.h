#pragma once
// Reads a BMP file from outside (an image editor's output) into the pixel model. Every size,
// offset and index is checked against the file before it is used; pixel memory is allocated only
// once the file is known to hold all the pixel rows its header claims.
//
// Read: a BITMAPINFOHEADER or one of its larger successors (52, 56, 108 or 124 bytes); 1, 4, 8,
// 16 (5-5-5), 24 and 32 bits per pixel uncompressed (BI_RGB), 16 and 32 bits with channel masks
// (BI_BITFIELDS); rows bottom-up or top-down. Anything else is refused with a reason.
#include <cstdint>
#include <string_view>

#include "crash/output/image/NVPixels.h"

namespace kx {

enum class NVBmpError {
  none,
  truncated,          // the file ends before its headers, colour table or pixel rows do
  notBmp,             // no "BM" signature
  unsupportedHeader,  // an information header of another size (OS/2 and core headers among them)
  badSize,            // width not positive, height zero, or the picture too large to hold
  badPlanes,          // plane count other than 1
  unsupportedFormat,  // compression or bit count not read here (RLE, JPEG, PNG, 2 bits, ...)
  badMasks,           // channel masks empty, not contiguous, overlapping or wider than a pixel
  badColourTable,     // more colours than the bit count allows, or a table overlapping the pixels
  badOffset,          // pixel data starting inside the headers or colour table
  badIndex,           // a pixel refers to a colour beyond the colour table
  outOfMemory,
  unreadable,         // the file could not be read, or is larger than any picture held here
};

const char *BmpErrorText(NVBmpError error);

// The largest file worth reading: the largest picture at 32 bits per pixel plus room for headers.
constexpr uint64_t kNVMaxBmpFileSize = uint64_t(kNVMaxPixels) * kNVBytesPerPixel + 65536;

struct NVBmpImage {
  NVBmpError error = NVBmpError::none;
  NVPixelBuffer pixels; // bottom-up, 32 bits; the fourth byte is kept from 32-bit BI_RGB files

  bool Ok() const { return error == NVBmpError::none; }
};

NVBmpImage ReadBmp(std::string_view file);

} // namespace kx
