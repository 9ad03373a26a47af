#pragma once
// The pixel model of a bitmap: 32 bits per pixel in blue, green, red, unused order; rows
// bottom-up (the first row in memory is the bottom row of the picture); no padding between rows,
// so a row is width * 4 bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx {

constexpr size_t kNVBytesPerPixel = 4;
// The largest picture a bitmap holds: at most 65535 pixels on a side and 2^26 pixels in all
// (256 MB of pixel memory, already more than a 32-bit process can usually spare).
constexpr int64_t kNVMaxSide = 65535;
constexpr int64_t kNVMaxPixels = int64_t(1) << 26;

// True when width and height are both positive and within the limits above.
bool NVValidPictureSize(int64_t width, int64_t height);

// Pixel memory owned by someone else (a DIB section, a buffer).
struct NVPixelView {
  uint8_t *bits = nullptr;
  int32_t width = 0;
  int32_t height = 0;

  size_t Stride() const { return size_t(width) * kNVBytesPerPixel; }
  size_t Size() const { return Stride() * size_t(height); }
  // Row y counted from the bottom of the picture (memory order).
  uint8_t *Row(int32_t y) const { return bits + Stride() * size_t(y); }
  // Row y counted from the top of the picture.
  uint8_t *TopRow(int32_t y) const { return Row(height - 1 - y); }
};

// Pixel memory of its own, zero-filled when made.
class NVPixelBuffer {
public:
  NVPixelBuffer() = default;
  // width and height must pass NVValidPictureSize.
  NVPixelBuffer(int32_t width, int32_t height);

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  bool Empty() const { return FBits.empty(); }
  NVPixelView View() { return {FBits.data(), FWidth, FHeight}; }
  std::vector<uint8_t> &Bits() { return FBits; }
  const std::vector<uint8_t> &Bits() const { return FBits; }

private:
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  std::vector<uint8_t> FBits;
};

} // namespace kx
