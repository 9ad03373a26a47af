#include "crash/ui/progress/ProgressModel.h"

#include <algorithm>
#include <cstring>

namespace kx {

int32_t OverallPerMille(int64_t before, int64_t weight, int64_t sum, int32_t position) {
  if (sum <= 0)
    return 0;
  const int64_t pos = std::clamp<int64_t>(position, 0, 1000);
  int64_t done = 0, part = 0, scaled = 0;
  int64_t result;
  if (!__builtin_mul_overflow(before, int64_t(1000), &done) && !__builtin_mul_overflow(weight, pos, &part) &&
      !__builtin_add_overflow(done, part, &scaled)) {
    result = scaled / sum;
  } else {
    // Weights near the 64-bit limit: the same share in floating point.
    const long double exact = ((long double)before * 1000.0L + (long double)weight * (long double)pos) / (long double)sum;
    result = exact >= 1000.0L ? 1000 : exact <= 0.0L ? 0 : int64_t(exact);
  }
  return int32_t(std::clamp<int64_t>(result, 0, 1000));
}

void TProgressAreas::Add(int64_t weight, const std::string &text) {
  TProgressArea area;
  area.before = FSum;
  area.weight = weight;
  area.text = text.empty() && !FAreas.empty() ? FAreas.back().text : text;
  FAreas.push_back(std::move(area));
  FSum += weight;
}

void TProgressAreas::Clear() {
  FAreas.clear();
  FCurrent = 0;
  FSum = 0;
}

bool TProgressAreas::SetCurrent(int32_t value) {
  const auto count = int64_t(FAreas.size());
  if (value == FCurrent || value < 0 || value > count)
    return false;
  if (value == count) {
    FCurrent = int32_t(count - 1);
    FPosition = 1000;
  } else {
    FCurrent = value;
    FPosition = 0;
  }
  return true;
}

int32_t TProgressAreas::Overall() const {
  if (FCurrent < 0 || size_t(FCurrent) >= FAreas.size())
    return 0;
  const TProgressArea &area = FAreas[size_t(FCurrent)];
  return OverallPerMille(area.before, area.weight, FSum, FPosition);
}

std::optional<std::string> TProgressAreas::CurrentText() const {
  if (FCurrent < 0 || size_t(FCurrent) >= FAreas.size())
    return std::nullopt;
  return FAreas[size_t(FCurrent)].text;
}

std::vector<std::string> TProgressAreas::TextsFromCurrent() const {
  std::vector<std::string> texts;
  for (size_t i = size_t(std::max(FCurrent, 0)); i < FAreas.size(); ++i)
    texts.push_back(FAreas[i].text);
  return texts;
}

TProgressLayout LayoutProgressWindow(const std::vector<TProgressSize> &textSizes, bool hasPicture,
                                     int32_t barHeight) {
  TProgressSize text;
  for (const TProgressSize &size : textSizes) {
    text.cx = std::max(text.cx, size.cx);
    text.cy = std::max(text.cy, size.cy);
  }
  TProgressLayout layout;
  layout.hasPicture = hasPicture;
  int32_t width = text.cx + (hasPicture ? 40 : 0);
  width = std::max(width, 220);
  int32_t height = text.cy;
  if (hasPicture) {
    layout.picture = {9, 9, kPictureSide, kPictureSide};
    int32_t top = 12;
    if (height < 26) {
      top = 12 + (26 - height) / 2;
      height = 26;
    }
    // The text child ends where the bar ends, so that it wraps exactly as the text was measured
    // and never runs past the window's right edge.
    layout.label = {51, top, width - 40, height};
  } else {
    layout.label = {11, 12, width, height};
  }
  layout.bar = {11, height + 24, width, barHeight};
  layout.client = {width + 22, height + 24 + barHeight + 12};
  return layout;
}

TProgressPoint CentreOnScreen(TProgressSize window, TProgressSize screen) {
  return {(screen.cx - window.cx) / 2, (screen.cy - window.cy) / 2};
}

TProgressPoint BottomRightOf(TProgressSize window, TProgressBounds workArea) {
  return {workArea.right - window.cx - 2, workArea.bottom - window.cy - 2};
}

std::optional<TProgressPicture> ReadProgressPicture(const uint8_t *data, size_t size) {
  if (data == nullptr || size != kPictureDataSize)
    return std::nullopt;
  TProgressPicture picture;
  int32_t height = 0;
  std::memcpy(&height, data + 8, 4); // biHeight, little-endian like the machine
  picture.topDown = height < 0;
  picture.pixels.resize(size_t(kPictureSide) * kPictureSide);
  for (size_t i = 0; i < picture.pixels.size(); ++i) {
    const uint8_t *p = data + kPictureHeaderSize + i * 4;
    picture.pixels[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }
  return picture;
}

uint32_t BlendOverBackground(uint32_t pixel, uint32_t background) {
  const uint32_t a = (pixel >> 24) + 1;
  const uint32_t rb = (((256 - a) * (background & 0xFF00FF) + a * (pixel & 0xFF00FF)) >> 8) & 0xFF00FF;
  const uint32_t g = (((256 - a) * (background & 0x00FF00) + a * (pixel & 0x00FF00)) >> 8) & 0x00FF00;
  return rb | g;
}

std::vector<uint32_t> BlendPicture(const TProgressPicture &picture, uint32_t background) {
  std::vector<uint32_t> out(picture.pixels.size());
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = BlendOverBackground(picture.pixels[i], background);
  return out;
}

} // namespace kx
