// The BMP reader as a libFuzzer target. BmpTest feeds it damaged files; for a real fuzzing run,
// build it with clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -I crash/output/image
// together with crash/output/image/NVBmpReader.cpp and NVPixels.cpp, and start it on a folder
// of BMP files.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "NVBmpReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const kx::NVBmpImage image = kx::ReadBmp(std::string_view(reinterpret_cast<const char *>(data), size));
  // A picture that is accepted holds exactly its pixels.
  if (image.Ok() && image.pixels.Bits().size() != size_t(image.pixels.Width()) * size_t(image.pixels.Height()) * 4)
    std::abort();
  return 0;
}
