// Fuzz target: BMP loading, as a picture file named in the settings is loaded: the file's bytes
// go to the reader, and an accepted picture's pixels are copied whole into a bitmap. The image
// tests feed it damaged files too.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "crash/output/image/NVBmpReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kx::NVBmpImage image = kx::ReadBmp(std::string_view(reinterpret_cast<const char *>(data), size));
  if (!image.Ok())
    return 0;
  // An accepted picture holds exactly its pixels, and all of them can be copied.
  const kx::NVPixelView view = image.pixels.View();
  const size_t bytes = size_t(view.width) * size_t(view.height) * 4;
  if (view.width <= 0 || view.height <= 0 || image.pixels.Bits().size() != bytes)
    std::abort();
  std::vector<uint8_t> copy(bytes);
  std::memcpy(copy.data(), view.bits, bytes);
  return 0;
}
