#include "crash/output/image/win32/NVScreenshotEditor.h"

#include <shellapi.h>

#include "crash/output/image/win32/NVLoadBitmapFile.h"

namespace kx {

namespace {
using ShellExecuteExFn = BOOL(WINAPI *)(SHELLEXECUTEINFOW *);

// ShellExecuteExW, looked up at run time: shell32 is loaded only when the user asks for an editor.
ShellExecuteExFn ShellExecuteExEntry() {
  HMODULE shell = LoadLibraryW(L"shell32.dll");
  return shell ? reinterpret_cast<ShellExecuteExFn>(GetProcAddress(shell, "ShellExecuteExW")) : nullptr;
}
} // namespace

NVScreenshotEditor::NVScreenshotEditor(std::wstring folder) : FFile(std::move(folder) + L"screenShot.bmp") {}

NVScreenshotEditor::~NVScreenshotEditor() {
  if (FEditor)
    CloseHandle(FEditor);
  if (FSaved)
    DeleteFileW(FFile.c_str());
}

uint32_t NVScreenshotEditor::LastWrite() const {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(FFile.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return 0;
  FindClose(search);
  FILETIME local;
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time))
    return 0;
  return uint32_t(date) << 16 | time;
}

void NVScreenshotEditor::StartEdit(INVBitmap &screenshot) {
  if (!FSaved) {
    if (!screenshot.SaveBmp(std::u16string(FFile.begin(), FFile.end()))) {
      Beep(60, 60);
      return;
    }
    FSaved = true;
    FLastWrite = LastWrite();
  }
  if (FEditor) {
    if (WaitForSingleObject(FEditor, 0) == WAIT_TIMEOUT)
      return; // still editing
    CloseHandle(FEditor);
    FEditor = nullptr;
  }
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"edit";
  info.lpFile = FFile.c_str();
  info.nShow = SW_SHOWMAXIMIZED;
  ShellExecuteExFn execute = ShellExecuteExEntry();
  if (!execute || !execute(&info)) {
    Beep(60, 60);
    return;
  }
  FEditor = info.hProcess; // null when the shell handed the file to a running program
}

std::shared_ptr<INVBitmap> NVScreenshotEditor::Edited() {
  if (!FSaved)
    return nullptr;
  uint32_t lastWrite = LastWrite();
  if (lastWrite == 0 || lastWrite == FLastWrite)
    return nullptr;
  std::shared_ptr<INVBitmap> edited = LoadBitmapFile(std::u16string(FFile.begin(), FFile.end()));
  // A file caught in the middle of the editor's save is read again at the next look.
  if (edited)
    FLastWrite = lastWrite;
  return edited;
}

} // namespace kx
