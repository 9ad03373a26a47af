#include "Win32Modules.h"

#include <windows.h>

std::optional<std::vector<uint8_t>> Win32ModuleFiles::OwnResource(const std::string &moduleFileName) {
  HMODULE module = GetModuleHandleA(moduleFileName.c_str());
  if (!module)
    return FileModuleFiles::OwnResource(moduleFileName);
  HRSRC info = FindResourceA(module, kDebugInfoResourceName, MAKEINTRESOURCEA(10)); // RT_RCDATA
  if (!info)
    return std::nullopt;
  HGLOBAL handle = LoadResource(module, info);
  DWORD size = SizeofResource(module, info);
  const void *data = handle ? LockResource(handle) : nullptr;
  if (!data)
    return std::nullopt;
  auto bytes = static_cast<const uint8_t *>(data);
  return std::vector<uint8_t>(bytes, bytes + size);
}

Win32ModuleFiles &Win32ModuleFiles::Instance() {
  static Win32ModuleFiles files;
  return files;
}

std::optional<IModuleLocator::Module> Win32ModuleLocator::ModuleOfAddress(uint32_t address) {
  MEMORY_BASIC_INFORMATION mbi{};
  if (!VirtualQuery(reinterpret_cast<const void *>(uintptr_t(address)), &mbi, sizeof mbi) ||
      mbi.State != MEM_COMMIT || mbi.Type != MEM_IMAGE || !mbi.AllocationBase)
    return std::nullopt;
  char name[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(static_cast<HMODULE>(mbi.AllocationBase), name, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return std::nullopt;
  return Module{std::string(name, length), uint32_t(uintptr_t(mbi.AllocationBase))};
}

uint32_t Win32ModuleLocator::FileDosDateTime(const std::string &fileName) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  FILETIME local{};
  WORD date = 0, time = 0;
  if (!GetFileAttributesExA(fileName.c_str(), GetFileExInfoStandard, &data) ||
      !FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time))
    return 0;
  return uint32_t(date) << 16 | time;
}

Win32ModuleLocator &Win32ModuleLocator::Instance() {
  static Win32ModuleLocator locator;
  return locator;
}

__attribute__((noinline)) TAddressDescription DescribeCodeAddress(uint32_t address) {
  if (address == 0)
    address = uint32_t(uintptr_t(__builtin_return_address(0))) - 1;
  return DescribeAddress(TModelCache::Process(), Win32ModuleLocator::Instance(), address);
}
