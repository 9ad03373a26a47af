#include "crash/base/settings/win32/KXWin32Platform.h"

#include <windows.h>
#include <shlobj.h>


namespace kx {

namespace {

std::mutex gResourceModulesLock;
std::map<KXModule, KXModule> gResourceModules;

HMODULE AsHandle(KXModule module) { return reinterpret_cast<HMODULE>(module); }

std::wstring Wide(const std::string &text) {
  std::u16string w = WidenAnsi(text);
  return std::wstring(w.begin(), w.end());
}

std::string Narrow(const wchar_t *text, size_t length) {
  return NarrowAnsi(std::u16string_view(reinterpret_cast<const char16_t *>(text), length));
}

// The TKESTRELIX resource of exactly this module, or null.
HRSRC FindSettingsResource(KXModule module) {
  if (!IsResourceModuleHandle(module))
    return nullptr;
  return FindResourceA(AsHandle(module), kSettingsResourceName, MAKEINTRESOURCEA(10)); // RT_RCDATA
}

// The module that holds the module's settings resource: its language resource module first.
KXModule SettingsResourceHolder(KXModule module) {
  KXModule language = LanguageResourceModule(module);
  if (language && FindSettingsResource(language))
    return language;
  if (FindSettingsResource(module))
    return module;
  return 0;
}

std::string KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
    return std::string();
  return Narrow(path, wcslen(path));
}

} // namespace

void SetLanguageResourceModule(KXModule module, KXModule resourceModule) {
  std::lock_guard g(gResourceModulesLock);
  if (resourceModule)
    gResourceModules[module] = resourceModule;
  else
    gResourceModules.erase(module);
}

KXModule LanguageResourceModule(KXModule module) {
  std::lock_guard g(gResourceModulesLock);
  auto it = gResourceModules.find(module);
  return it == gResourceModules.end() ? 0 : it->second;
}

bool IsResourceModuleHandle(KXModule module) {
  if (module == 0)
    return false;
  // LoadLibraryEx marks data-file handles in the two low bits; the loader checks those itself.
  if (module & 3)
    return true;
  MEMORY_BASIC_INFORMATION mbi{};
  if (!VirtualQuery(reinterpret_cast<const void *>(module), &mbi, sizeof mbi))
    return false;
  return mbi.State == MEM_COMMIT && mbi.Type == MEM_IMAGE && KXModule(mbi.AllocationBase) == module;
}

KXModule ModuleOfAddress(std::uintptr_t address) {
  MEMORY_BASIC_INFORMATION mbi{};
  if (!VirtualQuery(reinterpret_cast<const void *>(address), &mbi, sizeof mbi))
    return 0;
  if (mbi.State != MEM_COMMIT || mbi.Type != MEM_IMAGE)
    return 0;
  return KXModule(mbi.AllocationBase);
}

std::string NarrowAnsi(std::u16string_view text) {
  if (text.empty())
    return std::string();
  auto wide = reinterpret_cast<const wchar_t *>(text.data());
  int length = int(text.size());
  int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0)
    return std::string(text.size(), '?');
  std::string out(size_t(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, out.data(), size, nullptr, nullptr);
  return out;
}

std::u16string WidenAnsi(std::string_view text) {
  if (text.empty())
    return std::u16string();
  int length = int(text.size());
  int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (size <= 0)
    return std::u16string(text.size(), u'?');
  std::u16string out(size_t(size), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<wchar_t *>(out.data()), size);
  return out;
}

std::optional<std::vector<uint8_t>> KXWin32Platform::SettingsStream(KXModule module) {
  KXModule holder = SettingsResourceHolder(module);
  if (!holder)
    return std::nullopt;
  HRSRC info = FindSettingsResource(holder);
  HGLOBAL handle = info ? LoadResource(AsHandle(holder), info) : nullptr;
  const void *data = handle ? LockResource(handle) : nullptr;
  if (!data)
    return std::nullopt;
  auto bytes = static_cast<const uint8_t *>(data);
  return std::vector<uint8_t>(bytes, bytes + SizeofResource(AsHandle(holder), info));
}

