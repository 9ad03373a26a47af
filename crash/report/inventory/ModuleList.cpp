#include "crash/report/inventory/ModuleList.h"

#include <algorithm>

#include "crash/base/settings/KXText.h"
#include "crash/report/composition/ReportText.h"
#include "crash/report/composition/SystemTexts.h"
#include "crash/report/inventory/InventoryText.h"

namespace kx {

std::vector<KXModuleEntry> CollectModules(IKXModuleSource &source) {
  std::vector<KXModuleEntry> modules;
  modules.reserve(32);
  uint64_t address = 0;
  uint64_t previousAllocation = 0;
  bool first = true;
  KXMemoryRegion region;
  while (source.QueryRegion(address, region)) {
    const bool newAllocation = first || region.allocationBase != previousAllocation;
    if (region.committed && region.allocationBase == region.base && newAllocation) {
      std::u16string fullName = source.ModuleFileName(region.base);
      if (!fullName.empty()) {
        KXModuleEntry entry;
        entry.address = region.base;
        SplitFileName(fullName, entry.path, entry.fileName);
        entry.version = ModuleVersionText(source.FileVersion(fullName));
        modules.push_back(std::move(entry));
      }
    }
    first = false;
    previousAllocation = region.allocationBase;
    // The next region starts where this one ends; a region that ends nowhere further ends the walk.
    const uint64_t next = region.base + region.size;
    if (region.size == 0 || next <= address)
      break;
    address = next;
  }
  return modules;
}

std::u16string ModuleVersionText(const std::optional<KXFileVersion> &version) {
  if (!version)
    return {};
  return WidenToUtf16(FileVersionText(*version));
}

std::u16string ModuleListText(const std::vector<KXModuleEntry> &modules) {
  size_t nameWidth = 0, versionWidth = 0;
  bool wide = false; // a 64-bit process: every address gets 16 digits, so the columns line up
  for (const KXModuleEntry &m : modules) {
    nameWidth = std::max(nameWidth, m.fileName.size());
    versionWidth = std::max(versionWidth, m.version.size());
    wide = wide || m.address > UINT32_MAX;
  }
  ++nameWidth;
  ++versionWidth;
  std::u16string text;
  for (const KXModuleEntry &m : modules) {
    if (!text.empty())
      text += u"\r\n";
    std::string address = Hex8(m.address);
    if (wide)
      address.insert(0, 16 - address.size(), '0');
    text += AsciiToUtf16(address) + u' ' + PadRight(m.fileName, nameWidth) + PadRight(m.version, versionWidth) +
            m.path;
  }
  return text;
}

} // namespace kx
