#pragma once
// Pictures for the image tests, addressed top-down as people think of them, and an in-memory file
// system whose writes and closes can be made to fail.
#include <cstdint>
#include <map>
#include <random>

#include "crash/output/image/NVImageFiles.h"
#include "crash/output/image/NVPixels.h"

namespace kx::test {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb &) const = default;
};

inline void SetPixel(NVPixelBuffer &picture, int32_t x, int32_t y, Rgb c) {
  uint8_t *p = picture.View().TopRow(y) + size_t(x) * 4;
  p[0] = c.b;
  p[1] = c.g;
  p[2] = c.r;
}

inline Rgb GetPixel(NVPixelBuffer &picture, int32_t x, int32_t y) {
  const uint8_t *p = picture.View().TopRow(y) + size_t(x) * 4;
  return {p[2], p[1], p[0]};
}

// Every pixel an independent random colour (a worst case for compression).
inline NVPixelBuffer NoisePicture(int32_t width, int32_t height, uint32_t seed) {
  NVPixelBuffer picture(width, height);
  std::mt19937 random(seed);
  for (uint8_t &byte : picture.Bits())
    byte = uint8_t(random());
  return picture;
}

// Red rising to the right, green rising downwards, blue fixed.
inline NVPixelBuffer GradientPicture(int32_t width, int32_t height) {
  NVPixelBuffer picture(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      SetPixel(picture, x, y,
               {uint8_t(x * 255 / std::max(width - 1, 1)), uint8_t(y * 255 / std::max(height - 1, 1)), 90});
  return picture;
}

class MemoryImageFileSystem : public INVImageFileSystem {
public:
  std::map<std::u16string, std::string> files;
  bool failCreate = false;
  bool failWrite = false; // a write stores half of its data and fails
  bool failClose = false;

  std::unique_ptr<INVImageFile> Create(const std::u16string &path) override {
    if (failCreate)
      return nullptr;
    files[path].clear();
    return std::make_unique<File>(*this, files[path]);
  }
  bool Delete(const std::u16string &path) override { return files.erase(path) == 1; }
  std::optional<std::string> Read(const std::u16string &path, uint64_t maxSize) override {
    auto it = files.find(path);
    if (it == files.end() || it->second.size() > maxSize)
      return std::nullopt;
    return it->second;
  }

private:
  class File : public INVImageFile {
  public:
    File(MemoryImageFileSystem &fs, std::string &content) : FFs(fs), FContent(content) {}
    bool Write(std::string_view data) override {
      if (FFs.failWrite) {
        FContent.append(data.substr(0, data.size() / 2));
        return false;
      }
      FContent.append(data);
      return true;
    }
    bool Close() override { return !FFs.failClose; }

  private:
    MemoryImageFileSystem &FFs;
    std::string &FContent;
  };
};

} // namespace kx::test
