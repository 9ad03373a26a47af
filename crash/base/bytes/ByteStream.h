#pragma once
// Little-endian byte writer, and the debug stream's packed forms over the shared byte reader:
// a packed integer is one signed byte for -127..127 (0x80 is the escape), else 0x80 followed
// by the 32-bit value; a packed string is a length byte and up to 255 8-bit characters.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crash/base/bytes/ByteReader.h"

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

// The packed forms, read through the shared reader. A packed integer whose long form runs past the
// end fails the reader.
inline int32_t PackedInt(kx::ByteReader &r) {
  uint8_t b = r.U8();
  if (b == 0x80)
    return int32_t(r.U32());
  return int8_t(b);
}
// A string whose characters run past the end is skipped: it stays empty and the reader moves to
// the end without failing.
inline std::string PackedString(kx::ByteReader &r) {
  size_t n = r.U8();
  if (!r.Has(n)) {
    r.Seek(r.Size());
    return {};
  }
  return std::string(r.Text(n));
}

} // namespace debuginfo
