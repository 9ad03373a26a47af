// BMP files: our writer's layout and round trip, the reader on every supported variant, and the
// reader refusing malformed files without crashing or allocating for sizes the file cannot hold.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>

#include "crash/output/image/NVBmpReader.h"
#include "crash/output/image/NVBmpWriter.h"
#include "tests/crash/output/image/TestPictures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace kx::test {
namespace {

void U16(std::string &out, uint32_t v) {
  out += char(v);
  out += char(v >> 8);
}
void U32(std::string &out, uint32_t v) {
  U16(out, v & 0xFFFF);
  U16(out, v >> 16);
}
uint32_t ReadU32(const std::string &data, size_t at) {
  return uint32_t(uint8_t(data[at])) | uint32_t(uint8_t(data[at + 1])) << 8 | uint32_t(uint8_t(data[at + 2])) << 16 |
         uint32_t(uint8_t(data[at + 3])) << 24;
}

// A BMP file put together field by field, so that each field can be made wrong.
struct BmpFields {
  uint32_t infoSize = 40;
  int32_t width = 1;
  int32_t height = 1;
  uint16_t planes = 1;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t coloursUsed = 0;
  std::vector<uint32_t> masks; // inside the larger headers, after the 40-byte one
  std::vector<std::array<uint8_t, 4>> colourTable; // blue, green, red, 0
  std::string rows;                                // pixel rows as stored, padding included
  std::optional<uint32_t> pixelOffset;             // default: right after the colour table
};

std::string Build(const BmpFields &s) {
  std::string info;
  U32(info, s.infoSize);
  U32(info, uint32_t(s.width));
  U32(info, uint32_t(s.height));
  U16(info, s.planes);
  U16(info, s.bitCount);
  U32(info, s.compression);
  U32(info, uint32_t(s.rows.size()));
  U32(info, 2835);
  U32(info, 2835);
  U32(info, s.coloursUsed);
  U32(info, 0);
  std::string masks;
  for (uint32_t m : s.masks)
    U32(masks, m);
  if (s.infoSize > 40) {
    info += masks;
    masks.clear();
    info.resize(s.infoSize, '\0');
  }
  std::string table;
  for (const auto &entry : s.colourTable)
    table.append(reinterpret_cast<const char *>(entry.data()), 4);
  const uint32_t offset = s.pixelOffset.value_or(uint32_t(14 + info.size() + masks.size() + table.size()));
  std::string file = "BM";
  U32(file, uint32_t(offset + s.rows.size()));
  U32(file, 0);
  U32(file, offset);
  file += info + masks + table;
  if (file.size() < offset)
    file.resize(offset, '\0');
  return file + s.rows;
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes)
    out += char(b);
  return out;
}

// The picture as top-down rows of colours.
std::vector<std::vector<Rgb>> Colours(NVPixelBuffer &picture) {
  std::vector<std::vector<Rgb>> rows(size_t(picture.Height()));
  for (int32_t y = 0; y < picture.Height(); ++y)
    for (int32_t x = 0; x < picture.Width(); ++x)
      rows[size_t(y)].push_back(GetPixel(picture, x, y));
  return rows;
}

NVBmpImage ReadOk(const std::string &file) {
  NVBmpImage image = ReadBmp(file);
  EXPECT_TRUE(image.Ok()) << BmpErrorText(image.error);
  return image;
}

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

