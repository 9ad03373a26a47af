#include "crash/output/image/NVZoom.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kx {

namespace {

constexpr double kSupport = 2.0; // the filter is zero from distance 2 on

struct Contribution {
  int32_t source; // pixel index along the line
  int32_t weight; // 16.16 fixed point
};

int32_t Mirror(int64_t j, int32_t size) {
  if (j < 0)
    j = -j;
  else if (j >= size)
    j = 2 * int64_t(size) - 1 - j;
  return int32_t(std::clamp<int64_t>(j, 0, size - 1));
}

// For every destination pixel along one axis, the source pixels and weights that make it.
std::vector<std::vector<Contribution>> Contributions(int32_t sourceSize, int32_t size) {
  const double scale = double(size) / sourceSize;
  const double stretch = scale < 1.0 ? 1.0 / scale : 1.0;
  const double support = kSupport * stretch;
  std::vector<std::vector<Contribution>> result(static_cast<size_t>(size));
  for (int32_t i = 0; i < size; ++i) {
    const double center = (i + 0.5) / scale - 0.5;
    const int64_t left = int64_t(std::floor(center - support));
    const int64_t right = int64_t(std::ceil(center + support));
    for (int64_t j = left; j <= right; ++j) {
      const double weight = MitchellWeight((center - double(j)) / stretch) / stretch;
      const int32_t fixed = int32_t(std::lround(weight * 65536.0));
      if (fixed != 0)
        result[size_t(i)].push_back({Mirror(j, sourceSize), fixed});
    }
  }
  return result;
}

uint8_t Clamp(int32_t sum) { return uint8_t(std::clamp((sum + 32768) >> 16, 0, 255)); }

} // namespace

std::optional<NVSize> ZoomSize(int32_t width, int32_t height, int32_t maxWidth, int32_t maxHeight) {
  if (width <= 0 || height <= 0 || maxWidth <= 0 || maxHeight <= 0)
    return std::nullopt;
  const int64_t fitHeight = int64_t(maxWidth) * height / width;
  const int64_t fitWidth = int64_t(maxHeight) * width / height;
  int64_t w = maxWidth, h = maxHeight;
  if (fitHeight > maxHeight || fitWidth > maxWidth) {
    if (int64_t(height) * 65536 / maxHeight < int64_t(width) * 65536 / maxWidth)
      h = fitHeight;
    else
      w = fitWidth;
  }
  return NVSize{int32_t(std::clamp<int64_t>(w, 1, maxWidth)), int32_t(std::clamp<int64_t>(h, 1, maxHeight))};
}

double MitchellWeight(double x) {
  x = std::fabs(x);
  if (x < 1.0)
    return (7.0 / 6.0) * x * x * x - 2.0 * x * x + 8.0 / 9.0;
  if (x < 2.0)
    return -(7.0 / 18.0) * x * x * x + 2.0 * x * x - (10.0 / 3.0) * x + 16.0 / 9.0;
  return 0.0;
}

NVPixelBuffer Resample(const NVPixelView &source, int32_t width, int32_t height) {
  NVPixelBuffer across(width, source.height); // rows resampled, columns not yet
  const auto columns = Contributions(source.width, width);
  for (int32_t y = 0; y < source.height; ++y) {
    const uint8_t *in = source.Row(y);
    uint8_t *out = across.View().Row(y);
    for (int32_t x = 0; x < width; ++x, out += kNVBytesPerPixel) {
      int32_t sums[3] = {0, 0, 0};
      for (const Contribution &c : columns[size_t(x)]) {
        const uint8_t *p = in + size_t(c.source) * kNVBytesPerPixel;
        for (int k = 0; k < 3; ++k)
          sums[k] += p[k] * c.weight;
      }
      for (int k = 0; k < 3; ++k)
        out[k] = Clamp(sums[k]);
    }
  }

  NVPixelBuffer result(width, height);
  const NVPixelView from = across.View();
  const NVPixelView to = result.View();
  const auto rows = Contributions(source.height, height);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t *out = to.Row(y);
    for (int32_t x = 0; x < width; ++x, out += kNVBytesPerPixel) {
      int32_t sums[3] = {0, 0, 0};
      for (const Contribution &c : rows[size_t(y)]) {
        const uint8_t *p = from.Row(c.source) + size_t(x) * kNVBytesPerPixel;
        for (int k = 0; k < 3; ++k)
          sums[k] += p[k] * c.weight;
      }
      for (int k = 0; k < 3; ++k)
        out[k] = Clamp(sums[k]);
    }
  }
  return result;
}

} // namespace kx
