#pragma once
// The one reader of little-endian binary data: every file format, stream and table the reporter
// parses reads its bytes through it. Every read is bounds-checked: a read past the end sets
// Failed, moves the position to the end and yields zero (or an empty view), so a parser reads a
// group of fields and checks Failed once.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kx {

class ByteReader {
public:
  ByteReader() = default;
  ByteReader(const uint8_t *data, size_t size) : FData(data), FSize(data ? size : 0) {}
  explicit ByteReader(std::span<const uint8_t> bytes) : ByteReader(bytes.data(), bytes.size()) {}
  explicit ByteReader(std::string_view bytes)
      : ByteReader(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()) {}

  size_t Size() const { return FSize; }
  size_t Position() const { return FPos; }
  size_t Remaining() const { return FSize - FPos; }
  bool Failed() const { return FFailed; }
  // True when n more bytes can be read.
  bool Has(size_t n) const { return n <= Remaining(); }

  uint8_t U8() { return uint8_t(Unsigned(1)); }
  uint16_t U16() { return uint16_t(Unsigned(2)); }
  uint32_t U32() { return uint32_t(Unsigned(4)); }
  uint64_t U64() { return Unsigned(8); }
  int8_t S8() { return int8_t(U8()); }
  int16_t S16() { return int16_t(U16()); }
  int32_t S32() { return int32_t(U32()); }
  // An unsigned value of width bytes (0 to 8).
  uint64_t Unsigned(size_t width) {
    if (width > 8 || !Has(width))
      return Fail();
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i)
      v |= uint64_t(FData[FPos + i]) << (8 * i);
    FPos += width;
    return v;
  }
  // A value of width bytes (1 to 8), sign-extended from its top bit.
  int64_t Signed(size_t width) {
    if (width == 0 || width > 8 || !Has(width))
      return int64_t(Fail());
    uint64_t v = Unsigned(width);
    if (width < 8 && (v >> (8 * width - 1)) & 1)
      v |= ~uint64_t(0) << (8 * width);
    return int64_t(v);
  }
  // LEB128: at most 10 bytes; a longer or unterminated value fails. Bits beyond 64 are dropped.
  uint64_t ULeb128() {
    uint64_t v = 0;
    for (unsigned shift = 0; shift < 70; shift += 7) {
      if (!Has(1))
        return Fail();
      uint8_t b = FData[FPos++];
      if (shift < 64)
        v |= uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80))
        return v;
    }
    return Fail();
  }
  int64_t SLeb128() {
    uint64_t v = 0;
    for (unsigned shift = 0; shift < 70; shift += 7) {
      if (!Has(1))
        return int64_t(Fail());
      uint8_t b = FData[FPos++];
      if (shift < 64)
        v |= uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80)) {
        if (shift + 7 < 64 && (b & 0x40))
          v |= ~uint64_t(0) << (shift + 7);
        return int64_t(v);
      }
    }
    return int64_t(Fail());
  }
  // The next n bytes; an empty view (and Failed) when fewer are left.
  std::span<const uint8_t> Bytes(size_t n) {
    if (!Has(n)) {
      Fail();
      return {};
    }
    std::span<const uint8_t> v(FData + FPos, n);
    FPos += n;
    return v;
  }
  std::string_view Text(size_t n) {
    std::span<const uint8_t> v = Bytes(n);
    return {reinterpret_cast<const char *>(v.data()), v.size()};
  }
  void Skip(size_t n) {
    if (!Has(n))
      Fail();
    else
      FPos += n;
  }
  // Moves to an absolute position; a position past the end fails.
  bool Seek(size_t position) {
    if (position > FSize) {
      Fail();
      return false;
    }
    FPos = position;
    return true;
  }
  // The next byte without reading it; 0 at the end (without failing).
  uint8_t Peek() const { return FPos < FSize ? FData[FPos] : 0; }

private:
  uint64_t Fail() {
    FFailed = true;
    FPos = FSize;
    return 0;
  }
  const uint8_t *FData = nullptr;
  size_t FSize = 0;
  size_t FPos = 0;
  bool FFailed = false;
};

} // namespace kx
