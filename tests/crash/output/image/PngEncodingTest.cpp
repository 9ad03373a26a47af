// Our PNG files read back by libpng, zlib and pngcheck: structure, palettes, pixel indices, the
// grey image's packing, and the choice between colour and grey by format.
#include <gtest/gtest.h>

#include <map>

#include "crash/output/image/NVGreyImage.h"
#include "crash/output/image/NVMemoryBitmap.h"
#include "crash/output/image/NVPngEncoding.h"
#include "tests/crash/output/image/PngInspection.h"
#include "tests/crash/output/image/TestPictures.h"

namespace kx::test {
namespace {

// A file that pngcheck accepts and libpng decodes, with chunks IHDR, PLTE, one IDAT, IEND.
DecodedPng CheckedPng(const std::string &file) {
  std::string report;
  EXPECT_TRUE(PngCheckAccepts(file, report)) << report;
  std::vector<std::string> types;
  for (const PngChunk &chunk : PngChunks(file))
    types.push_back(chunk.type);
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
  std::string error;
  auto decoded = DecodePng(file, error);
  EXPECT_TRUE(decoded) << error;
  return decoded ? *decoded : DecodedPng{};
}

Rgb PaletteColour(const DecodedPng &png, uint8_t index) {
  return {uint8_t(png.palette[index * 3u]), uint8_t(png.palette[index * 3u + 1]), uint8_t(png.palette[index * 3u + 2])};
}

// The index each pixel should get, worked out directly: cells keyed by the top 5 bits of each
// channel, decided by their first pixel in memory order (bottom row first) by the smallest sum of
// absolute differences over all 256 entries, the lowest index winning ties. Top row first.
std::vector<uint8_t> ExpectedIndices(NVPixelBuffer &picture, const DecodedPng &png) {
  std::map<int, uint8_t> cells;
  std::vector<uint8_t> indices(size_t(picture.Width()) * picture.Height());
  for (int32_t y = picture.Height() - 1; y >= 0; --y)
    for (int32_t x = 0; x < picture.Width(); ++x) {
      const Rgb c = GetPixel(picture, x, y);
      const int key = (c.r >> 3) | (c.g >> 3) << 5 | (c.b >> 3) << 10;
      if (!cells.count(key)) {
        int best = -1, bestDistance = 0;
        for (int i = 0; i < 256; ++i) {
          const Rgb e = PaletteColour(png, uint8_t(i));
          const int d = std::abs(e.r - c.r) + std::abs(e.g - c.g) + std::abs(e.b - c.b);
          if (best < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
          }
        }
        cells[key] = uint8_t(best);
      }
      indices[size_t(y) * picture.Width() + x] = cells[key];
    }
  return indices;
}

TEST(ColourPng, IsAValidPaletteFileWhoseIndicesFollowThePaletteCache) {
  NVPixelBuffer picture = GradientPicture(97, 61); // odd sizes; 1024 cells for 256 entries
  SetPixel(picture, 5, 7, {255, 0, 255});
  const std::string file = EncodeColourPng(picture.View());
  ASSERT_EQ(file.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  const DecodedPng png = CheckedPng(file);
  EXPECT_EQ(png.width, 97u);
  EXPECT_EQ(png.height, 61u);
  EXPECT_EQ(png.bitDepth, 8);
  EXPECT_EQ(png.colourType, 3);
  ASSERT_EQ(png.palette.size(), 768u);
  EXPECT_EQ(png.indices, ExpectedIndices(picture, png));
  // The IDAT holds a zlib stream with the header 0x78 0x01 over filter-0 rows, top row first.
  const std::string idat = PngChunks(file)[2].data;
  EXPECT_EQ(idat.substr(0, 2), std::string("\x78\x01"));
  auto rows = InflateZlib(idat, 61 * 98);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 61u * 98u);
  for (size_t y = 0; y < 61; ++y)
    EXPECT_EQ((*rows)[y * 98], 0) << "filter byte of row " << y;
  EXPECT_EQ(uint8_t((*rows)[7 * 98 + 1 + 5]), png.indices[7 * 97 + 5]);
  // The pixels are left as they were.
  EXPECT_EQ(GetPixel(picture, 5, 7), (Rgb{255, 0, 255}));
}

TEST(ColourPng, FewColoursStillGetA768BytePaletteAndComeBackExactly) {
  NVPixelBuffer picture(10, 3);
  const Rgb colours[] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}};
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 10; ++x)
      SetPixel(picture, x, y, colours[(x + y) % 3]);
  const DecodedPng png = CheckedPng(EncodeColourPng(picture.View()));
  ASSERT_EQ(png.palette.size(), 768u);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 10; ++x)
      EXPECT_EQ(PaletteColour(png, png.indices[size_t(y) * 10 + x]), colours[(x + y) % 3]) << x << "," << y;
}

