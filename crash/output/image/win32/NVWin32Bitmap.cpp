#include "crash/output/image/win32/NVWin32Bitmap.h"

#include <algorithm>

#include "crash/output/image/win32/NVWin32ImageFiles.h"

namespace kx {

std::shared_ptr<TNVWin32Bitmap> TNVWin32Bitmap::Create(int32_t width, int32_t height) {
  if (!NVValidPictureSize(width, height))
    return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc)
    return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height; // positive: bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = DWORD(size_t(width) * size_t(height) * kNVBytesPerPixel);
  void *bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    if (bitmap)
      DeleteObject(bitmap);
    DeleteDC(dc);
    return nullptr;
  }
  HGDIOBJ old = SelectObject(dc, bitmap);
  std::fill_n(static_cast<uint8_t *>(bits), info.bmiHeader.biSizeImage, uint8_t(0));
  return std::shared_ptr<TNVWin32Bitmap>(
      new TNVWin32Bitmap(dc, bitmap, old, static_cast<uint8_t *>(bits), width, height));
}

std::shared_ptr<TNVWin32Bitmap> TNVWin32Bitmap::Copy(const NVPixelView &pixels) {
  auto bitmap = Create(pixels.width, pixels.height);
  if (bitmap)
    std::copy(pixels.bits, pixels.bits + pixels.Size(), bitmap->FBits);
  return bitmap;
}

TNVWin32Bitmap::TNVWin32Bitmap(HDC dc, HBITMAP bitmap, HGDIOBJ old, uint8_t *bits, int32_t width, int32_t height)
    : TNVBitmapBase(Win32ImageFiles()), FDC(dc), FBitmap(bitmap), FOldBitmap(old), FBits(bits), FWidth(width),
      FHeight(height) {}

TNVWin32Bitmap::~TNVWin32Bitmap() {
  SelectObject(FDC, FOldBitmap);
  DeleteObject(FBitmap);
  DeleteDC(FDC);
}

bool TNVWin32Bitmap::Draw(NVDeviceContext dc, int32_t x, int32_t y) {
  std::lock_guard lock(FLock);
  return BitBlt(reinterpret_cast<HDC>(dc), x, y, FWidth, FHeight, FDC, 0, 0, SRCCOPY) != 0;
}

NVPixelView TNVWin32Bitmap::Pixels() {
  GdiFlush(); // drawing into the bitmap may still be queued
  return {FBits, FWidth, FHeight};
}

} // namespace kx
