#pragma once
// What the forms need of a picture (INVBitmap, made by the screenshot module): its size, a zoomed
// copy, loading one from a file and drawing it. The program binds these to INVBitmap's own
// operations once at start-up (SetAssistantBitmaps); until then images show no picture.
#include <cstdint>
#include <memory>
#include <string>

class INVBitmap;

namespace kx {

class IKXAssistantBitmaps {
public:
  virtual ~IKXAssistantBitmaps() = default;
  virtual int32_t Width(INVBitmap &bitmap) = 0;
  virtual int32_t Height(INVBitmap &bitmap) = 0;
  // A copy scaled to fit maxWidth x maxHeight (INVBitmap::Zoom); null when it cannot be made.
  virtual std::shared_ptr<INVBitmap> Zoom(INVBitmap &bitmap, int32_t maxWidth, int32_t maxHeight) = 0;
  // The picture of a BMP file, or null.
  virtual std::shared_ptr<INVBitmap> LoadFile(const std::string &file) = 0;
  // Draws the picture with its top-left corner at (x, y) of a device context (an HDC).
  virtual void Draw(INVBitmap &bitmap, std::uintptr_t dc, int32_t x, int32_t y) = 0;
};

void SetAssistantBitmaps(std::shared_ptr<IKXAssistantBitmaps> bitmaps);
std::shared_ptr<IKXAssistantBitmaps> AssistantBitmaps();

} // namespace kx
