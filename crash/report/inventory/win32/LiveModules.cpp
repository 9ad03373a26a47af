#include "crash/report/inventory/win32/LiveModules.h"

#include "crash/base/settings/win32/KXWin32Platform.h"

namespace kx {

bool KXLiveModuleSource::QueryRegion(uint64_t address, KXMemoryRegion &region) {
  if (address > UINTPTR_MAX)
    return false;
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<const void *>(uintptr_t(address)), &info, sizeof info) != sizeof info)
    return false;
  region.base = reinterpret_cast<uintptr_t>(info.BaseAddress);
  region.allocationBase = reinterpret_cast<uintptr_t>(info.AllocationBase);
  region.size = info.RegionSize;
  region.committed = info.State == MEM_COMMIT;
  return true;
}

std::u16string KXLiveModuleSource::ModuleFileName(uint64_t base) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(uintptr_t(base)), name.data(), DWORD(name.size()));
    if (length == 0)
      return {};
    if (length < name.size())
      return std::u16string(name.begin(), name.begin() + length);
    if (name.size() >= 32768)
      return {};
    name.resize(name.size() * 2);
  }
}

std::optional<KXFileVersion> KXLiveModuleSource::FileVersion(const std::u16string &fullName) {
  return FileVersionOfFile(std::wstring(fullName.begin(), fullName.end()));
}

std::u16string LoadedModulesText() {
  KXLiveModuleSource source;
  return ModuleListText(CollectModules(source));
}

} // namespace kx
