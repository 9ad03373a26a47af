#pragma once
// The 16-level grey image: the bitmap's own pixels turned grey, each grey value mapped to the
// nearest of 16 levels.
#include <array>
#include <cstdint>

#include "crash/output/image/NVPalette.h"
#include "crash/output/image/NVPixels.h"

namespace kx {

// The running sums of the steps 28, 24, 21, 19, 17, 16, 15, 15, 15, 15, 14, 14, 14, 14, 14.
constexpr std::array<uint8_t, 16> kNVGreyLevels = {0,   28,  52,  73,  92,  109, 125, 140,
                                                    155, 170, 185, 199, 213, 227, 241, 255};

// Replaces red, green and blue of every pixel by (77 red + 151 green + 28 blue) div 256; the
// fourth byte is left alone.
void MakeGrey(const NVPixelView &pixels);

// The index of the grey level nearest to value (the lower level wins ties).
uint8_t GreyLevelIndex(uint8_t value);

// The 16 levels as a palette of equal red, green, blue triples.
NVPalette GreyPalette();

} // namespace kx
