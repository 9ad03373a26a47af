#include "crash/capture/exception/win32/KXTempDirectory.h"

#include <windows.h>

namespace kx {

std::wstring KXTempDirectory(bool create) {
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH)
    return {};
  std::wstring dir(temp, n);
  if (dir.back() != L'\\')
    dir += L'\\';
  wchar_t exe[MAX_PATH];
  DWORD len = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring name(exe, len);
  size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos)
    name.erase(0, slash + 1);
  size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos)
    name.erase(dot);
  if (create)
    CreateDirectoryW(dir.c_str(), nullptr);
  dir += name + L".Kestrelix\\";
  if (create)
    CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

void EmptyKXTempDirectory() {
  std::wstring dir = KXTempDirectory(false);
  if (dir.empty())
    return;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((dir + L"*.*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileW((dir + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(dir.c_str());
}

} // namespace kx
