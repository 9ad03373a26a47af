#pragma once
// What every INVBitmap does the same way over its pixel memory: size, BMP and PNG text, saving
// through the file interface, scaling. A kind of bitmap supplies its pixel memory, drawing, and
// how to make a new bitmap of its own kind. Operations are serialised by one lock per bitmap
// (a grey encoding changes the pixels); none lets an exception escape.
#include <memory>
#include <mutex>

#include "crash/output/image/NVBitmap.h"
#include "crash/output/image/NVImageFiles.h"
#include "crash/output/image/NVPixels.h"

namespace kx {

class TNVBitmapBase : public INVBitmap {
public:
  int32_t GetWidth() override;
  int32_t GetHeight() override;
  std::string AsBmpStr() override;
  std::string AsPngStr(int32_t format) override;
  bool SaveBmp(const std::u16string &file) override;
  bool SavePng(const std::u16string &file, int32_t format) override;
  std::shared_ptr<INVBitmap> Zoom(int32_t maxWidth, int32_t maxHeight) override;

protected:
  // files may be null: saving then fails.
  explicit TNVBitmapBase(std::shared_ptr<INVImageFileSystem> files) : FFiles(std::move(files)) {}

  // The pixel memory, ready to be read and written (called with FLock held).
  virtual NVPixelView Pixels() = 0;
  // A new bitmap of the same kind holding a copy of pixels; null when it cannot be made.
  virtual std::shared_ptr<INVBitmap> MakeBitmap(const NVPixelView &pixels) = 0;

  // The file system new bitmaps of the same kind save through.
  const std::shared_ptr<INVImageFileSystem> &Files() const { return FFiles; }

  std::mutex FLock;

private:
  bool Save(const std::u16string &file, const std::string &bytes);

  std::shared_ptr<INVImageFileSystem> FFiles;
};

} // namespace kx
