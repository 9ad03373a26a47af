#include "crash/output/win32/KXWin32BugReportSave.h"

#include <windows.h>

#include "crash/base/settings/KXExpand.h"
#include "crash/base/settings/win32/KXSettingsShell.h"
#include "crash/capture/threads/win32/ProcessLock.h"
#include "crash/output/KXAttachmentSettings.h"
#include "crash/output/KXBugReportSave.h"
#include "crash/output/win32/KXSaveDialog.h"
#include "crash/output/win32/KXWin32BugFileSystem.h"

namespace kx {

namespace {
constexpr DWORD kLockWaitMs = 250;

// Tells the user that the chosen file could not be written, with the system's reason.
void ShowSaveFailure(KXWindow owner, const std::u16string &path, uint32_t error, const std::u16string &title) {
  std::wstring text = L"The bug report could not be saved to\r\n" +
                      std::wstring(reinterpret_cast<const wchar_t *>(path.c_str())) + L".";
  wchar_t *reason = nullptr;
  if (error && FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                              nullptr, error, 0, reinterpret_cast<LPWSTR>(&reason), 0, nullptr) &&
      reason) {
    text += L"\r\n\r\n";
    text += reason;
    LocalFree(reason);
  }
  MessageBoxW(reinterpret_cast<HWND>(owner), text.c_str(), reinterpret_cast<const wchar_t *>(title.c_str()),
              MB_OK | MB_ICONERROR);
}
} // namespace

std::u16string UserAppDataFolder() {
  // The same folder the settings' variable expansion gives for %userappdata%.
  KXExpandArgs args;
  return ExpandVariables(std::u16string(u"%userappdata%"), args, KXSettingsShell::Instance().Platform(),
                         [](KXModule) { return std::string(); });
}

bool SaveBugReportFile(IKXException &exception, const std::string &report, bool automatic, KXWindow window,
                       const std::u16string &fileName) {
  bool interactive = fileName.empty() && !automatic;
  if (interactive && ProcessLockHeld(kLockWaitMs)) {
    MessageBeep(0xFFFFFFFF);
    return false;
  }

  KXSaveRequest request;
  request.fileName = fileName;
  request.bugRepFile = exception.GetBugReportFile();
  request.exePath = ExecutablePath();
  request.autoSave = automatic;
  request.options = BugFileOptionsOf(exception);
  std::u16string title = WidenAnsi(exception.GetSaveBtnCaption());
  if (interactive) {
    request.desktopFolder = DesktopFolder();
    request.askUser = [&](const KXSaveProposal &proposal) { return AskSaveFileName(window, proposal, title); };
  } else if (fileName.empty()) {
    request.userAppDataFolder = UserAppDataFolder();
  }

  KXWin32BugFileSystem files;
  KXSaveResult result = SaveBugReport(files, request, report);
  if (result.configuredFile) {
    if (auto *ex = dynamic_cast<IKXExceptionEx *>(&exception))
      ex->SetMailWasSaved(true);
  }
  if (interactive && !result.saved && !result.cancelled)
    ShowSaveFailure(window, result.path, result.systemError, title);
  return result.saved;
}

} // namespace kx
