#pragma once
// An INVBitmap over pixel memory of its own, without a device context: everything but Draw.
// Used where no display is at hand and by the tests.
#include "crash/output/image/NVBitmapBase.h"

namespace kx {

class TNVMemoryBitmap : public TNVBitmapBase {
public:
  TNVMemoryBitmap(NVPixelBuffer pixels, std::shared_ptr<INVImageFileSystem> files)
      : TNVBitmapBase(std::move(files)), FPixels(std::move(pixels)) {}

  bool Draw(NVDeviceContext, int32_t, int32_t) override { return false; }

  // The pixel memory itself (not guarded: for the owner while no one else uses the bitmap).
  NVPixelBuffer &Buffer() { return FPixels; }

protected:
  NVPixelView Pixels() override { return FPixels.View(); }
  std::shared_ptr<INVBitmap> MakeBitmap(const NVPixelView &pixels) override;

private:
  NVPixelBuffer FPixels;
};

// A memory bitmap holding pixels; null for an empty buffer.
std::shared_ptr<TNVMemoryBitmap> CreateMemoryBitmap(NVPixelBuffer pixels,
                                                    std::shared_ptr<INVImageFileSystem> files);

} // namespace kx
