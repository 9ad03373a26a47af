#include "crash/output/image/NVPngWriter.h"

#include <zlib.h>

#include <vector>

#include "crash/analysis/debuginfo/Crc32.h"
#include "crash/output/image/NVAdler32.h"

namespace kx {

namespace {

constexpr char kSignature[] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;
// zlib's default level: on screenshots level 9 takes five times as long for 8 % less, level 1
// saves half the time but makes the file a third larger.
constexpr int kDeflateLevel = Z_DEFAULT_COMPRESSION;
constexpr size_t kBatchBytes = 64 * 1024; // filtered rows handed to deflate at a time

void PutU32(std::string &out, uint32_t value) {
  out += char(value >> 24);
  out += char(value >> 16);
  out += char(value >> 8);
  out += char(value);
}

void PutU32At(std::string &out, size_t at, uint32_t value) {
  out[at] = char(value >> 24);
  out[at + 1] = char(value >> 16);
  out[at + 2] = char(value >> 8);
  out[at + 3] = char(value);
}

// Starts a chunk: a length placeholder and the type. Returns where the length goes.
size_t BeginChunk(std::string &out, const char *type) {
  const size_t at = out.size();
  PutU32(out, 0);
  out.append(type, 4);
  return at;
}

// Writes the length and appends the CRC over type and data; false when the data is too long.
bool EndChunk(std::string &out, size_t at) {
  const size_t length = out.size() - at - 8;
  if (length > kMaxChunkLength)
    return false;
  PutU32At(out, at, uint32_t(length));
  PutU32(out, debuginfo::Crc32(out.data() + at + 4, length + 4));
  return true;
}

// Raw deflate into the end of out, fed in batches.
class DeflateStream {
public:
  explicit DeflateStream(std::string &out) : FOut(out) {
    FOk = deflateInit2(&FZ, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~DeflateStream() {
    if (FOk)
      deflateEnd(&FZ);
  }
  DeflateStream(const DeflateStream &) = delete;
  DeflateStream &operator=(const DeflateStream &) = delete;

  bool Feed(const uint8_t *data, size_t size, bool last) {
    if (!FOk)
      return false;
    FZ.next_in = const_cast<Bytef *>(data);
    FZ.avail_in = uInt(size);
    const int flush = last ? Z_FINISH : Z_NO_FLUSH;
    for (;;) {
      uint8_t buffer[16384];
      FZ.next_out = buffer;
      FZ.avail_out = sizeof(buffer);
      const int status = deflate(&FZ, flush);
      if (status == Z_STREAM_ERROR)
        return FOk = false;
      FOut.append(reinterpret_cast<const char *>(buffer), sizeof(buffer) - FZ.avail_out);
      if (FOut.size() > kMaxChunkLength)
        return FOk = false;
      if (last ? status == Z_STREAM_END : (FZ.avail_in == 0 && FZ.avail_out != 0))
        return true;
    }
  }

private:
  std::string &FOut;
  z_stream FZ{};
  bool FOk = false;
};

} // namespace

size_t PackedRowSize(int32_t width, int bitDepth) {
  return bitDepth == 4 ? (size_t(width) + 1) / 2 : size_t(width);
}

std::string WritePalettePng(int32_t width, int32_t height, int bitDepth, const NVPalette &palette,
                            const NVRowSource &rows) {
  std::string out(kSignature, sizeof(kSignature));

  size_t chunk = BeginChunk(out, "IHDR");
  PutU32(out, uint32_t(width));
  PutU32(out, uint32_t(height));
  out += char(bitDepth);
  out += char(3); // colour type: palette
  out += char(0); // compression: deflate
  out += char(0); // filter method 0
  out += char(0); // no interlace
  EndChunk(out, chunk);

  chunk = BeginChunk(out, "PLTE");
  out += palette.Bytes();
  EndChunk(out, chunk);

  chunk = BeginChunk(out, "IDAT");
  out += char(0x78); // deflate, 32 KB window
  out += char(0x01); // no dictionary; check bits
  const size_t rowSize = PackedRowSize(width, bitDepth) + 1;
  const size_t rowsPerBatch = rowSize >= kBatchBytes ? 1 : kBatchBytes / rowSize;
  std::vector<uint8_t> batch(rowSize * rowsPerBatch);
  uint32_t adler = kNVAdler32Start;
  {
    DeflateStream deflater(out);
    for (int32_t y = 0; y < height;) {
      size_t filled = 0;
      for (; filled < rowsPerBatch && y < height; ++filled, ++y) {
        uint8_t *row = batch.data() + filled * rowSize;
        row[0] = 0; // filter: None
        rows(y, row + 1);
      }
      const size_t bytes = filled * rowSize;
      adler = Adler32(batch.data(), bytes, adler);
      if (!deflater.Feed(batch.data(), bytes, y == height))
        return {};
    }
  }
  PutU32(out, adler);
  if (!EndChunk(out, chunk))
    return {};

  chunk = BeginChunk(out, "IEND");
  EndChunk(out, chunk);
  return out;
}

} // namespace kx
