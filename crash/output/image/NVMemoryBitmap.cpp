#include "crash/output/image/NVMemoryBitmap.h"

#include <algorithm>

namespace kx {

std::shared_ptr<INVBitmap> TNVMemoryBitmap::MakeBitmap(const NVPixelView &pixels) {
  NVPixelBuffer copy(pixels.width, pixels.height);
  std::copy(pixels.bits, pixels.bits + pixels.Size(), copy.Bits().begin());
  return std::make_shared<TNVMemoryBitmap>(std::move(copy), Files());
}

std::shared_ptr<TNVMemoryBitmap> CreateMemoryBitmap(NVPixelBuffer pixels,
                                                    std::shared_ptr<INVImageFileSystem> files) {
  if (pixels.Empty())
    return nullptr;
  return std::make_shared<TNVMemoryBitmap>(std::move(pixels), std::move(files));
}

} // namespace kx
