#include "crash/analysis/stacktrace/ExportTable.h"

#include <algorithm>

#include "crash/analysis/disasm/ModuleImage.h"
#include "crash/base/pe/PeImage.h"

namespace tidewell::stacktrace {

std::vector<ExportEntry> ReadExports(const disasm::MemoryReader &memory, uint32_t handle,
                                     uint32_t dirRva, uint32_t dirSize) {
  std::vector<ExportEntry> exports;
  if (dirRva == 0 || dirSize == 0)
    return exports;
  for (debuginfo::PeExport &e : debuginfo::ReadExports(disasm::ModuleImage(memory, handle), dirRva, dirSize))
    exports.push_back({uint32_t(uint64_t(handle) + e.Rva), std::move(e.Name)});
  std::stable_sort(exports.begin(), exports.end(),
                   [](const ExportEntry &a, const ExportEntry &b) { return a.address < b.address; });
  return exports;
}

} // namespace tidewell::stacktrace
