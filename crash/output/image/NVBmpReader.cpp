#include "crash/output/image/NVBmpReader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <new>
#include <optional>

namespace kx {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

uint16_t U16(std::string_view data, size_t at) {
  return uint16_t(uint8_t(data[at]) | uint8_t(data[at + 1]) << 8);
}
uint32_t U32(std::string_view data, size_t at) { return uint32_t(U16(data, at)) | uint32_t(U16(data, at + 2)) << 16; }

bool KnownInfoHeaderSize(uint32_t size) { return size == 40 || size == 52 || size == 56 || size == 108 || size == 124; }

// One channel of a BI_BITFIELDS pixel: a contiguous run of bits, scaled to 0..255.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t maximum = 0; // mask >> shift

  static std::optional<Channel> From(uint32_t mask, int bitCount) {
    if (mask == 0 || (bitCount < 32 && mask >> bitCount != 0))
      return std::nullopt;
    Channel c;
    c.mask = mask;
    c.shift = std::countr_zero(mask);
    c.maximum = mask >> c.shift;
    if ((c.maximum & (c.maximum + 1)) != 0) // not one run of ones
      return std::nullopt;
    return c;
  }

  uint8_t Value(uint32_t pixel) const {
    const uint64_t v = (pixel & mask) >> shift;
    return uint8_t((v * 255 + maximum / 2) / maximum);
  }
};

struct Format {
  int bitCount = 0;
  bool bitfields = false;
  std::array<Channel, 3> channels{}; // red, green, blue for 16 and 32 bits with masks
};

NVBmpError ReadMasks(std::string_view file, size_t at, Format &format) {
  const uint32_t masks[3] = {U32(file, at), U32(file, at + 4), U32(file, at + 8)};
  for (size_t i = 0; i < 3; ++i) {
    auto channel = Channel::From(masks[i], format.bitCount);
    if (!channel)
      return NVBmpError::badMasks;
    format.channels[i] = *channel;
  }
  if ((masks[0] & masks[1]) || (masks[0] & masks[2]) || (masks[1] & masks[2]))
    return NVBmpError::badMasks;
  return NVBmpError::none;
}

struct Layout {
  int32_t width = 0;
  int32_t height = 0; // absolute
  bool topDown = false;
  Format format;
  size_t colourTable = 0; // offset of the colour table
  uint32_t colours = 0;   // entries in it (bit counts up to 8)
  size_t pixelOffset = 0;
  size_t stride = 0;
};

NVBmpError ReadLayout(std::string_view file, Layout &layout) {
  if (file.size() < kFileHeaderSize + 4)
    return file.size() >= 2 && file.substr(0, 2) != "BM" ? NVBmpError::notBmp : NVBmpError::truncated;
  if (file.substr(0, 2) != "BM")
    return NVBmpError::notBmp;
  const uint32_t infoSize = U32(file, kFileHeaderSize);
  if (!KnownInfoHeaderSize(infoSize))
    return NVBmpError::unsupportedHeader;
  if (file.size() < kFileHeaderSize + infoSize)
    return NVBmpError::truncated;

  const int32_t width = int32_t(U32(file, 18));
  const int32_t height = int32_t(U32(file, 22));
  const uint16_t planes = U16(file, 26);
  const uint16_t bitCount = U16(file, 28);
  const uint32_t compression = U32(file, 30);
  const uint32_t coloursUsed = U32(file, 46);

  if (width <= 0 || height == 0 || height == INT32_MIN)
    return NVBmpError::badSize;
  layout.width = width;
  layout.topDown = height < 0;
  layout.height = height < 0 ? -height : height;
  if (!NVValidPictureSize(layout.width, layout.height))
    return NVBmpError::badSize;
  if (planes != 1)
    return NVBmpError::badPlanes;

  Format &format = layout.format;
  format.bitCount = bitCount;
  size_t headersEnd = kFileHeaderSize + infoSize;
  if (compression == kBiRgb) {
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
      return NVBmpError::unsupportedFormat;
    if (bitCount == 16) { // 5 bits each, the top bit unused
      format.bitfields = true;
      format.channels = {*Channel::From(0x7C00, 16), *Channel::From(0x03E0, 16), *Channel::From(0x001F, 16)};
    }
  } else if (compression == kBiBitfields) {
    if (bitCount != 16 && bitCount != 32)
      return NVBmpError::unsupportedFormat;
    format.bitfields = true;
    size_t masksAt = kFileHeaderSize + 40; // inside the larger headers, after the small one
    if (infoSize == 40) {
      headersEnd += 12;
      if (file.size() < headersEnd)
        return NVBmpError::truncated;
    }
    if (NVBmpError error = ReadMasks(file, masksAt, format); error != NVBmpError::none)
      return error;
  } else {
    return NVBmpError::unsupportedFormat;
  }

  layout.colourTable = headersEnd;
  if (bitCount <= 8) {
    const uint32_t most = 1u << bitCount;
    if (coloursUsed > most)
      return NVBmpError::badColourTable;
    layout.colours = coloursUsed == 0 ? most : coloursUsed;
    headersEnd += size_t(layout.colours) * 4;
  }

  const uint32_t pixelOffset = U32(file, 10);
  if (pixelOffset < layout.colourTable)
    return NVBmpError::badOffset;
  if (pixelOffset < headersEnd)
    return NVBmpError::badColourTable;
  if (file.size() < headersEnd)
    return NVBmpError::truncated;

  layout.pixelOffset = pixelOffset;
  layout.stride = (size_t(layout.width) * bitCount + 31) / 32 * 4;
  const uint64_t pixelBytes = uint64_t(layout.stride) * uint64_t(layout.height);
  if (pixelOffset > file.size() || file.size() - pixelOffset < pixelBytes)
    return NVBmpError::truncated;
  return NVBmpError::none;
}

