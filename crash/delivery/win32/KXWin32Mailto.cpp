#include "crash/delivery/win32/KXWin32Mailto.h"

#include <vector>

namespace kx {

std::optional<std::string> ReadMailtoCommand(HKEY classesRoot) {
  HKEY key;
  if (RegOpenKeyExA(classesRoot, kMailtoCommandKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return std::nullopt;
  // Usually below 260 bytes; a longer command is read whole rather than cut.
  std::vector<char> value(261, '\0');
  DWORD type = 0, size = DWORD(value.size() - 1);
  LONG result = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(value.data()), &size);
  if (result == ERROR_MORE_DATA && size < (1u << 16)) {
    value.assign(size + 1, '\0');
    result = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(value.data()), &size);
  }
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size >= value.size())
    return std::nullopt;
  value[size] = '\0';
  std::string command = value.data();
  if (command.empty())
    return std::nullopt;

  DWORD needed = ExpandEnvironmentStringsA(command.c_str(), nullptr, 0);
  if (needed == 0)
    return command;
  std::vector<char> expanded(needed + 1, '\0');
  DWORD written = ExpandEnvironmentStringsA(command.c_str(), expanded.data(), DWORD(expanded.size()));
  if (written == 0 || written > expanded.size())
    return command;
  std::string expandedCommand(expanded.data());
  if (expandedCommand.empty())
    return std::nullopt;
  return expandedCommand;
}

bool StartCommandLine(const std::string &commandLine) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

bool IsNtFamilySystem() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  return !GetVersionExA(&version) || version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

} // namespace kx
