#include "crash/delivery/win32/KXWin32FileSource.h"

#include <windows.h>

#include <algorithm>

namespace kx {

namespace {

class KXWin32FileSource : public IKXFileSource {
public:
  KXWin32FileSource(HANDLE handle, uint64_t size) : FHandle(handle), FSize(size) {}
  ~KXWin32FileSource() override { CloseHandle(FHandle); }
  KXWin32FileSource(const KXWin32FileSource &) = delete;
  KXWin32FileSource &operator=(const KXWin32FileSource &) = delete;

  uint64_t Size() override { return FSize; }

  int64_t Read(char *buffer, size_t count) override {
    DWORD got = 0;
    DWORD want = DWORD(std::min<size_t>(count, 1u << 20));
    if (!ReadFile(FHandle, buffer, want, &got, nullptr))
      return -1;
    return int64_t(got);
  }

private:
  HANDLE FHandle;
  uint64_t FSize;
};

} // namespace

std::unique_ptr<IKXFileSource> OpenSharedFile(const std::u16string &path) {
  HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.c_str()), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return nullptr;
  DWORD high = 0;
  DWORD low = GetFileSize(handle, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    CloseHandle(handle);
    return nullptr;
  }
  return std::make_unique<KXWin32FileSource>(handle, uint64_t(high) << 32 | low);
}

} // namespace kx
