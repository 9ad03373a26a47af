#include "crash/output/image/NVImageFiles.h"

namespace kx {

bool WriteImageFile(INVImageFileSystem &files, const std::u16string &path, std::string_view bytes) {
  if (bytes.empty())
    return false;
  std::unique_ptr<INVImageFile> file = files.Create(path);
  if (!file)
    return false;
  const bool written = file->Write(bytes);
  const bool closed = file->Close();
  file.reset();
  if (written && closed)
    return true;
  files.Delete(path);
  return false;
}

} // namespace kx
