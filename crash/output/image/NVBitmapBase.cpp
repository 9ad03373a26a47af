#include "crash/output/image/NVBitmapBase.h"

#include "crash/output/image/NVBmpWriter.h"
#include "crash/output/image/NVPngEncoding.h"
#include "crash/output/image/NVZoom.h"

namespace kx {

int32_t TNVBitmapBase::GetWidth() {
  std::lock_guard lock(FLock);
  return Pixels().width;
}

int32_t TNVBitmapBase::GetHeight() {
  std::lock_guard lock(FLock);
  return Pixels().height;
}

std::string TNVBitmapBase::AsBmpStr() {
  try {
    std::lock_guard lock(FLock);
    return BmpFile(Pixels());
  } catch (...) {
    return {};
  }
}

std::string TNVBitmapBase::AsPngStr(int32_t format) {
  try {
    std::lock_guard lock(FLock);
    return EncodePng(Pixels(), format);
  } catch (...) {
    return {};
  }
}

bool TNVBitmapBase::SaveBmp(const std::u16string &file) { return Save(file, AsBmpStr()); }

bool TNVBitmapBase::SavePng(const std::u16string &file, int32_t format) { return Save(file, AsPngStr(format)); }

bool TNVBitmapBase::Save(const std::u16string &file, const std::string &bytes) {
  try {
    return FFiles && WriteImageFile(*FFiles, file, bytes);
  } catch (...) {
    return false;
  }
}

std::shared_ptr<INVBitmap> TNVBitmapBase::Zoom(int32_t maxWidth, int32_t maxHeight) {
  try {
    NVPixelBuffer zoomed;
    {
      std::lock_guard lock(FLock);
      const NVPixelView pixels = Pixels();
      const auto size = ZoomSize(pixels.width, pixels.height, maxWidth, maxHeight);
      if (!size || !NVValidPictureSize(size->width, size->height))
        return nullptr;
      zoomed = Resample(pixels, size->width, size->height);
    }
    return MakeBitmap(zoomed.View());
  } catch (...) {
    return nullptr;
  }
}

} // namespace kx
