#include "crash/output/image/NVPixels.h"

#include <stdexcept>

namespace kx {

bool NVValidPictureSize(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kNVMaxSide && height <= kNVMaxSide && width * height <= kNVMaxPixels;
}

NVPixelBuffer::NVPixelBuffer(int32_t width, int32_t height) {
  if (!NVValidPictureSize(width, height))
    throw std::length_error("picture size out of range");
  FBits.assign(size_t(width) * size_t(height) * kNVBytesPerPixel, 0);
  FWidth = width;
  FHeight = height;
}

} // namespace kx
