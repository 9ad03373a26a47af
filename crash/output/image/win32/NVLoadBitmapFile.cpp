#include "crash/output/image/win32/NVLoadBitmapFile.h"

#include "crash/output/image/win32/NVWin32Bitmap.h"
#include "crash/output/image/win32/NVWin32ImageFiles.h"

namespace kx {

std::shared_ptr<INVBitmap> LoadBitmapFile(const std::u16string &file, NVBmpError *error) {
  NVBmpError ignored;
  NVBmpError &result = error ? *error : ignored;
  try {
    const std::optional<std::string> content = Win32ImageFiles()->Read(file, kNVMaxBmpFileSize);
    if (!content) {
      result = NVBmpError::unreadable;
      return nullptr;
    }
    NVBmpImage image = ReadBmp(*content);
    result = image.error;
    if (!image.Ok())
      return nullptr;
    auto bitmap = TNVWin32Bitmap::Copy(image.pixels.View());
    if (!bitmap)
      result = NVBmpError::outOfMemory;
    return bitmap;
  } catch (...) {
    result = NVBmpError::outOfMemory;
    return nullptr;
  }
}

} // namespace kx
