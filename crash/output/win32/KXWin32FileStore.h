#pragma once
// The attachment and zip file operations over the Win32 file API.
#include "crash/output/KXFileStore.h"

namespace kx {

class KXWin32FileStore : public IKXFileStore {
public:
  // GetFileAttributesW: a file, not a folder.
  bool Exists(const std::u16string &path) override;
  // CreateFileW for reading, shared for reading and writing; the time comes from GetFileTime,
  // FileTimeToLocalFileTime and FileTimeToDosDateTime.
  std::unique_ptr<IKXInputFile> OpenForReading(const std::u16string &path) override;
  std::optional<uint32_t> Attributes(const std::u16string &path) override;
  // CreateFileW for writing, not shared, create-always.
  std::unique_ptr<IKXOutputFile> Create(const std::u16string &path) override;
  bool Delete(const std::u16string &path) override;
  // CopyFileW, replacing the target; the copy is left writable whatever the attributes of the
  // source or of the target it replaces.
  bool Copy(const std::u16string &from, const std::u16string &to) override;
};

} // namespace kx
