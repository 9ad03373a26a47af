#pragma once
// INVBitmap: a 32-bit bitmap (a screenshot, a thumbnail, a loaded BMP file) that draws itself and
// writes itself as PNG or BMP. Objects are reference-counted through std::shared_ptr. The pixels
// follow NVPixels.h; every operation works on a whole picture of at least one pixel.
//
// The interface lives in the global namespace, where the exception object declares it.
#include <cstdint>
#include <memory>
#include <string>

namespace kx {

// A device context of the platform (an HDC on Windows), passed through as an integer.
using NVDeviceContext = std::uintptr_t;

// The PNG format argument of AsPngStr and SavePng.
enum NVPngFormat : int32_t {
  pfColour = 0,      // 256-colour palette image
  pfGrey = 1,        // 16-level grey image
  pfColourMax50K = 2, // colour; when larger than 51200 bytes the smaller of colour and grey
  pfColourMax100K = 3, // likewise above 102400 bytes
  pfColourMax200K = 4, // likewise above 204800 bytes
  pfColourMax300K = 5, // likewise above 307200 bytes
};

} // namespace kx

class INVBitmap {
public:
  virtual ~INVBitmap() = default;

  virtual int32_t GetWidth() = 0;
  virtual int32_t GetHeight() = 0;
  // Copies the picture to dc with its top-left corner at (x, y); false when the bitmap has no
  // device context of its own (the portable bitmap) or the copy fails.
  virtual bool Draw(kx::NVDeviceContext dc, int32_t x, int32_t y) = 0;
  // The BMP file as bytes.
  virtual std::string AsBmpStr() = 0;
  // The PNG file as bytes (an NVPngFormat; any other value is read as pfColour); empty on
  // failure. A grey encoding turns the bitmap's own pixels grey.
  virtual std::string AsPngStr(int32_t format) = 0;
  // Write a new file (replacing an old one); a file that cannot be written completely is
  // deleted again. False on any failure.
  virtual bool SaveBmp(const std::u16string &file) = 0;
  virtual bool SavePng(const std::u16string &file, int32_t format) = 0;
  // A new bitmap of the same kind, scaled to fit maxWidth x maxHeight; null when either is not
  // positive or the result cannot be made.
  virtual std::shared_ptr<INVBitmap> Zoom(int32_t maxWidth, int32_t maxHeight) = 0;
};
