// Scaling: the size rule on worked examples, and the fixed-point resampler against a direct
// floating-point evaluation of the same filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "crash/output/image/NVMemoryBitmap.h"
#include "crash/output/image/NVZoom.h"
#include "tests/crash/output/image/TestPictures.h"

namespace kx::test {
namespace {

TEST(ZoomSize, FitsTheBoxKeepingTheShape) {
  EXPECT_EQ(ZoomSize(1920, 1080, 200, 200), (NVSize{200, 112})); // wide: the width decides
  EXPECT_EQ(ZoomSize(1080, 1920, 200, 200), (NVSize{112, 200})); // tall: the height decides
  EXPECT_EQ(ZoomSize(10, 10, 300, 200), (NVSize{200, 200}));     // small and square: enlarged
  EXPECT_EQ(ZoomSize(100, 50, 400, 200), (NVSize{400, 200}));    // same shape: the box
  EXPECT_EQ(ZoomSize(1000, 600, 500, 300), (NVSize{500, 300}));
  EXPECT_EQ(ZoomSize(1001, 600, 500, 300), (NVSize{500, 300})); // within rounding of the shape
  EXPECT_EQ(ZoomSize(1010, 600, 500, 300), (NVSize{500, 297}));
  EXPECT_EQ(ZoomSize(5000, 10, 100, 100), (NVSize{100, 1}));     // a sliver keeps one row
}

TEST(ZoomSize, NothingForEmptySizes) {
  EXPECT_FALSE(ZoomSize(0, 10, 100, 100));
  EXPECT_FALSE(ZoomSize(10, 10, 0, 100));
  EXPECT_FALSE(ZoomSize(10, 10, 100, -1));
}

TEST(Mitchell, HasTheKnownShape) {
  EXPECT_NEAR(MitchellWeight(0), 8.0 / 9.0, 1e-12);
  EXPECT_NEAR(MitchellWeight(1), 1.0 / 18.0, 1e-12);
  EXPECT_NEAR(MitchellWeight(-1), 1.0 / 18.0, 1e-12);
  EXPECT_NEAR(MitchellWeight(2), 0.0, 1e-12);
  EXPECT_NEAR(MitchellWeight(1.5), -(7.0 / 18) * 3.375 + 2 * 2.25 - 5 + 16.0 / 9, 1e-12);
  // Samples one apart add up to one.
  for (double t : {0.0, 0.25, 0.5, 0.9})
    EXPECT_NEAR(MitchellWeight(t - 2) + MitchellWeight(t - 1) + MitchellWeight(t) + MitchellWeight(t + 1), 1.0, 1e-12);
}

// One pass written out directly: destination pixel i samples the source at (i + 0.5) / scale -
// 0.5, the filter stretched by 1 / scale when shrinking; edges mirrored (-j -> j, n + k -> n - 1 - k).
std::vector<double> ReferenceLine(const std::vector<double> &source, int32_t size) {
  const int32_t n = int32_t(source.size());
  const double scale = double(size) / n;
  const double stretch = scale < 1 ? 1 / scale : 1;
  std::vector<double> out(static_cast<size_t>(size));
  for (int32_t i = 0; i < size; ++i) {
    const double center = (i + 0.5) / scale - 0.5;
    double sum = 0;
    for (int64_t j = int64_t(std::floor(center - 2 * stretch)); j <= int64_t(std::ceil(center + 2 * stretch)); ++j) {
      int64_t k = j < 0 ? -j : j >= n ? 2 * n - 1 - j : j;
      k = std::clamp<int64_t>(k, 0, n - 1);
      sum += source[size_t(k)] * MitchellWeight((center - double(j)) / stretch) / stretch;
    }
    out[size_t(i)] = std::clamp(std::round(sum), 0.0, 255.0);
  }
  return out;
}

// Rows first, then columns; positions counted in memory order.
std::vector<uint8_t> Reference(NVPixelBuffer &source, int32_t width, int32_t height) {
  const int32_t sw = source.Width(), sh = source.Height();
  std::vector<uint8_t> out(size_t(width) * height * 4, 0);
  for (int channel = 0; channel < 3; ++channel) {
    std::vector<std::vector<double>> across(static_cast<size_t>(sh));
    for (int32_t y = 0; y < sh; ++y) {
      std::vector<double> line;
      for (int32_t x = 0; x < sw; ++x)
        line.push_back(source.Bits()[(size_t(y) * sw + x) * 4 + channel]);
      across[size_t(y)] = ReferenceLine(line, width);
    }
    for (int32_t x = 0; x < width; ++x) {
      std::vector<double> column;
      for (int32_t y = 0; y < sh; ++y)
        column.push_back(across[size_t(y)][size_t(x)]);
      const std::vector<double> result = ReferenceLine(column, height);
      for (int32_t y = 0; y < height; ++y)
        out[(size_t(y) * width + x) * 4 + channel] = uint8_t(result[size_t(y)]);
    }
  }
  return out;
}

// The fixed-point weights may move a result by one step; nothing more.
void ExpectCloseToReference(NVPixelBuffer &source, int32_t width, int32_t height) {
  NVPixelBuffer result = Resample(source.View(), width, height);
  ASSERT_EQ(result.Width(), width);
  ASSERT_EQ(result.Height(), height);
  const std::vector<uint8_t> expected = Reference(source, width, height);
  int differences = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (i % 4 == 3)
      continue;
    ASSERT_LE(std::abs(int(result.Bits()[i]) - int(expected[i])), 1) << "byte " << i;
    differences += result.Bits()[i] != expected[i];
  }
  EXPECT_LT(differences, int(expected.size() / 20)) << "too many off-by-one results";
}

TEST(Resample, MatchesTheFloatingPointFilterWhenShrinkingEnlargingAndMixed) {
  NVPixelBuffer noise = NoisePicture(37, 23, 4);
  ExpectCloseToReference(noise, 10, 7);
  ExpectCloseToReference(noise, 80, 50);
  ExpectCloseToReference(noise, 12, 40);
  NVPixelBuffer gradient = GradientPicture(64, 48);
  ExpectCloseToReference(gradient, 20, 15);
  NVPixelBuffer tiny = NoisePicture(2, 1, 6);
  ExpectCloseToReference(tiny, 9, 4);
}

TEST(Resample, KeepsAFlatPictureFlatAndSharpEdgesClamped) {
  NVPixelBuffer flat(30, 20);
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 30; ++x)
      SetPixel(flat, x, y, {200, 100, 50});
  NVPixelBuffer small = Resample(flat.View(), 7, 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 7; ++x) {
      const Rgb c = GetPixel(small, x, y);
      EXPECT_NEAR(c.r, 200, 1);
      EXPECT_NEAR(c.g, 100, 1);
      EXPECT_NEAR(c.b, 50, 1);
    }
  // Black next to white overshoots below 0 and above 255 before clamping.
  NVPixelBuffer edge(4, 1);
  SetPixel(edge, 2, 0, {255, 255, 255});
  SetPixel(edge, 3, 0, {255, 255, 255});
  NVPixelBuffer wide = Resample(edge.View(), 16, 1);
  EXPECT_EQ(GetPixel(wide, 0, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(GetPixel(wide, 15, 0), (Rgb{255, 255, 255}));
}

TEST(Zoom, MakesANewBitmapOfTheFittedSize) {
  auto bitmap = CreateMemoryBitmap(GradientPicture(192, 108), nullptr);
  auto thumb = bitmap->Zoom(50, 50);
  ASSERT_TRUE(thumb);
  EXPECT_EQ(thumb->GetWidth(), 50);
  EXPECT_EQ(thumb->GetHeight(), 28);
  EXPECT_EQ(bitmap->GetWidth(), 192);
  EXPECT_FALSE(bitmap->Zoom(0, 50));
  EXPECT_FALSE(bitmap->Zoom(70000, 70000)); // beyond the largest picture
}

} // namespace
} // namespace kx::test
