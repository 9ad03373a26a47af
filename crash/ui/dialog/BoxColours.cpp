#include "crash/ui/dialog/BoxColours.h"

#include <cstring>

#include "crash/ui/dialog/ExceptionBoxRules.h"

namespace kx {

uint32_t ShiftColour(uint32_t colour, uint32_t shift) {
  int over = 0;
  for (int s = 0; s < 24; s += 8)
    if (((colour >> s) & 0xFF) + ((shift >> s) & 0xFF) > 256)
      ++over;
  uint32_t result = 0;
  for (int s = 0; s < 24; s += 8) {
    const int32_t c = int32_t((colour >> s) & 0xFF), d = int32_t((shift >> s) & 0xFF);
    int32_t v = over <= 1 ? c + d : c - d;
    v = v < 0 ? 0 : v > 255 ? 255 : v;
    result |= uint32_t(v) << s;
  }
  return result;
}

uint32_t FadeColour(uint32_t c1, uint32_t c2, int n) {
  uint32_t result = 0;
  for (int s = 0; s < 24; s += 8) {
    const uint32_t a = (c1 >> s) & 0xFF, b = (c2 >> s) & 0xFF;
    result |= ((uint32_t(n) * a + uint32_t(8 - n) * b) / 8) << s;
  }
  return result;
}

uint32_t QuarterMix(uint32_t line, uint32_t background, int quarters) {
  uint32_t result = 0;
  for (int s = 0; s < 24; s += 8) {
    const uint32_t a = (line >> s) & 0xFF, b = (background >> s) & 0xFF;
    result |= ((uint32_t(4 - quarters) * a + uint32_t(quarters) * b) / 4) << s;
  }
  return result;
}

uint32_t BlendPixel(uint32_t background, uint32_t pixel) {
  const uint32_t g = (pixel >> 24) + 1;
  const uint32_t rb = ((background & 0xFF00FF) * (256 - g) + (pixel & 0xFF00FF) * g) >> 8 & 0xFF00FF;
  const uint32_t gr = ((background & 0xFF00) * (256 - g) + (pixel & 0xFF00) * g) >> 8 & 0xFF00;
  return rb | gr;
}

std::vector<uint32_t> IconPixels(const uint8_t *data, uint32_t size, int side) {
  if (!data || side <= 0 || size != BoxIconResourceSize(side))
    return {};
  int32_t height;
  std::memcpy(&height, data + 8, 4);
  std::vector<uint32_t> pixels(size_t(side) * size_t(side));
  const uint8_t *src = data + 40;
  for (int y = 0; y < side; ++y) {
    const int row = height > 0 ? side - 1 - y : y; // bottom-up unless the height is negative
    std::memcpy(&pixels[size_t(y) * size_t(side)], src + size_t(row) * size_t(side) * 4, size_t(side) * 4);
  }
  return pixels;
}

} // namespace kx
