#pragma once
// A fresh folder under the system's temporary folder for one test, removed with everything in it
// (read-only files included) when the test ends.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace kx::test {

class Win32TestFolder {
public:
  explicit Win32TestFolder(const wchar_t *prefix) {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    static LONG counter = 0;
    Path = std::wstring(temp, n) + prefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(InterlockedIncrement(&counter)) + L"\\";
    Created = CreateDirectoryW(Path.c_str(), nullptr) != 0;
  }
  ~Win32TestFolder() {
    if (const char *keep = std::getenv("TIDEWELL_KEEP_TEST_FILES"); keep && *keep)
      return;
    Remove(Path);
  }
  Win32TestFolder(const Win32TestFolder &) = delete;
  Win32TestFolder &operator=(const Win32TestFolder &) = delete;

  std::wstring Path; // with a trailing backslash
  bool Created = false;

  std::u16string U16(const std::wstring &name = {}) const {
    std::wstring full = Path + name;
    return std::u16string(full.begin(), full.end());
  }

  // Writes the bytes into a new file in the folder; the full path.
  std::wstring Write(const std::wstring &name, const std::string &bytes) const {
    std::wstring full = Path + name;
    HANDLE h = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (h != INVALID_HANDLE_VALUE) {
      WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
      CloseHandle(h);
    }
    return full;
  }

  static std::string Read(const std::wstring &path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
      return "<missing>";
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
      data.append(buffer, got);
    CloseHandle(h);
    return data;
  }
  static std::string Read(const std::u16string &path) { return Read(std::wstring(path.begin(), path.end())); }

private:
  static void Remove(const std::wstring &folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
          continue;
        std::wstring full = folder + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          Remove(full + L"\\");
        } else {
          SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileW(full.c_str());
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
  }
};

} // namespace kx::test
