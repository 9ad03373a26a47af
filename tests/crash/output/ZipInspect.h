#pragma once
// Reads a zip archive back from its bytes, independently of the writer: the end record, the
// central directory and each local header, the member data inflated with zlib and checked
// against the stored CRC (zlib's own crc32). Any inconsistency is an error text.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kx::test {

struct ZipMember {
  std::string name; // as stored (UTF-8)
  std::string data; // inflated
  uint16_t flags = 0, method = 0, time = 0, date = 0;
  uint32_t externalAttributes = 0;
};

struct ZipContents {
  std::string error; // empty when the archive is consistent
  std::vector<ZipMember> members;
};

namespace zipinspect {
inline uint32_t U16(const std::string &b, size_t at) { return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8; }
inline uint32_t U32(const std::string &b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

inline bool Inflate(const std::string &in, size_t size, std::string &out) {
  out.assign(size, '\0');
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK)
    return false;
  std::string spare(1, '\0');
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
  z.avail_in = uInt(in.size());
  z.next_out = reinterpret_cast<Bytef *>(size ? out.data() : spare.data());
  z.avail_out = uInt(size ? size : 1);
  int rc = inflate(&z, Z_FINISH);
  bool ok = rc == Z_STREAM_END && z.total_out == size && z.avail_in == 0;
  inflateEnd(&z);
  return ok;
}
} // namespace zipinspect

inline ZipContents InspectZip(const std::string &zip) {
  using namespace zipinspect;
  ZipContents c;
  if (zip.size() < 22 || U32(zip, zip.size() - 22) != 0x06054B50) {
    c.error = "no end record at the end";
    return c;
  }
  size_t end = zip.size() - 22;
  uint32_t entries = U16(zip, end + 10), cdSize = U32(zip, end + 12), cdOffset = U32(zip, end + 16);
  if (U16(zip, end + 8) != entries || U16(zip, end + 4) != 0 || U16(zip, end + 6) != 0 || U16(zip, end + 20) != 0 ||
      size_t(cdOffset) + cdSize != end) {
    c.error = "end record inconsistent";
    return c;
  }
  size_t at = cdOffset;
  for (uint32_t i = 0; i < entries; ++i) {
    if (at + 46 > end || U32(zip, at) != 0x02014B50) {
      c.error = "bad central header " + std::to_string(i);
      return c;
    }
    ZipMember m;
    uint32_t nameLength = U16(zip, at + 28), localOffset = U32(zip, at + 42);
    if (U16(zip, at + 30) || U16(zip, at + 32) || U16(zip, at + 34) || U16(zip, at + 36) || U16(zip, at + 4) != (11 << 8 | 20)) {
      c.error = "central header fields " + std::to_string(i);
      return c;
    }
    m.externalAttributes = U32(zip, at + 38);
    m.name = zip.substr(at + 46, nameLength);
    if (localOffset + 30 > cdOffset || U32(zip, localOffset) != 0x04034B50 ||
        zip.compare(localOffset + 4, 24, zip, at + 6, 24) != 0 || U16(zip, localOffset + 28) != 0 ||
        zip.compare(localOffset + 30, nameLength, m.name) != 0) {
      c.error = "local header does not match the central one " + std::to_string(i);
      return c;
    }
    m.flags = U16(zip, at + 8);
    m.method = U16(zip, at + 10);
    m.time = U16(zip, at + 12);
    m.date = U16(zip, at + 14);
    uint32_t crc = U32(zip, at + 16), packed = U32(zip, at + 20), size = U32(zip, at + 24);
    size_t dataAt = localOffset + 30 + nameLength;
    if (dataAt + packed > cdOffset || !Inflate(zip.substr(dataAt, packed), size, m.data) ||
        crc32(0, reinterpret_cast<const Bytef *>(m.data.data()), uInt(m.data.size())) != crc) {
      c.error = "member data " + std::to_string(i);
      return c;
    }
    c.members.push_back(std::move(m));
    at += 46 + nameLength;
  }
  if (at != end)
    c.error = "central directory size";
  return c;
}

} // namespace kx::test
