#include "crash/output/win32/KXWin32Attachments.h"

#include "crash/capture/exception/KXException.h"
#include "crash/output/win32/KXWin32BugFileSystem.h"
#include "crash/output/win32/KXWin32BugReportSave.h"
#include "crash/output/win32/KXWin32FileStore.h"

namespace kx {

KXSendAttachments PrepareAttachmentsFor(IKXSettings &settings, const std::string &report,
                                        const std::wstring &tempDirectory, const KXSaveScreenShotFn &saveScreenShot) {
  KXAttachmentContext context;
  context.exePath = ExecutablePath();
  context.tempDirectory.assign(tempDirectory.begin(), tempDirectory.end());
  context.userAppDataFolder = UserAppDataFolder();
  if (auto *exception = dynamic_cast<IKXExceptionEx *>(&settings))
    context.mailWasSaved = exception->GetMailWasSaved();
  context.saveScreenShot = saveScreenShot;

  KXWin32FileStore store;
  KXWin32BugFileSystem bugFiles;
  return BuildSendAttachments(store, bugFiles, AttachmentSettingsOf(settings), context, report);
}

} // namespace kx
