#include "crash/output/image/NVColourMapper.h"

#include <cstdlib>

namespace kx {

NVColourMapper::NVColourMapper(const NVPalette &palette) : FPalette(palette), FCache(32768, -1) {}

uint8_t NVColourMapper::Index(uint8_t red, uint8_t green, uint8_t blue) {
  int16_t &cell = FCache[Key(red, green, blue)];
  if (cell < 0) {
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < FPalette.count; ++i) {
      const NVColour &c = FPalette.entries[size_t(i)];
      const int distance = std::abs(c.red - red) + std::abs(c.green - green) + std::abs(c.blue - blue);
      if (distance < bestDistance) {
        bestDistance = distance;
        best = i;
      }
    }
    cell = int16_t(best);
  }
  return uint8_t(cell);
}

std::vector<uint8_t> MapToPalette(const NVPixelView &pixels, const NVPalette &palette) {
  NVColourMapper mapper(palette);
  std::vector<uint8_t> indices(size_t(pixels.width) * size_t(pixels.height));
  uint8_t *out = indices.data();
  for (int32_t y = 0; y < pixels.height; ++y) {
    const uint8_t *p = pixels.Row(y);
    for (int32_t x = 0; x < pixels.width; ++x, p += kNVBytesPerPixel)
      *out++ = mapper.Index(p[2], p[1], p[0]);
  }
  return indices;
}

} // namespace kx