TEST(GreyPng, OnePixelWideRowsAreTwoBytesWithTheLevelInTheHighNibble) {
  NVPixelBuffer picture(1, 5);
  const Rgb colours[] = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {40, 40, 40}};
  for (int32_t y = 0; y < 5; ++y)
    SetPixel(picture, 0, y, colours[y]);
  const std::string file = EncodeGreyPng(picture.View());
  const DecodedPng png = CheckedPng(file);
  EXPECT_EQ(png.bitDepth, 4);
  EXPECT_EQ(png.colourType, 3);
  std::string levels;
  for (uint8_t level : kNVGreyLevels)
    levels += std::string(3, char(level));
  EXPECT_EQ(png.palette, levels);
  auto rows = InflateZlib(PngChunks(file)[2].data, 10);
  ASSERT_TRUE(rows);
  // Greys 0, 255, 76, 150, 40 -> levels 0, 15, 3 (73), 8 (155), 1 (28).
  EXPECT_EQ(*rows, std::string("\x00\x00\x00\xF0\x00\x30\x00\x80\x00\x10", 10));
  EXPECT_EQ(png.indices, (std::vector<uint8_t>{0, 15, 3, 8, 1}));
  // The bitmap itself is grey now.
  EXPECT_EQ(GetPixel(picture, 0, 2), (Rgb{76, 76, 76}));
}

TEST(GreyPng, AnOddLastPixelFillsOnlyTheHighNibble) {
  NVPixelBuffer picture(3, 2);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x)
      SetPixel(picture, x, y, {255, 255, 255});
  const std::string file = EncodeGreyPng(picture.View());
  CheckedPng(file);
  auto rows = InflateZlib(PngChunks(file)[2].data, 6);
  ASSERT_TRUE(rows);
  EXPECT_EQ(*rows, std::string("\x00\xFF\xF0\x00\xFF\xF0", 6));
}

bool AllGrey(NVPixelBuffer &picture) {
  for (int32_t y = 0; y < picture.Height(); ++y)
    for (int32_t x = 0; x < picture.Width(); ++x) {
      const Rgb c = GetPixel(picture, x, y);
      if (c.r != c.g || c.g != c.b)
        return false;
    }
  return true;
}

// A copy of a picture, to encode without touching the original.
NVPixelBuffer Copy(const NVPixelBuffer &picture) { return picture; }