// Decodes one file row into one picture row; false on a colour index beyond the table.
bool DecodeRow(std::string_view file, const Layout &layout, const uint8_t *in, uint8_t *out) {
  const Format &format = layout.format;
  const int32_t width = layout.width;
  switch (format.bitCount) {
  case 1:
  case 4:
  case 8: {
    const int bits = format.bitCount;
    const unsigned perByte = 8u / unsigned(bits);
    const uint32_t indexMask = (1u << bits) - 1;
    for (int32_t x = 0; x < width; ++x, out += kNVBytesPerPixel) {
      const uint8_t byte = in[size_t(x) / perByte];
      const unsigned slot = unsigned(x) % perByte; // the leftmost pixel is in the highest bits
      const uint32_t index = (byte >> (8 - bits * int(slot + 1))) & indexMask;
      if (index >= layout.colours)
        return false;
      const size_t entry = layout.colourTable + size_t(index) * 4;
      out[0] = uint8_t(file[entry]);
      out[1] = uint8_t(file[entry + 1]);
      out[2] = uint8_t(file[entry + 2]);
      out[3] = 0;
    }
    return true;
  }
  case 24:
    for (int32_t x = 0; x < width; ++x, in += 3, out += kNVBytesPerPixel) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      out[3] = 0;
    }
    return true;
  default:
    break;
  }
  const size_t bytes = size_t(format.bitCount) / 8;
  for (int32_t x = 0; x < width; ++x, in += bytes, out += kNVBytesPerPixel) {
    if (!format.bitfields) { // 32 bits, blue, green, red, unused
      std::copy(in, in + 4, out);
      continue;
    }
    const uint32_t pixel = bytes == 2 ? uint32_t(in[0] | in[1] << 8)
                                      : uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 |
                                            uint32_t(in[3]) << 24;
    out[0] = format.channels[2].Value(pixel);
    out[1] = format.channels[1].Value(pixel);
    out[2] = format.channels[0].Value(pixel);
    out[3] = 0;
  }
  return true;
}

} // namespace

const char *BmpErrorText(NVBmpError error) {
  switch (error) {
  case NVBmpError::none:
    return "no error";
  case NVBmpError::truncated:
    return "the file is shorter than its headers say";
  case NVBmpError::notBmp:
    return "not a BMP file";
  case NVBmpError::unsupportedHeader:
    return "unsupported information header";
  case NVBmpError::badSize:
    return "picture size out of range";
  case NVBmpError::badPlanes:
    return "plane count is not 1";
  case NVBmpError::unsupportedFormat:
    return "unsupported compression or bit count";
  case NVBmpError::badMasks:
    return "invalid channel masks";
  case NVBmpError::badColourTable:
    return "invalid colour table";
  case NVBmpError::badOffset:
    return "pixel data overlaps the headers";
  case NVBmpError::badIndex:
    return "colour index beyond the colour table";
  case NVBmpError::outOfMemory:
    return "not enough memory for the picture";
  case NVBmpError::unreadable:
    return "the file cannot be read";
  }
  return "unknown error";
}

NVBmpImage ReadBmp(std::string_view file) {
  NVBmpImage image;
  Layout layout;
  image.error = ReadLayout(file, layout);
  if (!image.Ok())
    return image;
  try {
    image.pixels = NVPixelBuffer(layout.width, layout.height);
  } catch (const std::bad_alloc &) {
    image.error = NVBmpError::outOfMemory;
    return image;
  }
  const NVPixelView view = image.pixels.View();
  const auto *data = reinterpret_cast<const uint8_t *>(file.data()) + layout.pixelOffset;
  for (int32_t row = 0; row < layout.height; ++row) {
    const int32_t y = layout.topDown ? layout.height - 1 - row : row;
    if (!DecodeRow(file, layout, data + size_t(row) * layout.stride, view.Row(y))) {
      image.error = NVBmpError::badIndex;
      image.pixels = NVPixelBuffer();
      return image;
    }
  }
  return image;
}

} // namespace kx
