#include "crash/output/image/NVGreyImage.h"

namespace kx {

namespace {
constexpr int Distance(int a, int b) { return a > b ? a - b : b - a; }

constexpr std::array<uint8_t, 256> MakeLevelTable() {
  std::array<uint8_t, 256> index{};
  for (int value = 0; value < 256; ++value) {
    int best = 0;
    for (int level = 1; level < 16; ++level)
      if (Distance(kNVGreyLevels[size_t(level)], value) < Distance(kNVGreyLevels[size_t(best)], value))
        best = level;
    index[size_t(value)] = uint8_t(best);
  }
  return index;
}
// The nearest level of every grey value, worked out once.
constexpr std::array<uint8_t, 256> kLevelIndex = MakeLevelTable();
} // namespace

void MakeGrey(const NVPixelView &pixels) {
  for (int32_t y = 0; y < pixels.height; ++y) {
    uint8_t *p = pixels.Row(y);
    for (int32_t x = 0; x < pixels.width; ++x, p += kNVBytesPerPixel) {
      const uint8_t grey = uint8_t((77 * p[2] + 151 * p[1] + 28 * p[0]) >> 8);
      p[0] = p[1] = p[2] = grey;
    }
  }
}

uint8_t GreyLevelIndex(uint8_t value) { return kLevelIndex[value]; }

NVPalette GreyPalette() {
  NVPalette palette;
  for (size_t i = 0; i < kNVGreyLevels.size(); ++i)
    palette.entries[i] = {kNVGreyLevels[i], kNVGreyLevels[i], kNVGreyLevels[i]};
  palette.count = int(kNVGreyLevels.size());
  return palette;
}

} // namespace kx
