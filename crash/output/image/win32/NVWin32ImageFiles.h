#pragma once
// The bitmaps' file operations over the Win32 file API.
#include <memory>

#include "crash/output/image/NVImageFiles.h"

namespace kx {

class NVWin32ImageFileSystem : public INVImageFileSystem {
public:
  // CreateFileW for writing, not shared, create-always.
  std::unique_ptr<INVImageFile> Create(const std::u16string &path) override;
  bool Delete(const std::u16string &path) override;
  // Shared for reading and writing, so that a file an editor still holds open can be read.
  std::optional<std::string> Read(const std::u16string &path, uint64_t maxSize) override;
};

// The process-wide instance the Win32 bitmaps save through.
std::shared_ptr<INVImageFileSystem> Win32ImageFiles();

} // namespace kx
