#include "crash/output/image/NVPngEncoding.h"

#include <algorithm>
#include <new>

#include "crash/output/image/NVColourMapper.h"
#include "crash/output/image/NVGreyImage.h"
#include "crash/output/image/NVPngWriter.h"
#include "crash/output/image/NVWuQuantizer.h"

namespace kx {

std::string EncodeColourPng(const NVPixelView &pixels) {
  const NVWuResult wu = QuantizeWu(pixels);
  const std::vector<uint8_t> indices = MapToPalette(pixels, wu.palette);
  const size_t width = size_t(pixels.width);
  return WritePalettePng(pixels.width, pixels.height, 8, wu.palette, [&](int32_t y, uint8_t *row) {
    const uint8_t *source = indices.data() + size_t(pixels.height - 1 - y) * width;
    std::copy(source, source + width, row);
  });
}

std::string EncodeGreyPng(const NVPixelView &pixels) {
  MakeGrey(pixels);
  return WritePalettePng(pixels.width, pixels.height, 4, GreyPalette(), [&](int32_t y, uint8_t *row) {
    const uint8_t *p = pixels.TopRow(y);
    for (int32_t x = 0; x < pixels.width; ++x, p += kNVBytesPerPixel) {
      const uint8_t level = GreyLevelIndex(p[0]);
      if (x % 2 == 0)
        row[x / 2] = uint8_t(level << 4);
      else
        row[x / 2] |= level;
    }
  });
}

size_t GreyTrialLimit(int32_t format) {
  switch (format) {
  case 2:
    return 51200;
  case 3:
    return 102400;
  case 4:
    return 204800;
  case 5:
    return 307200;
  default:
    return 0;
  }
}

std::string EncodePng(const NVPixelView &pixels, int32_t format) {
  if (!NVValidPictureSize(pixels.width, pixels.height) || !pixels.bits)
    return {};
  std::string colour;
  if (format != 1) {
    try {
      colour = EncodeColourPng(pixels);
    } catch (const std::bad_alloc &) {
      colour.clear();
    }
  }
  const size_t limit = GreyTrialLimit(format);
  if (format != 1 && !colour.empty() && (limit == 0 || colour.size() <= limit))
    return colour;
  std::string grey;
  try {
    grey = EncodeGreyPng(pixels);
  } catch (const std::bad_alloc &) {
    grey.clear();
  }
  if (colour.empty() || (!grey.empty() && grey.size() < colour.size()))
    return grey;
  return colour;
}

} // namespace kx
