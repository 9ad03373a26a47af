#pragma once
// The modules of this process: its address space through VirtualQuery, module file names through
// GetModuleFileNameW and the files' version resources.
#include <windows.h>

#include "crash/report/inventory/ModuleList.h"

namespace kx {

class KXLiveModuleSource final : public IKXModuleSource {
public:
  bool QueryRegion(uint64_t address, KXMemoryRegion &region) override;
  std::u16string ModuleFileName(uint64_t base) override;
  std::optional<KXFileVersion> FileVersion(const std::u16string &fullName) override;
};

// The "modules" section of this process.
std::u16string LoadedModulesText();

} // namespace kx
