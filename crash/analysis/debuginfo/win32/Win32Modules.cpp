#include "crash/analysis/debuginfo/win32/Win32Modules.h"

#include "crash/base/settings/KXSettingsStream.h"

#include <windows.h>

namespace {

// An RCDATA resource of a module loaded in this process, else of its file.
std::optional<std::vector<uint8_t>> ModuleResource(const std::string &moduleFileName, const char *name) {
  HMODULE module = GetModuleHandleA(moduleFileName.c_str());
  if (!module) {
    auto file = FileModuleFiles::Instance().ReadFile(moduleFileName);
    auto pe = file ? debuginfo::PeImage::Parse(file->data(), file->size()) : std::nullopt;
    auto where = pe ? pe->FindResourceData(file->data(), file->size(), debuginfo::kResourceTypeRcData, name)
                    : std::nullopt;
    if (!where)
      return std::nullopt;
    return std::vector<uint8_t>(file->begin() + where->first, file->begin() + where->first + where->second);
  }
  HRSRC info = FindResourceA(module, name, MAKEINTRESOURCEA(10)); // RT_RCDATA
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

} // namespace

std::optional<std::vector<uint8_t>> Win32ModuleFiles::OwnResource(const std::string &moduleFileName) {
  return ModuleResource(moduleFileName, kDebugInfoResourceName);
}

std::string Win32ModuleFiles::SettingsProperty(const std::string &moduleFileName, const std::string &name) {
  auto stream = ModuleResource(moduleFileName, "TKESTRELIX");
  if (!stream)
    return {};
  kx::TKXPropertyList list;
  kx::ReadSettingsStream(*stream, list);
  const kx::TKXProperty *property = list.Find(name);
  return property ? property->Text() : std::string();
}

Win32ModuleFiles &Win32ModuleFiles::Instance() {
  static Win32ModuleFiles files;
  return files;
}

std::optional<IModuleLocator::Module> Win32ModuleLocator::ModuleOfAddress(uint64_t address) {
  MEMORY_BASIC_INFORMATION mbi{};
  if (!VirtualQuery(reinterpret_cast<const void *>(uintptr_t(address)), &mbi, sizeof mbi) ||
      mbi.State != MEM_COMMIT || mbi.Type != MEM_IMAGE || !mbi.AllocationBase)
    return std::nullopt;
  char name[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(static_cast<HMODULE>(mbi.AllocationBase), name, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return std::nullopt;
  return Module{std::string(name, length), uint64_t(uintptr_t(mbi.AllocationBase))};
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

__attribute__((noinline)) TAddressDescription DescribeCodeAddress(uint64_t address) {
  if (address == 0)
    address = uint64_t(uintptr_t(__builtin_return_address(0))) - 1;
  return DescribeAddress(TModelCache::Process(), Win32ModuleLocator::Instance(), address);
}
