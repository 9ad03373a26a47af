#include "crash/output/win32/KXWin32BugFileSystem.h"

#include <windows.h>

#include <algorithm>

namespace kx {

namespace {
const wchar_t *W(const std::u16string &text) { return reinterpret_cast<const wchar_t *>(text.c_str()); }

class KXWin32BugFile : public IKXBugFile {
public:
  explicit KXWin32BugFile(HANDLE handle) : FHandle(handle) {}
  ~KXWin32BugFile() override { CloseHandle(FHandle); }
  KXWin32BugFile(const KXWin32BugFile &) = delete;
  KXWin32BugFile &operator=(const KXWin32BugFile &) = delete;

  std::optional<uint64_t> Size() override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(FHandle, &size))
      return std::nullopt;
    return uint64_t(size.QuadPart);
  }

  bool Read(uint64_t offset, size_t length, std::string &out) override {
    if (!Seek(offset))
      return false;
    out.assign(length, '\0');
    size_t done = 0;
    while (done < length) {
      DWORD part = DWORD(std::min<size_t>(length - done, 1u << 20));
      DWORD got = 0;
      if (!ReadFile(FHandle, out.data() + done, part, &got, nullptr) || got == 0)
        return false;
      done += got;
    }
    return true;
  }

  bool Write(uint64_t offset, std::string_view data) override {
    if (!Seek(offset))
      return false;
    size_t done = 0;
    while (done < data.size()) {
      DWORD part = DWORD(std::min<size_t>(data.size() - done, 1u << 20));
      DWORD written = 0;
      if (!WriteFile(FHandle, data.data() + done, part, &written, nullptr) || written == 0)
        return false;
      done += written;
    }
    return true;
  }

  bool Truncate(uint64_t size) override { return Seek(size) && SetEndOfFile(FHandle); }

private:
  bool Seek(uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(offset);
    return SetFilePointerEx(FHandle, to, nullptr, FILE_BEGIN) != 0;
  }

  HANDLE FHandle;
};
} // namespace

bool KXWin32BugFileSystem::CreateFolder(const std::u16string &path) {
  if (CreateDirectoryW(W(path), nullptr))
    return true;
  DWORD attributes = GetFileAttributesW(W(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

KXOpenResult KXWin32BugFileSystem::Open(const std::u16string &path) {
  KXOpenResult result;
  HANDLE handle = CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    result.systemError = GetLastError();
    result.status = result.systemError == ERROR_SHARING_VIOLATION || result.systemError == ERROR_LOCK_VIOLATION
                        ? KXOpenStatus::busy
                        : KXOpenStatus::failed;
    return result;
  }
  result.status = KXOpenStatus::opened;
  result.file = std::make_unique<KXWin32BugFile>(handle);
  return result;
}

void KXWin32BugFileSystem::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

std::u16string ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0)
      return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768)
      return {};
    path.resize(path.size() * 2);
  }
  return std::u16string(reinterpret_cast<const char16_t *>(path.data()), path.size());
}

} // namespace kx
