#include "crash/analysis/debuginfo/Deflate.h"

#include "crash/analysis/debuginfo/Crc32.h"
#include "crash/base/bytes/ByteStream.h"

#include <zlib.h>

namespace debuginfo {

namespace {
// Deflate cannot expand data more than about 1032 times; a larger stated length is corrupt,
// and refusing it keeps a damaged header from demanding gigabytes.
constexpr uint64_t kMaxRatio = 1040;
constexpr uint64_t kMaxUncompressed = uint64_t(1) << 30;
} // namespace

std::vector<uint8_t> CompressBlock(const uint8_t *data, size_t size) {
  ByteWriter w;
  w.U64(size);
  w.U32(Crc32(data, size));
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    return {};
  std::vector<uint8_t> out(deflateBound(&z, uLong(size)));
  z.next_in = const_cast<Bytef *>(data);
  z.avail_in = uInt(size);
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int rc = deflate(&z, Z_FINISH);
  size_t produced = out.size() - z.avail_out;
  deflateEnd(&z);
  if (rc != Z_STREAM_END)
    return {};
  w.Raw(out.data(), produced);
  return std::move(w.Bytes);
}

std::optional<std::vector<uint8_t>> DecompressBlock(const uint8_t *data, size_t size) {
  if (size < 13)
    return std::nullopt;
  kx::ByteReader r(data, size);
  uint64_t length = r.U64();
  uint32_t crc = r.U32();
  const size_t compressed = size - 12;
  if (length > kMaxUncompressed || length > compressed * kMaxRatio + 64)
    return std::nullopt;
  std::vector<uint8_t> out(size_t(length) + 1); // one spare byte detects a longer stream
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK)
    return std::nullopt;
  z.next_in = const_cast<Bytef *>(data + 12);
  z.avail_in = uInt(compressed);
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int rc = inflate(&z, Z_FINISH);
  size_t produced = out.size() - z.avail_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END || produced != length)
    return std::nullopt;
  out.resize(produced);
  if (Crc32(out.data(), out.size()) != crc)
    return std::nullopt;
  return out;
}

} // namespace debuginfo
