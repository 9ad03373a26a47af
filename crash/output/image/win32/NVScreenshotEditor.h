#pragma once
// Editing a screenshot in the system's image editor: the picture is saved as "screenShot.bmp" in
// a folder, opened with the shell verb "edit", and loaded back whenever the editor has saved it.
#include <windows.h>

#include <memory>
#include <string>

#include "crash/output/image/NVBitmap.h"

namespace kx {

class NVScreenshotEditor {
public:
  // folder: where the file is kept, with a trailing backslash (the reporter's temporary folder).
  explicit NVScreenshotEditor(std::wstring folder);
  // Closes the editor's process handle (the editor keeps running) and deletes the file.
  ~NVScreenshotEditor();
  NVScreenshotEditor(const NVScreenshotEditor &) = delete;
  NVScreenshotEditor &operator=(const NVScreenshotEditor &) = delete;

  // Saves the screenshot (only the first time) and starts the editor unless one is still running
  // for it; a finished editor is forgotten first. A short beep when the shell cannot edit the file.
  void StartEdit(INVBitmap &screenshot);
  // The picture the editor saved since the last look (its last-write time changed), else null.
  std::shared_ptr<INVBitmap> Edited();

  const std::wstring &File() const { return FFile; }

private:
  // The file's last-write time in DOS form; 0 when it cannot be read.
  uint32_t LastWrite() const;

  std::wstring FFile;
  bool FSaved = false;
  uint32_t FLastWrite = 0;
  HANDLE FEditor = nullptr;
};

} // namespace kx
