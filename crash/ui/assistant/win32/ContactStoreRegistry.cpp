#include "crash/ui/assistant/win32/ContactStoreRegistry.h"

#include <windows.h>

#include "runtime/win32/WideText.h"

namespace kx {

namespace {

std::string ReadValue(HKEY key, const wchar_t *name) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ || size == 0 ||
      size > 64 * 1024)
    return std::string();
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD read = DWORD(text.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(text.data()), &read) != ERROR_SUCCESS)
    return std::string();
  text.resize(read / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0')
    text.pop_back(); // stored with or without its terminating zero
  return Narrow(text);
}

void WriteValue(HKEY key, const wchar_t *name, const std::string &value) {
  const std::wstring text = Widen(value);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                 DWORD((text.size() + 1) * sizeof(wchar_t)));
}

} // namespace

void TKXRegistryContactStore::Read(std::string &name, std::string &email) {
  name.clear();
  email.clear();
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kContactFormKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return;
  name = ReadValue(key, L"RememberName");
  email = ReadValue(key, L"RememberEmail");
  RegCloseKey(key);
}

void TKXRegistryContactStore::Write(const std::string &name, const std::string &email) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kContactFormKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  WriteValue(key, L"RememberName", name);
  WriteValue(key, L"RememberEmail", email);
  RegCloseKey(key);
}

void TKXRegistryContactStore::Forget() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kContactFormKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueW(key, L"RememberName");
  RegDeleteValueW(key, L"RememberEmail");
  RegCloseKey(key);
}

} // namespace kx