TEST(BmpWriter, WritesHeadersThenThePixelsAsStored) {
  NVPixelBuffer picture = NoisePicture(3, 2, 5);
  const std::string file = BmpFile(picture.View());
  ASSERT_EQ(file.size(), 54u + 24u);
  EXPECT_EQ(file.substr(0, 2), "BM");
  EXPECT_EQ(ReadU32(file, 2), 78u);
  EXPECT_EQ(ReadU32(file, 6), 0u);
  EXPECT_EQ(ReadU32(file, 10), 54u);
  const std::string expectedInfo = Bytes({40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 32, 0, 0, 0, 0, 0,
                                          24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(file.substr(14, 40), expectedInfo);
  EXPECT_EQ(file.substr(54), std::string(picture.Bits().begin(), picture.Bits().end()));
}

TEST(BmpReader, ReadsOurOwnFilesBackByteForByte) {
  NVPixelBuffer picture = NoisePicture(7, 5, 9); // the fourth byte is random too
  NVBmpImage image = ReadOk(BmpFile(picture.View()));
  EXPECT_EQ(image.pixels.Width(), 7);
  EXPECT_EQ(image.pixels.Height(), 5);
  EXPECT_EQ(image.pixels.Bits(), picture.Bits());
}

TEST(BmpReader, ReadsPaletteImagesOfEveryDepthBothWaysUp) {
  const std::vector<std::array<uint8_t, 4>> table = {
      {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}};
  BmpFields eight; // 5 x 2, top-down, three colours used, rows padded to 8 bytes
  eight.bitCount = 8;
  eight.width = 5;
  eight.height = -2;
  eight.coloursUsed = 3;
  eight.colourTable = {table[0], table[1], table[2]};
  eight.rows = Bytes({0, 1, 2, 1, 0, 9, 9, 9, 2, 2, 1, 1, 0, 9, 9, 9});
  NVBmpImage image = ReadOk(Build(eight));
  EXPECT_EQ(Colours(image.pixels), (std::vector<std::vector<Rgb>>{{kRed, kGreen, kBlue, kGreen, kRed},
                                                                   {kBlue, kBlue, kGreen, kGreen, kRed}}));

  BmpFields four; // 3 x 2, bottom-up: the first row stored is the bottom one
  four.bitCount = 4;
  four.width = 3;
  four.height = 2;
  four.colourTable = table;
  four.colourTable.resize(16, {0, 0, 0, 0});
  four.rows = Bytes({0x32, 0x10, 0, 0, 0x01, 0x20, 0, 0});
  image = ReadOk(Build(four));
  EXPECT_EQ(Colours(image.pixels), (std::vector<std::vector<Rgb>>{{kRed, kGreen, kBlue}, {kWhite, kBlue, kGreen}}));

  BmpFields one; // 10 x 1: bits from the highest down
  one.bitCount = 1;
  one.width = 10;
  one.colourTable = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  one.rows = Bytes({0xA0, 0x40, 0, 0});
  image = ReadOk(Build(one));
  EXPECT_EQ(Colours(image.pixels), (std::vector<std::vector<Rgb>>{{kWhite, kBlack, kWhite, kBlack, kBlack, kBlack,
                                                                   kBlack, kBlack, kBlack, kWhite}}));
}

TEST(BmpReader, ReadsTrueColourAndMaskedFormats) {
  BmpFields rgb24; // 3 x 2 bottom-up, rows padded from 9 to 12 bytes
  rgb24.width = 3;
  rgb24.height = 2;
  rgb24.rows = Bytes({0, 0, 255, 0, 255, 0, 255, 0, 0, 7, 7, 7, 255, 255, 255, 0, 0, 0, 1, 2, 3, 7, 7, 7});
  NVBmpImage image = ReadOk(Build(rgb24));
  EXPECT_EQ(Colours(image.pixels),
            (std::vector<std::vector<Rgb>>{{kWhite, kBlack, {3, 2, 1}}, {kRed, kGreen, kBlue}}));

  BmpFields rgb555; // 16 bits without masks: 5 bits each, scaled to 0..255 with rounding
  rgb555.bitCount = 16;
  rgb555.width = 3;
  rgb555.rows = Bytes({0x00, 0x7C, 0xE0, 0x03, 0x10, 0x00, 0, 0});
  image = ReadOk(Build(rgb555));
  EXPECT_EQ(Colours(image.pixels), (std::vector<std::vector<Rgb>>{{kRed, kGreen, {0, 0, 132}}}));

  BmpFields rgb565; // masks after a 40-byte header
  rgb565.bitCount = 16;
  rgb565.compression = 3;
  rgb565.width = 2;
  rgb565.masks = {0xF800, 0x07E0, 0x001F};
  rgb565.rows = Bytes({0x00, 0x04, 0x1F, 0xF8});
  image = ReadOk(Build(rgb565));
  EXPECT_EQ(Colours(image.pixels), (std::vector<std::vector<Rgb>>{{{0, 130, 0}, {255, 0, 255}}}));

  BmpFields rgbx; // a 124-byte header with the masks inside, red in the lowest byte; top-down
  rgbx.infoSize = 124;
  rgbx.bitCount = 32;
  rgbx.compression = 3;
  rgbx.width = 2;
  rgbx.height = -2;
  rgbx.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
  rgbx.rows = Bytes({10, 20, 30, 99, 1, 2, 3, 99, 255, 0, 0, 0, 0, 0, 255, 0});
  image = ReadOk(Build(rgbx));
  EXPECT_EQ(Colours(image.pixels), (std::vector<std::vector<Rgb>>{{{10, 20, 30}, {1, 2, 3}}, {kRed, kBlue}}));

  BmpFields bgrx; // 32-bit BI_RGB with a 108-byte header keeps the fourth byte
  bgrx.infoSize = 108;
  bgrx.bitCount = 32;
  bgrx.rows = Bytes({1, 2, 3, 4});
  image = ReadOk(Build(bgrx));
  EXPECT_EQ(image.pixels.Bits(), (std::vector<uint8_t>{1, 2, 3, 4}));
}

BmpFields ValidEightBit() {
  BmpFields s;
  s.bitCount = 8;
  s.width = 3;
  s.height = 2;
  s.coloursUsed = 2;
  s.colourTable = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  s.rows = Bytes({0, 1, 0, 0, 1, 0, 1, 0});
  return s;
}

TEST(BmpReader, RefusesMalformedFilesWithTheirReason) {
  struct Case {
    const char *what;
    std::function<void(BmpFields &)> change;
    NVBmpError error;
  };
  const std::vector<Case> cases = {
      {"core header", [](BmpFields &s) { s.infoSize = 12; }, NVBmpError::unsupportedHeader},
      {"OS/2 header", [](BmpFields &s) { s.infoSize = 64; }, NVBmpError::unsupportedHeader},
      {"zero width", [](BmpFields &s) { s.width = 0; }, NVBmpError::badSize},
      {"negative width", [](BmpFields &s) { s.width = -3; }, NVBmpError::badSize},
      {"zero height", [](BmpFields &s) { s.height = 0; }, NVBmpError::badSize},
      {"most negative height", [](BmpFields &s) { s.height = INT32_MIN; }, NVBmpError::badSize},
      {"too many pixels", [](BmpFields &s) { s.width = s.height = 60000; }, NVBmpError::badSize},
      {"side too long", [](BmpFields &s) { s.width = 70000; }, NVBmpError::badSize},
      {"two planes", [](BmpFields &s) { s.planes = 2; }, NVBmpError::badPlanes},
      {"2 bits", [](BmpFields &s) { s.bitCount = 2; }, NVBmpError::unsupportedFormat},
      {"RLE8", [](BmpFields &s) { s.compression = 1; }, NVBmpError::unsupportedFormat},
      {"JPEG", [](BmpFields &s) { s.compression = 4; }, NVBmpError::unsupportedFormat},
      {"masks on 8 bits", [](BmpFields &s) { s.compression = 3; }, NVBmpError::unsupportedFormat},
      {"more colours than 8 bits allow", [](BmpFields &s) { s.coloursUsed = 257; }, NVBmpError::badColourTable},
      {"pixels inside the colour table", [](BmpFields &s) { s.pixelOffset = 54 + 4; }, NVBmpError::badColourTable},
      {"pixels inside the header", [](BmpFields &s) { s.pixelOffset = 20; }, NVBmpError::badOffset},
      {"index beyond the table", [](BmpFields &s) { s.rows[5] = 2; }, NVBmpError::badIndex},
      {"a row missing", [](BmpFields &s) { s.rows.resize(7); }, NVBmpError::truncated},
      {"pixels beyond the end", [](BmpFields &s) { s.pixelOffset = 4000; s.rows.clear(); }, NVBmpError::truncated},
      {"tall picture, little data", [](BmpFields &s) { s.width = 60000; s.height = 1000; }, NVBmpError::truncated},
  };
  for (const Case &c : cases) {
    BmpFields fields = ValidEightBit();
    c.change(fields);
    const NVBmpImage image = ReadBmp(Build(fields));
    EXPECT_EQ(image.error, c.error) << c.what << ": " << BmpErrorText(image.error);
    EXPECT_TRUE(image.pixels.Empty()) << c.what;
  }
  EXPECT_EQ(ReadBmp("").error, NVBmpError::truncated);
  EXPECT_EQ(ReadBmp("PK\x03\x04 not a bitmap at all").error, NVBmpError::notBmp);
}

TEST(BmpReader, RefusesBadChannelMasks) {
  const std::vector<std::vector<uint32_t>> bad = {
      {0, 0x07E0, 0x001F},          // empty
      {0xF800, 0x0FE0, 0x001F},     // overlapping
      {0xF800, 0x07E0, 0x0015},     // not one run of bits
      {0x1F0000, 0x07E0, 0x001F},   // beyond 16 bits
  };
  for (const auto &masks : bad) {
    BmpFields s;
    s.bitCount = 16;
    s.compression = 3;
    s.masks = masks;
    s.rows = Bytes({0, 0, 0, 0});
    EXPECT_EQ(ReadBmp(Build(s)).error, NVBmpError::badMasks)
        << std::hex << masks[0] << " " << masks[1] << " " << masks[2];
  }
}

TEST(BmpReader, SurvivesEveryTruncationAndRandomDamage) {
  BmpFields masked;
  masked.infoSize = 40;
  masked.bitCount = 16;
  masked.compression = 3;
  masked.width = 3;
  masked.height = -3;
  masked.masks = {0xF800, 0x07E0, 0x001F};
  masked.rows = std::string(24, '\x5A');
  for (const std::string &file : {Build(ValidEightBit()), Build(masked), BmpFile(NoisePicture(4, 3, 1).View())}) {
    for (size_t length = 0; length < file.size(); ++length)
      EXPECT_FALSE(ReadBmp(std::string_view(file).substr(0, length)).Ok()) << "cut at " << length;
    std::mt19937 random(3);
    for (int round = 0; round < 3000; ++round) {
      std::string damaged = file;
      for (int flips = 1 + int(random() % 4); flips > 0; --flips)
        damaged[random() % damaged.size()] = char(random());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(damaged.data()), damaged.size());
    }
  }
}

} // namespace
} // namespace kx::test
