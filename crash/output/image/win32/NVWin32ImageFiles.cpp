#include "crash/output/image/win32/NVWin32ImageFiles.h"

#include <windows.h>

#include <algorithm>

namespace kx {

namespace {
const wchar_t *W(const std::u16string &text) { return reinterpret_cast<const wchar_t *>(text.c_str()); }

class NVWin32ImageFile : public INVImageFile {
public:
  explicit NVWin32ImageFile(HANDLE handle) : FHandle(handle) {}
  ~NVWin32ImageFile() override { Close(); }
  NVWin32ImageFile(const NVWin32ImageFile &) = delete;
  NVWin32ImageFile &operator=(const NVWin32ImageFile &) = delete;

  bool Write(std::string_view data) override {
    size_t done = 0;
    while (done < data.size()) {
      const DWORD part = DWORD(std::min<size_t>(data.size() - done, 1u << 20));
      DWORD written = 0;
      if (FHandle == INVALID_HANDLE_VALUE || !WriteFile(FHandle, data.data() + done, part, &written, nullptr) ||
          written == 0)
        return false;
      done += written;
    }
    return true;
  }

  bool Close() override {
    if (FHandle == INVALID_HANDLE_VALUE)
      return false;
    const bool closed = CloseHandle(FHandle) != 0;
    FHandle = INVALID_HANDLE_VALUE;
    return closed;
  }

private:
  HANDLE FHandle;
};

class Handle {
public:
  explicit Handle(HANDLE handle) : FHandle(handle) {}
  ~Handle() {
    if (FHandle != INVALID_HANDLE_VALUE)
      CloseHandle(FHandle);
  }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  HANDLE Get() const { return FHandle; }

private:
  HANDLE FHandle;
};
} // namespace

std::unique_ptr<INVImageFile> NVWin32ImageFileSystem::Create(const std::u16string &path) {
  HANDLE handle = CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return nullptr;
  return std::make_unique<NVWin32ImageFile>(handle);
}

bool NVWin32ImageFileSystem::Delete(const std::u16string &path) { return DeleteFileW(W(path)) != 0; }

std::optional<std::string> NVWin32ImageFileSystem::Read(const std::u16string &path, uint64_t maxSize) {
  Handle file(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE)
    return std::nullopt;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || uint64_t(size.QuadPart) > maxSize)
    return std::nullopt;
  std::string content(size_t(size.QuadPart), '\0');
  size_t done = 0;
  while (done < content.size()) {
    const DWORD part = DWORD(std::min<size_t>(content.size() - done, 1u << 20));
    DWORD got = 0;
    if (!ReadFile(file.Get(), content.data() + done, part, &got, nullptr) || got == 0)
      return std::nullopt;
    done += got;
  }
  return content;
}

std::shared_ptr<INVImageFileSystem> Win32ImageFiles() {
  static const std::shared_ptr<INVImageFileSystem> files = std::make_shared<NVWin32ImageFileSystem>();
  return files;
}

} // namespace kx