TEST(PngFormat, BusyPictureOverTheLimitKeepsTheSmallerEncodingAndStaysGrey) {
  NVPixelBuffer noise = NoisePicture(300, 300, 7);
  NVPixelBuffer forColour = Copy(noise), forGrey = Copy(noise);
  const std::string colour = EncodeColourPng(forColour.View());
  const std::string grey = EncodeGreyPng(forGrey.View());
  ASSERT_GT(colour.size(), 51200u);
  ASSERT_LT(grey.size(), colour.size());

  auto bitmap = CreateMemoryBitmap(Copy(noise), nullptr);
  const std::string chosen = bitmap->AsPngStr(pfColourMax50K);
  EXPECT_EQ(chosen, grey);
  EXPECT_TRUE(AllGrey(bitmap->Buffer()));
  // Encoding again: the colour attempt now sees grey pixels, and the grey image wins again.
  NVPixelBuffer greyed = Copy(bitmap->Buffer());
  const DecodedPng secondColour = CheckedPng(EncodeColourPng(greyed.View()));
  for (uint8_t index : secondColour.indices) {
    const Rgb e = PaletteColour(secondColour, index);
    ASSERT_TRUE(e.r == e.g && e.g == e.b);
  }
  EXPECT_EQ(bitmap->AsPngStr(pfColourMax50K), grey);
}

TEST(PngFormat, TheGreyImageIsTriedOnlyAboveTheFormatsLimit) {
  NVPixelBuffer noise = NoisePicture(300, 300, 7);
  NVPixelBuffer forColour = Copy(noise);
  const std::string colour = EncodeColourPng(forColour.View());
  ASSERT_LT(colour.size(), 204800u);
  for (int32_t format : {0, 4, 5, 6, -1}) {
    auto bitmap = CreateMemoryBitmap(Copy(noise), nullptr);
    EXPECT_EQ(bitmap->AsPngStr(format), colour) << format;
    EXPECT_EQ(bitmap->Buffer().Bits(), noise.Bits()) << "pixels changed by format " << format;
  }
  auto bitmap = CreateMemoryBitmap(Copy(noise), nullptr);
  const DecodedPng png = CheckedPng(bitmap->AsPngStr(pfGrey));
  EXPECT_EQ(png.bitDepth, 4);
  EXPECT_EQ(png.palette.size(), 48u);
  EXPECT_TRUE(AllGrey(bitmap->Buffer()));
}

TEST(PngFormat, AColourImageOverTheLimitButSmallerThanTheGreyOneIsKept) {
  // Noise on top makes the colour image exceed 51200 bytes. Below, (14,14,14) and (15,15,15) at
  // random share one palette entry but fall on two grey levels, which costs the grey image a bit
  // per pixel.
  NVPixelBuffer picture = NoisePicture(1000, 460, 11);
  std::mt19937 random(12);
  for (int32_t y = 60; y < 460; ++y)
    for (int32_t x = 0; x < 1000; ++x) {
      const uint8_t v = random() % 2 ? 14 : 15;
      SetPixel(picture, x, y, {v, v, v});
    }
  NVPixelBuffer forColour = Copy(picture), forGrey = Copy(picture);
  const std::string colour = EncodeColourPng(forColour.View());
  const std::string grey = EncodeGreyPng(forGrey.View());
  ASSERT_GT(colour.size(), 51200u);
  ASSERT_GT(grey.size(), colour.size());
  auto bitmap = CreateMemoryBitmap(Copy(picture), nullptr);
  EXPECT_EQ(bitmap->AsPngStr(pfColourMax50K), colour);
  EXPECT_TRUE(AllGrey(bitmap->Buffer())); // the grey image was made, and the pixels stay grey
}

TEST(PngFormat, ASmallColourImageIsKeptWithoutTryingGrey) {
  NVPixelBuffer stripes(64, 64);
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 64; ++x)
      SetPixel(stripes, x, y, (x / 2) % 2 ? Rgb{250, 10, 10} : Rgb{10, 10, 250});
  NVPixelBuffer forColour = Copy(stripes);
  const std::string colour = EncodeColourPng(forColour.View());
  ASSERT_LE(colour.size(), 51200u);
  auto bitmap = CreateMemoryBitmap(Copy(stripes), nullptr);
  EXPECT_EQ(bitmap->AsPngStr(pfColourMax50K), colour);
  EXPECT_EQ(bitmap->Buffer().Bits(), stripes.Bits());
}

} // namespace
} // namespace kx::test
