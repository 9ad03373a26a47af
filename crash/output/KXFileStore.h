#pragma once
// The file operations of the attachments and the zip writer: whole files read for packing, their
// attributes and times, archives written, temporary copies made and removed. The Win32 shell
// implements them over the real file system; tests implement them in memory or over the local
// file system.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// A time stamp in the two 16-bit words of the DOS format (as zip headers carry it).
struct KXDosDateTime {
  uint16_t time = 0; // hour << 11 | minute << 5 | second / 2
  uint16_t date = 0; // (year - 1980) << 9 | month << 5 | day
};

// 1 January 1980, 00:00, the earliest DOS time; used when a file's time is unknown.
inline constexpr KXDosDateTime kEarliestDosTime{0, (1 << 5) | 1};

// A file opened for reading, shared with readers and writers.
class IKXInputFile {
public:
  virtual ~IKXInputFile() = default;
  // Reads the whole file into out; false when a read or the allocation fails.
  virtual bool ReadAll(std::string &out) = 0;
  // The last write time in local time; nullopt when it cannot be read or converted.
  virtual std::optional<KXDosDateTime> LastWriteDosTime() = 0;
};

// A file created (or emptied) for writing.
class IKXOutputFile {
public:
  virtual ~IKXOutputFile() = default;
  // Appends all of data; false on any failure.
  virtual bool Write(std::string_view data) = 0;
  // Closes the file; false when the last writes could not be completed.
  virtual bool Close() = 0;
};

class IKXFileStore {
public:
  virtual ~IKXFileStore() = default;
  // True when a file (not a folder) exists at path.
  virtual bool Exists(const std::u16string &path) = 0;
  // Opens an existing file for reading; null when it cannot be opened.
  virtual std::unique_ptr<IKXInputFile> OpenForReading(const std::u16string &path) = 0;
  // The file's attributes as the platform keeps them (on Windows the FILE_ATTRIBUTE_ bits);
  // nullopt when they cannot be read.
  virtual std::optional<uint32_t> Attributes(const std::u16string &path) = 0;
  // Creates the file, replacing an existing one; null when that fails.
  virtual std::unique_ptr<IKXOutputFile> Create(const std::u16string &path) = 0;
  // Deletes the file; false when it could not be deleted (a missing file included).
  virtual bool Delete(const std::u16string &path) = 0;
  // Copies from over to, replacing an existing target; false on any failure.
  virtual bool Copy(const std::u16string &from, const std::u16string &to) = 0;
};

} // namespace kx
