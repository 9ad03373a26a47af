#include "crash/analysis/stacktrace/ExportTable.h"

#include <algorithm>

namespace tidewell::stacktrace {

namespace {
bool Read32(const disasm::MemoryReader &m, uint64_t address, uint32_t &value) {
  return address + 4 <= 0x100000000ull && m.Read(uint32_t(address), &value, 4);
}
bool Read16(const disasm::MemoryReader &m, uint64_t address, uint16_t &value) {
  return address + 2 <= 0x100000000ull && m.Read(uint32_t(address), &value, 2);
}
std::string ReadName(const disasm::MemoryReader &m, uint64_t address) {
  std::string name;
  for (uint64_t a = address; name.size() < 255 && a < 0x100000000ull; ++a) {
    char c = 0;
    if (!m.Read(uint32_t(a), &c, 1) || c == 0)
      break;
    name += c;
  }
  return name;
}
} // namespace

std::vector<ExportEntry> ReadExports(const disasm::MemoryReader &memory, uint32_t handle,
                                     uint32_t dirRva, uint32_t dirSize) {
  std::vector<ExportEntry> exports;
  if (dirRva == 0 || dirSize == 0)
    return exports;
  const uint64_t dir = uint64_t(handle) + dirRva;
  uint32_t functionCount = 0, nameCount = 0, functionsRva = 0, namesRva = 0, ordinalsRva = 0;
  if (!Read32(memory, dir + 0x14, functionCount) || !Read32(memory, dir + 0x18, nameCount) ||
      !Read32(memory, dir + 0x1C, functionsRva) || !Read32(memory, dir + 0x20, namesRva) ||
      !Read32(memory, dir + 0x24, ordinalsRva))
    return exports;
  nameCount = std::min<uint32_t>(nameCount, 65536);
  for (uint32_t i = 0; i < nameCount; ++i) {
    uint32_t nameRva = 0, functionRva = 0;
    uint16_t ordinal = 0;
    if (!Read32(memory, uint64_t(handle) + namesRva + 4ull * i, nameRva) ||
        !Read16(memory, uint64_t(handle) + ordinalsRva + 2ull * i, ordinal))
      break;
    if (ordinal >= functionCount ||
        !Read32(memory, uint64_t(handle) + functionsRva + 4ull * ordinal, functionRva))
      continue;
    if (functionRva == 0 || (functionRva >= dirRva && functionRva < uint64_t(dirRva) + dirSize))
      continue; // empty slot or forwarder ("OTHERDLL.Name")
    std::string name = ReadName(memory, uint64_t(handle) + nameRva);
    if (name.empty())
      continue;
    exports.push_back({uint32_t(uint64_t(handle) + functionRva), std::move(name)});
  }
  std::stable_sort(exports.begin(), exports.end(),
                   [](const ExportEntry &a, const ExportEntry &b) { return a.address < b.address; });
  return exports;
}

} // namespace tidewell::stacktrace
