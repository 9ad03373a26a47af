#include "crash/output/win32/KXWin32FileStore.h"

#include <windows.h>

#include <algorithm>
#include <new>

namespace kx {

namespace {
const wchar_t *W(const std::u16string &text) { return reinterpret_cast<const wchar_t *>(text.c_str()); }

constexpr DWORD kChunk = 1u << 20;

class KXWin32InputFile : public IKXInputFile {
public:
  explicit KXWin32InputFile(HANDLE handle) : FHandle(handle) {}
  ~KXWin32InputFile() override { CloseHandle(FHandle); }
  KXWin32InputFile(const KXWin32InputFile &) = delete;
  KXWin32InputFile &operator=(const KXWin32InputFile &) = delete;

  bool ReadAll(std::string &out) override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(FHandle, &size) || size.QuadPart < 0 || uint64_t(size.QuadPart) > out.max_size() ||
        uint64_t(size.QuadPart) > SIZE_MAX / 2)
      return false;
    try {
      out.assign(size_t(size.QuadPart), '\0');
    } catch (const std::bad_alloc &) {
      return false;
    }
    size_t done = 0;
    while (done < out.size()) {
      DWORD got = 0;
      DWORD part = DWORD(std::min<size_t>(out.size() - done, kChunk));
      if (!ReadFile(FHandle, out.data() + done, part, &got, nullptr) || got == 0)
        return false; // a file that shrank while being read counts as a failed read
      done += got;
    }
    return true;
  }

  std::optional<KXDosDateTime> LastWriteDosTime() override {
    FILETIME written, local;
    WORD date = 0, time = 0;
    if (!GetFileTime(FHandle, nullptr, nullptr, &written) || !FileTimeToLocalFileTime(&written, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time))
      return std::nullopt;
    return KXDosDateTime{time, date};
  }

private:
  HANDLE FHandle;
};

class KXWin32OutputFile : public IKXOutputFile {
public:
  explicit KXWin32OutputFile(HANDLE handle) : FHandle(handle) {}
  ~KXWin32OutputFile() override { Close(); }
  KXWin32OutputFile(const KXWin32OutputFile &) = delete;
  KXWin32OutputFile &operator=(const KXWin32OutputFile &) = delete;

  bool Write(std::string_view data) override {
    size_t done = 0;
    while (done < data.size()) {
      DWORD written = 0;
      DWORD part = DWORD(std::min<size_t>(data.size() - done, kChunk));
      if (!WriteFile(FHandle, data.data() + done, part, &written, nullptr) || written == 0)
        return false;
      done += written;
    }
    return true;
  }

  bool Close() override {
    if (FHandle == INVALID_HANDLE_VALUE)
      return true;
    bool ok = CloseHandle(FHandle) != 0;
    FHandle = INVALID_HANDLE_VALUE;
    return ok;
  }

private:
  HANDLE FHandle;
};
} // namespace

bool KXWin32FileStore::Exists(const std::u16string &path) {
  DWORD attributes = GetFileAttributesW(W(path));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::unique_ptr<IKXInputFile> KXWin32FileStore::OpenForReading(const std::u16string &path) {
  HANDLE handle = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return nullptr;
  return std::make_unique<KXWin32InputFile>(handle);
}

std::optional<uint32_t> KXWin32FileStore::Attributes(const std::u16string &path) {
  DWORD attributes = GetFileAttributesW(W(path));
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return std::nullopt;
  return attributes;
}

std::unique_ptr<IKXOutputFile> KXWin32FileStore::Create(const std::u16string &path) {
  HANDLE handle =
      CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return nullptr;
  return std::make_unique<KXWin32OutputFile>(handle);
}

bool KXWin32FileStore::Delete(const std::u16string &path) { return DeleteFileW(W(path)) != 0; }

namespace {

// A copy is ours to change: a read-only source (a bug report file the user protected, say)
// must not make it read-only, or the report appended to it and the next copy over it fail.
void MakeWritable(const std::u16string &path) {
  DWORD attributes = GetFileAttributesW(W(path));
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(W(path), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
}

} // namespace

bool KXWin32FileStore::Copy(const std::u16string &from, const std::u16string &to) {
  MakeWritable(to);
  if (!CopyFileW(W(from), W(to), FALSE))
    return false;
  MakeWritable(to);
  return true;
}

} // namespace kx
