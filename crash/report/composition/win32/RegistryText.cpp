#include "crash/report/composition/win32/RegistryText.h"

namespace kx {

std::string RegistryText(HKEY root, const std::string &key, const char *value) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
    return {};
  std::string text;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(handle, value, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0 && size < 65536) {
    std::string buffer(size, '\0');
    if (RegQueryValueExA(handle, value, nullptr, &type, reinterpret_cast<BYTE *>(buffer.data()), &size) ==
        ERROR_SUCCESS)
      text.assign(buffer.c_str()); // up to the terminating zero, which may be missing
  }
  RegCloseKey(handle);
  return text;
}

} // namespace kx
