// Fuzz target: the per-exe debug-information container, loaded as the report loads it: a module
// whose exe carries the container as its TIDEWELLDEBUG resource (PE headers, the resource
// directory, the container header, the scrambler, the compressed block and the debug stream),
// with the same bytes as the companion ".kes" file for a minimal container.
//
// An input that begins with the container's marker is the container itself. Any other input is
// wrapped by the writer's steps, so that the fuzzer reaches the readers behind the scrambler and
// the block's checksum: first byte 0 or 1, the rest is a debug stream (full or minimal
// information) that is compressed and scrambled; first byte 2, the rest is the compressed block,
// only scrambled.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crash/analysis/debuginfo/Deflate.h"
#include "crash/analysis/debuginfo/Scrambler.h"
#include "crash/base/bytes/ByteStream.h"
#include "tests/crash/analysis/debuginfo/TestImage.h"
#include "tests/fuzz/DebugInfoFuzzing.h"

namespace {

constexpr char kMarker[] = "Tidewell debug";
constexpr size_t kMarkerSize = sizeof kMarker - 1;

std::vector<uint8_t> Wrap(uint8_t mode, const uint8_t *data, size_t size) {
  std::vector<uint8_t> payload =
      mode == 2 ? std::vector<uint8_t>(data, data + size) : debuginfo::CompressBlock(data, size);
  debuginfo::ScramblePayload(payload.data(), payload.size());
  debuginfo::ByteWriter w;
  w.Raw(kMarker, kMarkerSize);
  w.U32(uint32_t(payload.size()));
  w.U32(3);
  w.U32(0x12345678);
  w.U32(0x9ABCDEF0);
  w.U32(mode == 1 ? 1 : 0);
  w.Raw(payload.data(), payload.size());
  return std::move(w.Bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> container;
  if (size >= kMarkerSize && std::memcmp(data, kMarker, kMarkerSize) == 0)
    container.assign(data, data + size);
  else if (size >= 1)
    container = Wrap(data[0] % 3, data + 1, size - 1);
  else
    return 0;

  kx::fuzz::MemoryModuleFiles files;
  files.exe = BuildTestImage({{".text", 0x1000, 0x8000, 0x60000020}, {".data", 0x9000, 0x1000, 0xC0000040}},
                             0x400000, kDebugInfoResourceName, container);
  files.kes = container;
  // The setting that names the companion: the signature of this very container, so that a
  // minimal container goes on to its companion.
  if (container.size() >= kMarkerSize + 20) {
    kx::ByteReader header(container.data() + kMarkerSize + 8, 8);
    const uint32_t a = header.U32(), b = header.U32();
    files.minDebugInfo = TMapFile::ContainerSignature(uint32_t(container.size()), a, b);
  }
  TMapFile model(true, kx::fuzz::kFuzzModuleName, 0x400000, false, true, &files);
  kx::fuzz::ProbeModel(model, data, size);
  return 0;
}
