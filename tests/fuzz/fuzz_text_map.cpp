// Fuzz target: the linker's text map (Module.map beside the exe), read as the report reads it
// when the exe carries no debug container: the model of the module is built from its file names,
// the exe's headers give the bounds and the map file the segments, publics and lines.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/crash/analysis/debuginfo/TestImage.h"
#include "tests/fuzz/DebugInfoFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kx::fuzz::MemoryModuleFiles files;
  files.exe = BuildTestImage({{".text", 0x1000, 0x8000, 0x60000020}, {".data", 0x9000, 0x1000, 0xC0000040}},
                             0x400000);
  files.map.emplace(data, data + size);
  TMapFile model(true, kx::fuzz::kFuzzModuleName, 0x400000, false, false, &files);
  kx::fuzz::ProbeModel(model, data, size);
  return 0;
}
