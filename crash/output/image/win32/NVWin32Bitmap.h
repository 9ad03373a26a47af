#pragma once
// The Win32 INVBitmap: a 32-bit bottom-up DIB section, selected into a memory device context of
// its own, whose bits are the pixel model. It draws with BitBlt and saves through the Win32 file
// API.
#include <windows.h>

#include "crash/output/image/NVBitmapBase.h"

namespace kx {

class TNVWin32Bitmap : public TNVBitmapBase {
public:
  // A new bitmap of width x height (a valid picture size), all pixels zero; null when the
  // system cannot make it.
  static std::shared_ptr<TNVWin32Bitmap> Create(int32_t width, int32_t height);
  // A new bitmap holding a copy of pixels; null on failure.
  static std::shared_ptr<TNVWin32Bitmap> Copy(const NVPixelView &pixels);

  ~TNVWin32Bitmap() override;
  TNVWin32Bitmap(const TNVWin32Bitmap &) = delete;
  TNVWin32Bitmap &operator=(const TNVWin32Bitmap &) = delete;

  bool Draw(NVDeviceContext dc, int32_t x, int32_t y) override;

  // The memory device context holding the bitmap, for drawing into it while the bitmap is being
  // made (before anyone else has it).
  HDC DC() const { return FDC; }

protected:
  NVPixelView Pixels() override;
  std::shared_ptr<INVBitmap> MakeBitmap(const NVPixelView &pixels) override { return Copy(pixels); }

private:
  TNVWin32Bitmap(HDC dc, HBITMAP bitmap, HGDIOBJ old, uint8_t *bits, int32_t width, int32_t height);

  HDC FDC;
  HBITMAP FBitmap;
  HGDIOBJ FOldBitmap;
  uint8_t *FBits;
  int32_t FWidth;
  int32_t FHeight;
};

} // namespace kx
