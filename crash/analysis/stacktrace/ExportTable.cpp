#include "crash/analysis/stacktrace/ExportTable.h"

#include <algorithm>

#include "crash/analysis/disasm/ModuleImage.h"
#include "crash/base/pe/PeImage.h"

namespace tidewell::stacktrace {

std::vector<ExportEntry> ReadExports(const disasm::MemoryReader &memory, uint64_t handle,
                                     uint32_t dirRva, uint32_t dirSize) {
  std::vector<ExportEntry> exports;
  if (dirRva == 0 || dirSize == 0)
    return exports;
  // An export past the end of the address space (of a 32-bit module, past 4 GiB) cannot be code.
  const uint64_t top = handle <= UINT32_MAX ? UINT32_MAX : UINT64_MAX;
  for (debuginfo::PeExport &e : debuginfo::ReadExports(disasm::ModuleImage(memory, handle), dirRva, dirSize))
    if (e.Rva <= top - handle)
      exports.push_back({handle + e.Rva, std::move(e.Name)});
  std::stable_sort(exports.begin(), exports.end(),
                   [](const ExportEntry &a, const ExportEntry &b) { return a.address < b.address; });
  return exports;
}

} // namespace tidewell::stacktrace
