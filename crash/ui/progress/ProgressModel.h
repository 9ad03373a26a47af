#pragma once
// The portable part of the progress window: the weighted areas and the overall position, the
// layout of the window's children, where the window goes on the screen, and the picture's pixels.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx {

struct TProgressArea {
  int64_t before = 0; // sum of the weights of all earlier areas
  int64_t weight = 0;
  std::string text;
};

// Overall share done, per mille: (before * 1000 + weight * position) / sum, truncated. Scaling
// before dividing keeps small weights exact (weights 1 and 3, position 500 in the second area:
// 625, where dividing the position first would lose the half area and give 500). A position outside 0..1000 counts as its nearest end, a sum of 0 or less gives 0,
// and the result always lies within 0..1000. Weights too large for the exact 64-bit formula are
// scaled instead of overflowing.
int32_t OverallPerMille(int64_t before, int64_t weight, int64_t sum, int32_t position);

// The areas, the current area and the position within it. Not synchronised: the window guards it.
class TProgressAreas {
public:
  void Add(int64_t weight, const std::string &text);
  void Clear();
  // Moves to another area. Values below 0, above the number of areas or equal to the current
  // area change nothing (result false). The number of areas itself selects the last area with a
  // full position; any other area starts at position 0.
  bool SetCurrent(int32_t value);
  bool Done() { return SetCurrent(FCurrent + 1); }

  int32_t Current() const { return FCurrent; }
  int32_t Position() const { return FPosition; }
  void SetPosition(int32_t value) { FPosition = value; }
  int32_t Overall() const;

  size_t Count() const { return FAreas.size(); }
  int64_t Sum() const { return FSum; }
  const TProgressArea &Area(size_t index) const { return FAreas[index]; }
  // The current area's text; nothing when there is no area.
  std::optional<std::string> CurrentText() const;
  // Texts of the current area and of every later one, in order.
  std::vector<std::string> TextsFromCurrent() const;

private:
  std::vector<TProgressArea> FAreas;
  int64_t FSum = 0;
  int32_t FCurrent = 0;
  int32_t FPosition = 0;
};

struct TProgressRect {
  int32_t x = 0, y = 0, cx = 0, cy = 0;
  bool operator==(const TProgressRect &) const = default;
};

struct TProgressSize {
  int32_t cx = 0, cy = 0;
  bool operator==(const TProgressSize &) const = default;
};

// Width within which every area text is word-wrapped when it is measured.
inline constexpr int32_t kProgressWrapWidth = 420;

struct TProgressLayout {
  bool hasPicture = false;
  TProgressRect picture; // the 32 x 32 picture child, when hasPicture
  TProgressRect label;   // the text child
  TProgressRect bar;     // the progress bar
  TProgressSize client;  // the window's client area
};

// Lays the window out. textSizes holds the wrapped size of the current area's text and of every
// later area's text: the label is as large as the largest of them, so that the window keeps its
// size while the areas change. barHeight is the height of a horizontal scroll-bar arrow.
TProgressLayout LayoutProgressWindow(const std::vector<TProgressSize> &textSizes, bool hasPicture,
                                     int32_t barHeight);

// Where a window of the given size goes: centred on the screen when activated, otherwise 2 pixels
// in from the bottom-right corner of the work area (left, top, right, bottom).
struct TProgressBounds {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct TProgressPoint {
  int32_t x = 0, y = 0;
  bool operator==(const TProgressPoint &) const = default;
};
TProgressPoint CentreOnScreen(TProgressSize window, TProgressSize screen);
TProgressPoint BottomRightOf(TProgressSize window, TProgressBounds workArea);

// The picture: a 40-byte bitmap header followed by 32 x 32 pixels of 4 bytes (blue, green, red,
// alpha), 4,136 bytes in all.
inline constexpr int32_t kPictureSide = 32;
inline constexpr size_t kPictureHeaderSize = 40;
inline constexpr size_t kPictureDataSize = kPictureHeaderSize + kPictureSide * kPictureSide * 4;

struct TProgressPicture {
  std::vector<uint32_t> pixels; // 0xAARRGGBB, rows in the order the header gives
  bool topDown = false;         // the header's height is negative
};

// Reads the picture from resource data; nothing when the size is not exactly kPictureDataSize.
std::optional<TProgressPicture> ReadProgressPicture(const uint8_t *data, size_t size);

// Blends one pixel (0xAARRGGBB) over a background (0x00RRGGBB) with a = alpha + 1:
// ((256 - a) * background + a * pixel) / 256 per channel, on the packed channels; the result's
// alpha byte is 0.
uint32_t BlendOverBackground(uint32_t pixel, uint32_t background);
std::vector<uint32_t> BlendPicture(const TProgressPicture &picture, uint32_t background);

} // namespace kx
