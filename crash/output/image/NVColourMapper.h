#pragma once
// Maps pixels to palette indices through a cache of 32768 cells keyed by the top 5 bits of each
// channel (red in the lowest 5 bits of the key, green in the next 5, blue in the top 5). The
// first pixel that falls into a cell decides the cell for all later ones: its palette entry is the
// one with the smallest sum of absolute channel differences, the lowest index winning ties.
#include <cstdint>
#include <vector>

#include "crash/output/image/NVPalette.h"
#include "crash/output/image/NVPixels.h"

namespace kx {

class NVColourMapper {
public:
  explicit NVColourMapper(const NVPalette &palette);

  uint8_t Index(uint8_t red, uint8_t green, uint8_t blue);

  static constexpr uint32_t Key(uint8_t red, uint8_t green, uint8_t blue) {
    return uint32_t(red >> 3) | uint32_t(green >> 3) << 5 | uint32_t(blue >> 3) << 10;
  }

private:
  const NVPalette &FPalette;
  std::vector<int16_t> FCache; // -1: not decided yet
};

// The palette index of every pixel, in memory order (bottom row first), one byte per pixel.
std::vector<uint8_t> MapToPalette(const NVPixelView &pixels, const NVPalette &palette);

} // namespace kx
