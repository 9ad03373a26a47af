// Fuzz target: the PE reader, over a module file as the report and the stack trace read it: the
// model of a module (headers, bounds, the TIDEWELLDEBUG resource and what it holds), the first
// 4 KiB as the stack trace reads a loaded module's headers, the lookups the tools make, and the
// export, import and exception directories read from the file and from the mapped image, also
// through the guarded read as the stack trace and the function analysis read a loaded module.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crash/analysis/disasm/FunctionAnalysis.h"
#include "crash/analysis/disasm/ModuleImage.h"
#include "crash/base/pe/PeImage.h"
#include "tests/fuzz/DebugInfoFuzzing.h"

namespace {

// Every directory the PE reader knows, through one source; what it gives stays inside its limits.
void ReadDirectories(const debuginfo::PeSource &source, const debuginfo::PeImage &pe, bool headersFromSource) {
  const auto [exportRva, exportSize] = pe.Directory(debuginfo::kDirectoryExport);
  const std::vector<debuginfo::PeExport> exports = debuginfo::ReadExports(source, exportRva, exportSize);
  if (exports.size() > 65536)
    __builtin_trap();
  for (const debuginfo::PeExport &e : exports)
    if (e.Name.empty() || e.Name.size() > 255 || e.Rva == 0)
      __builtin_trap();
  // The lookup reads the headers itself; where they are the ones pe was parsed from, it finds
  // the first export by its name.
  if (headersFromSource && !exports.empty() && !pe.DataDirectories.empty() &&
      debuginfo::FindExport(source, exports.front().Name) != exports.front().Rva)
    __builtin_trap();
  (void)debuginfo::FindExport(source, "kesTraceProcess");
  const auto [importRva, importSize] = pe.Directory(debuginfo::kDirectoryImport);
  if (auto imports = debuginfo::ReadImports(source, importRva, importSize)) {
    if (imports->size() > importSize / 20)
      __builtin_trap();
    for (const debuginfo::PeImport &i : *imports)
      if (i.Module.size() > 255)
        __builtin_trap();
  }
  const auto [exceptionRva, exceptionSize] = pe.Directory(debuginfo::kDirectoryException);
  if (debuginfo::ReadRuntimeFunctions(source, exceptionRva, exceptionSize).size() > exceptionSize / 12)
    __builtin_trap();
}

} // namespace

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
    ReadDirectories(debuginfo::PeFileRvas(*pe, {data, size}), *pe, false);
    // kxdisasm maps the image; the mapped size is what the headers claim (at most 256 MiB), so
    // only images of a believable size are mapped here to keep the runs fast.
    if (pe->SizeOfImage <= (16u << 20)) {
      const std::vector<uint8_t> image = pe->MapImage(data, size);
      if (image.size() > (256u << 20))
        __builtin_trap();
      // The loaded module as the live process hands it over: a span bounded by SizeOfImage.
      const debuginfo::PeSpan mapped(image);
      if (std::optional<debuginfo::PeImage> loaded = debuginfo::PeImage::Parse(mapped))
        ReadDirectories(mapped, *loaded, true);
      // And through the guarded read, at the image's base.
      const tidewell::disasm::BufferMemory memory(pe->ImageBase, image);
      const tidewell::disasm::ModuleImage module(memory, pe->ImageBase);
      if (std::optional<debuginfo::PeImage> loaded = debuginfo::PeImage::Parse(module))
        ReadDirectories(module, *loaded, true);
      const auto range = tidewell::disasm::ModuleCodeRange(memory, pe->ImageBase);
      if (range.first > range.second)
        __builtin_trap();
    }
  }
  return 0;
}
