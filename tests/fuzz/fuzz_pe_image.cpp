// Fuzz target: the PE reader, over a module file as the report and the stack trace read it: the
// model of a module (headers, bounds, the TIDEWELLDEBUG resource and what it holds), the first
// 4 KiB as the stack trace reads a loaded module's headers, and the lookups the tools make.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/fuzz/DebugInfoFuzzing.h"
#include "crash/base/pe/PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kx::fuzz::MemoryModuleFiles files;
  files.exe.emplace(data, data + size);
  TMapFile model(true, kx::fuzz::kFuzzModuleName, 0x400000, false, true, &files);
  kx::fuzz::ProbeModel(model, data, size);

  (void)debuginfo::PeImage::Parse(data, std::min<size_t>(size, 4096));
  if (auto pe = debuginfo::PeImage::Parse(data, size)) {
    for (const debuginfo::PeSection &s : pe->Sections) {
      if (pe->FindSection(s.Name) == nullptr)
        __builtin_trap(); // every section is found by its name
      (void)pe->FileOffsetOfRva(s.VirtualAddress);
    }
    for (uint32_t rva : {0u, 0x1000u, pe->AddressOfEntryPoint, pe->BaseOfCode, pe->SizeOfImage - 1})
      (void)pe->FileOffsetOfRva(rva);
    for (const auto &[rva, length] : pe->DataDirectories)
      (void)pe->FileOffsetOfRva(rva + length);
    // kxdisasm maps the image; the mapped size is what the headers claim (at most 256 MiB), so
    // only images of a believable size are mapped here to keep the runs fast.
    if (pe->SizeOfImage <= (16u << 20)) {
      const std::vector<uint8_t> image = pe->MapImage(data, size);
      if (image.size() > (256u << 20))
        __builtin_trap();
    }
  }
  return 0;
}
