// Writes the inputs of the debug_container fuzz target that reach behind the scrambler: from a
// container file, "<out>.stream" (flag byte 0 or 1, then the debug stream) and "<out>.block"
// (byte 2, then the compressed block). Usage: ExtractDebugStream CONTAINER OUT
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "crash/analysis/debuginfo/Deflate.h"
#include "crash/analysis/debuginfo/Scrambler.h"

namespace {

bool Write(const std::string &path, uint8_t first, const std::vector<uint8_t> &body) {
  std::ofstream out(path, std::ios::binary);
  out.put(char(first));
  out.write(reinterpret_cast<const char *>(body.data()), std::streamsize(body.size()));
  return bool(out);
}

uint32_t U32(const std::vector<uint8_t> &b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ExtractDebugStream CONTAINER OUT\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<uint8_t> c((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Marker (14 bytes), payload length, version 3, checksums A and B, flags, payload.
  if (c.size() < 34 || std::memcmp(c.data(), "Tidewell debug", 14) != 0 || U32(c, 18) != 3 ||
      U32(c, 14) > c.size() - 34) {
    std::fprintf(stderr, "%s: not a version-3 container\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> block(c.begin() + 34, c.begin() + 34 + U32(c, 14));
  debuginfo::ScramblePayload(block.data(), block.size());
  auto stream = debuginfo::DecompressBlock(block.data(), block.size());
  if (!stream) {
    std::fprintf(stderr, "%s: the block does not inflate\n", argv[1]);
    return 1;
  }
  const std::string out = argv[2];
  return Write(out + ".stream", uint8_t(U32(c, 30) & 1), *stream) && Write(out + ".block", 2, block) ? 0 : 1;
}
