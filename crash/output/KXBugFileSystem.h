#pragma once
// The file operations the bug report file needs. The Win32 shell implements them over the real
// file system; tests implement them in memory.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// One open file, opened for reading and writing and not shared.
class IKXBugFile {
public:
  virtual ~IKXBugFile() = default;
  // The size in bytes; nullopt when it cannot be read.
  virtual std::optional<uint64_t> Size() = 0;
  // Reads exactly length bytes at offset into out; false on any failure.
  virtual bool Read(uint64_t offset, size_t length, std::string &out) = 0;
  // Writes all of data at offset; false on any failure.
  virtual bool Write(uint64_t offset, std::string_view data) = 0;
  // Makes the file end at size.
  virtual bool Truncate(uint64_t size) = 0;
};

enum class KXOpenStatus {
  opened,
  busy,   // another writer has it open; trying again later may work
  failed, // the file cannot be opened or created there
};

struct KXOpenResult {
  KXOpenStatus status = KXOpenStatus::failed;
  uint32_t systemError = 0; // the platform's error code on failure
  std::unique_ptr<IKXBugFile> file;
};

class IKXBugFileSystem {
public:
  virtual ~IKXBugFileSystem() = default;
  // Creates one folder (path ends with a backslash); an existing folder is no error.
  virtual bool CreateFolder(const std::u16string &path) = 0;
  // Opens the file for reading and writing without sharing, creating it when absent.
  virtual KXOpenResult Open(const std::u16string &path) = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
};

} // namespace kx
