#pragma once
// The file operations the bitmaps need. The Win32 shell implements them over the real file
// system; tests implement them in memory.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// A file being written.
class INVImageFile {
public:
  virtual ~INVImageFile() = default;
  // Appends all of data; false on any failure.
  virtual bool Write(std::string_view data) = 0;
  // Closes the file; false when the system could not finish writing it.
  virtual bool Close() = 0;
};

class INVImageFileSystem {
public:
  virtual ~INVImageFileSystem() = default;
  // Creates a new empty file, replacing an old one; null when that fails.
  virtual std::unique_ptr<INVImageFile> Create(const std::u16string &path) = 0;
  virtual bool Delete(const std::u16string &path) = 0;
  // The whole file; nullopt when it cannot be read or is larger than maxSize bytes.
  virtual std::optional<std::string> Read(const std::u16string &path, uint64_t maxSize) = 0;
};

// Writes bytes as a new file at path. Nothing is created for empty bytes (a failed encoding);
// a file that cannot be written or closed completely is deleted again.
bool WriteImageFile(INVImageFileSystem &files, const std::u16string &path, std::string_view bytes);

} // namespace kx
