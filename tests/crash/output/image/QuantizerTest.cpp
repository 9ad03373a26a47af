// Wu's palette, the cached palette mapping and the grey levels, checked against brute-force
// computations over the pixels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>

#include "crash/output/image/NVColourMapper.h"
#include "crash/output/image/NVGreyImage.h"
#include "crash/output/image/NVWuQuantizer.h"
#include "tests/crash/output/image/TestPictures.h"

namespace kx::test {
namespace {

int CellOf(uint8_t channel) { return channel / 8 + 1; }

bool InBox(const NVWuBox &box, Rgb c) {
  return CellOf(c.r) > box.r0 && CellOf(c.r) <= box.r1 && CellOf(c.g) > box.g0 && CellOf(c.g) <= box.g1 &&
         CellOf(c.b) > box.b0 && CellOf(c.b) <= box.b1;
}

// Every pixel lies in exactly one box, no box is empty, and each palette entry is the truncated
// mean of its box's pixels.
void ExpectBoxesPartitionAndMeans(NVPixelBuffer &picture, const NVWuResult &wu) {
  struct Sum {
    int64_t r = 0, g = 0, b = 0, n = 0;
  };
  std::vector<Sum> sums(wu.boxes.size());
  for (int32_t y = 0; y < picture.Height(); ++y)
    for (int32_t x = 0; x < picture.Width(); ++x) {
      const Rgb c = GetPixel(picture, x, y);
      int owners = 0;
      for (size_t k = 0; k < wu.boxes.size(); ++k)
        if (InBox(wu.boxes[k], c)) {
          ++owners;
          sums[k].r += c.r;
          sums[k].g += c.g;
          sums[k].b += c.b;
          ++sums[k].n;
        }
      ASSERT_EQ(owners, 1) << "pixel " << x << "," << y;
    }
  for (size_t k = 0; k < wu.boxes.size(); ++k) {
    ASSERT_GT(sums[k].n, 0) << "box " << k << " is empty";
    const NVColour expected{uint8_t(sums[k].r / sums[k].n), uint8_t(sums[k].g / sums[k].n),
                            uint8_t(sums[k].b / sums[k].n)};
    EXPECT_EQ(wu.palette.entries[k], expected) << "box " << k;
  }
}

TEST(WuQuantizer, FewColoursGetOneBoxPerCellWithTheTruncatedMean) {
  NVPixelBuffer picture(4, 2);
  // Three pixels of one cell with different low bits, and three single-colour cells.
  SetPixel(picture, 0, 0, {8, 16, 24});
  SetPixel(picture, 1, 0, {8, 16, 24});
  SetPixel(picture, 2, 0, {15, 23, 31});
  SetPixel(picture, 3, 0, {200, 0, 0});
  SetPixel(picture, 0, 1, {0, 0, 255});
  SetPixel(picture, 1, 1, {0, 0, 255});
  SetPixel(picture, 2, 1, {255, 255, 255});
  SetPixel(picture, 3, 1, {255, 255, 255});
  const NVWuResult wu = QuantizeWu(picture.View());
  ASSERT_EQ(wu.boxes.size(), 4u);
  ExpectBoxesPartitionAndMeans(picture, wu);
  std::set<std::tuple<int, int, int>> colours;
  for (size_t k = 0; k < 4; ++k)
    colours.insert({wu.palette.entries[k].red, wu.palette.entries[k].green, wu.palette.entries[k].blue});
  const std::set<std::tuple<int, int, int>> expected{{10, 18, 26}, {200, 0, 0}, {0, 0, 255}, {255, 255, 255}};
  EXPECT_EQ(colours, expected);
  // The unused entries repeat entry 0 and the palette is always written whole.
  EXPECT_EQ(wu.palette.count, 256);
  for (size_t k = 4; k < 256; ++k)
    EXPECT_EQ(wu.palette.entries[k], wu.palette.entries[0]);
}

TEST(WuQuantizer, EqualCutsGoToTheLowerPositionWhichFixesThePaletteOrder) {
  // Reds 8, 16, 24: cutting after 8 or after 16 scores the same (64 + 40^2/2 = 24^2/2 + 576).
  // The lower cut first gives boxes {8}, {16, 24}, then {16} and {24}.
  NVPixelBuffer picture(3, 1);
  SetPixel(picture, 0, 0, {16, 0, 0});
  SetPixel(picture, 1, 0, {8, 0, 0});
  SetPixel(picture, 2, 0, {24, 0, 0});
  const NVWuResult wu = QuantizeWu(picture.View());
  ASSERT_EQ(wu.boxes.size(), 3u);
  EXPECT_EQ(wu.palette.entries[0].red, 8);
  EXPECT_EQ(wu.palette.entries[1].red, 16);
  EXPECT_EQ(wu.palette.entries[2].red, 24);
}

TEST(WuQuantizer, RichPicturesGet256NonEmptyBoxesWithTheirMeans) {
  for (uint32_t seed : {1u, 2u}) {
    NVPixelBuffer picture = NoisePicture(64, 48, seed);
    const NVWuResult wu = QuantizeWu(picture.View());
    ASSERT_EQ(wu.boxes.size(), 256u);
    ExpectBoxesPartitionAndMeans(picture, wu);
  }
  NVPixelBuffer gradient = GradientPicture(256, 256);
  const NVWuResult wu = QuantizeWu(gradient.View());
  ASSERT_EQ(wu.boxes.size(), 256u);
  ExpectBoxesPartitionAndMeans(gradient, wu);
  // 1024 cells in 256 boxes: a good partition keeps every pixel close to its box mean.
  int64_t error = 0;
  for (int32_t y = 0; y < 256; ++y)
    for (int32_t x = 0; x < 256; ++x) {
      const Rgb c = GetPixel(gradient, x, y);
      for (size_t k = 0; k < 256; ++k)
        if (InBox(wu.boxes[k], c)) {
          const NVColour &e = wu.palette.entries[k];
          error += std::abs(e.red - c.r) + std::abs(e.green - c.g) + std::abs(e.blue - c.b);
        }
    }
  EXPECT_LT(double(error) / (256 * 256), 10.0);
}

TEST(WuQuantizer, OneColourIsOneBox) {
  NVPixelBuffer picture(3, 3);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x)
      SetPixel(picture, x, y, {12, 34, 56});
  const NVWuResult wu = QuantizeWu(picture.View());
  ASSERT_EQ(wu.boxes.size(), 1u);
  EXPECT_EQ(wu.palette.entries[0], (NVColour{12, 34, 56}));
}

TEST(ColourMapper, FirstPixelOfACellDecidesByAbsoluteDistanceLowestIndexFirst) {
  NVPalette palette;
  palette.count = 256;
  for (auto &e : palette.entries)
    e = {250, 250, 250};
  palette.entries[3] = {10, 10, 10};
  palette.entries[7] = {14, 6, 10};  // same distance 8 from (10, 6, 6) as entry 3 (0+4+4)
  palette.entries[9] = {100, 100, 100};
  NVColourMapper mapper(palette);
  EXPECT_EQ(mapper.Index(10, 6, 6), 3);      // the tie goes to the lower index
  EXPECT_EQ(mapper.Index(15, 1, 1), 3);      // same cell (1, 0, 0): decided by the first pixel
  EXPECT_EQ(mapper.Index(99, 99, 99), 9);
  EXPECT_EQ(mapper.Index(96, 103, 97), 9);   // the same cell again
  EXPECT_EQ(mapper.Index(255, 255, 255), 0); // entries 0.. all equal: the lowest
  EXPECT_EQ(NVColourMapper::Key(0xF8, 0, 0), 31u);
  EXPECT_EQ(NVColourMapper::Key(0, 0xF8, 0), 31u << 5);
  EXPECT_EQ(NVColourMapper::Key(0, 0, 0xF8), 31u << 10);
}

TEST(ColourMapper, MapsPixelsInMemoryOrderBottomRowFirst) {
  NVPalette palette;
  palette.count = 256;
  for (auto &e : palette.entries)
    e = {255, 255, 255};
  palette.entries[1] = {0, 0, 0};
  palette.entries[2] = {6, 6, 6};
  NVPixelBuffer picture(1, 2);
  SetPixel(picture, 0, 0, {6, 6, 6}); // top row: same cell as the bottom pixel
  SetPixel(picture, 0, 1, {1, 1, 1}); // bottom row, first in memory: decides the cell
  const std::vector<uint8_t> indices = MapToPalette(picture.View(), palette);
  EXPECT_EQ(indices, (std::vector<uint8_t>{1, 1}));
}

TEST(GreyImage, WeightsTheChannelsAndKeepsTheFourthByte) {
  NVPixelBuffer picture(4, 1);
  SetPixel(picture, 0, 0, {255, 0, 0});
  SetPixel(picture, 1, 0, {0, 255, 0});
  SetPixel(picture, 2, 0, {0, 0, 255});
  SetPixel(picture, 3, 0, {255, 255, 255});
  picture.Bits()[3] = 0x5A;
  MakeGrey(picture.View());
  EXPECT_EQ(GetPixel(picture, 0, 0), (Rgb{76, 76, 76}));
  EXPECT_EQ(GetPixel(picture, 1, 0), (Rgb{150, 150, 150}));
  EXPECT_EQ(GetPixel(picture, 2, 0), (Rgb{27, 27, 27}));
  EXPECT_EQ(GetPixel(picture, 3, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(picture.Bits()[3], 0x5A);
}

TEST(GreyImage, NearestLevelWithTheLowerOneWinningTies) {
  EXPECT_EQ(GreyLevelIndex(0), 0);
  EXPECT_EQ(GreyLevelIndex(14), 0);  // 14 from 0 and from 28
  EXPECT_EQ(GreyLevelIndex(15), 1);
  EXPECT_EQ(GreyLevelIndex(40), 1);  // 12 from 28 and from 52
  EXPECT_EQ(GreyLevelIndex(248), 14); // 7 from 241 and from 255
  EXPECT_EQ(GreyLevelIndex(249), 15);
  const NVPalette grey = GreyPalette();
  EXPECT_EQ(grey.count, 16);
  for (int v = 0; v < 256; ++v) {
    const int level = kNVGreyLevels[GreyLevelIndex(uint8_t(v))];
    for (uint8_t other : kNVGreyLevels)
      EXPECT_LE(std::abs(level - v), std::abs(other - v)) << v;
  }
}

} // namespace
} // namespace kx::test