bool KXWin32Platform::HasSettingsResource(KXModule module) { return SettingsResourceHolder(module) != 0; }

namespace {
// True when the page holding the address is committed and readable.
bool IsReadablePage(std::uintptr_t address) {
  MEMORY_BASIC_INFORMATION mbi{};
  if (!VirtualQuery(reinterpret_cast<const void *>(address), &mbi, sizeof mbi) || mbi.State != MEM_COMMIT)
    return false;
  if (mbi.Protect & (PAGE_GUARD | PAGE_NOACCESS))
    return false;
  return (mbi.Protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                         PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}
} // namespace

std::optional<std::string> KXWin32Platform::ReadModuleText(KXModule module, uint32_t offset) {
  std::uintptr_t address = module + offset;
  if (address < module) // wraps around the address space
    return std::nullopt;
  std::string text;
  while (text.size() < kMaxModuleText) {
    // Page by page: each page is checked before it is read, and ReadProcessMemory still fails
    // instead of faulting should the page go away in between.
    if (!IsReadablePage(address))
      return std::nullopt;
    char chunk[256];
    size_t toPageEnd = 4096 - (address & 4095);
    size_t want = toPageEnd < sizeof chunk ? toPageEnd : sizeof chunk;
    SIZE_T got = 0;
    if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void *>(address), chunk, want, &got) ||
        got != want)
      return std::nullopt;
    for (size_t i = 0; i < want; ++i) {
      if (chunk[i] == '\0')
        return text;
      text += chunk[i];
    }
    address += want;
    if (address == 0)
      return std::nullopt;
  }
  return std::nullopt;
}

void KXWin32Platform::ShowMessage(const std::string &caption, const std::string &text) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

KXModule KXWin32Platform::ExeModule() { return KXModule(GetModuleHandleW(nullptr)); }

std::string KXWin32Platform::ModuleFileName(KXModule module) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(AsHandle(module), buffer.data(), DWORD(buffer.size()));
    if (length == 0)
      return std::string();
    if (length < buffer.size())
      return Narrow(buffer.data(), length);
    if (buffer.size() >= 32768)
      return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<KXFileVersion> KXWin32Platform::FileVersion(const std::string &path) {
  return FileVersionOfFile(Wide(path));
}

std::optional<KXFileVersion> FileVersionOfFile(const std::wstring &file) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0)
    return std::nullopt;
  std::vector<uint8_t> info(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, info.data()))
    return std::nullopt;
  KXFileVersion version;
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT fixedSize = 0;
  if (VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &fixedSize) && fixed &&
      fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
    version.parts[0] = HIWORD(fixed->dwFileVersionMS);
    version.parts[1] = LOWORD(fixed->dwFileVersionMS);
    version.parts[2] = HIWORD(fixed->dwFileVersionLS);
    version.parts[3] = LOWORD(fixed->dwFileVersionLS);
  }
  struct Translation {
    WORD language, codePage;
  } *translations = nullptr;
  UINT translationsSize = 0;
  if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translations),
                     &translationsSize) &&
      translations && translationsSize >= sizeof(Translation)) {
    wchar_t key[64];
    swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", translations[0].language,
             translations[0].codePage);
    wchar_t *text = nullptr;
    UINT textLength = 0;
    if (VerQueryValueW(info.data(), key, reinterpret_cast<void **>(&text), &textLength) && text && textLength)
      version.fileVersionText = Narrow(text, wcsnlen(text, textLength));
  }
  return version;
}

std::string KXWin32Platform::ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &length))
    return std::string();
  return Narrow(name, length);
}

std::string KXWin32Platform::UserAppDataFolder() { return KnownFolder(CSIDL_APPDATA); }

std::string KXWin32Platform::CommonAppDataFolder() { return KnownFolder(CSIDL_COMMON_APPDATA); }

KXLocalTime KXWin32Platform::LocalTime() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return KXLocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

} // namespace kx
