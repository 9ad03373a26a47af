#pragma once
// Little-endian byte writer and bounds-checked reader with the debug stream's packed forms:
// a packed integer is one signed byte for -127..127 (0x80 is the escape), else 0x80 followed
// by the 32-bit value; a packed string is a length byte and up to 255 8-bit characters.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace debuginfo {

class ByteWriter {
public:
  void U8(uint8_t v) { Bytes.push_back(v); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i)
      Bytes.push_back(uint8_t(v >> (8 * i)));
  }
  void U64(uint64_t v) {
    U32(uint32_t(v));
    U32(uint32_t(v >> 32));
  }
  void Raw(const void *data, size_t size) {
    auto p = static_cast<const uint8_t *>(data);
    Bytes.insert(Bytes.end(), p, p + size);
  }
  // Values whose low byte is 0x80 take the long form too, so a short byte never reads as the escape.
  void PackedInt(int32_t v) {
    if (v > 127 || v < -127 || (v & 0xFF) == 0x80) {
      U8(0x80);
      U32(uint32_t(v));
    } else {
      U8(uint8_t(int8_t(v)));
    }
  }
  // Strings longer than 255 bytes are cut to 255.
  void PackedString(std::string_view s) {
    size_t n = s.size() < 255 ? s.size() : 255;
    U8(uint8_t(n));
    Raw(s.data(), n);
  }
  std::vector<uint8_t> Bytes;
};

// Every read past the end sets Failed and yields zero; callers check Failed once at the end
// of a record group.
class ByteReader {
public:
  ByteReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  size_t Remaining() const { return size_ - pos_; }
  size_t Position() const { return pos_; }
  bool Failed() const { return failed_; }

  uint8_t U8() {
    if (Remaining() < 1)
      return Fail();
    return data_[pos_++];
  }
  uint32_t U32() {
    if (Remaining() < 4)
      return Fail();
    uint32_t v = data_[pos_] | (data_[pos_ + 1] << 8) | (data_[pos_ + 2] << 16) |
                 (uint32_t(data_[pos_ + 3]) << 24);
    pos_ += 4;
    return v;
  }
  uint64_t U64() {
    uint64_t lo = U32();
    return lo | (uint64_t(U32()) << 32);
  }
  int32_t PackedInt() {
    uint8_t b = U8();
    if (b == 0x80)
      return int32_t(U32());
    return int8_t(b);
  }
  // A string whose characters run past the end is skipped: it stays empty and the reader
  // moves to the end.
  std::string PackedString() {
    size_t n = U8();
    if (Remaining() < n) {
      pos_ = size_;
      return {};
    }
    std::string s(reinterpret_cast<const char *>(data_ + pos_), n);
    pos_ += n;
    return s;
  }

private:
  uint8_t Fail() {
    failed_ = true;
    pos_ = size_;
    return 0;
  }
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
  bool failed_ = false;
};

} // namespace debuginfo
