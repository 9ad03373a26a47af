#include "crash/output/KXAttachmentList.h"

#include "crash/base/settings/KXText.h"
#include "crash/output/KXBugFilePaths.h"
#include "crash/output/KXBugReportSave.h"

namespace kx {

namespace {

// The bug report file as the automatic save left it.
std::u16string BugReportFileInUse(IKXFileStore &store, const KXAttachmentSettings &settings,
                                  const KXAttachmentContext &context) {
  std::u16string path = MakeAbsolutePath(settings.bugRepFile, context.exePath);
  if (!store.Exists(path) && !HasPathSeparator(settings.bugRepFile) && !context.userAppDataFolder.empty())
    path = FallbackBugReportFile(context.userAppDataFolder, context.exePath, settings.bugRepFile);
  return path;
}

void AddBugReport(IKXFileStore &store, IKXBugFileSystem &bugFiles, const KXAttachmentSettings &settings,
                  const KXAttachmentContext &context, std::string_view report, KXAttachmentList &list) {
  std::u16string file = BugReportFileInUse(store, settings, context);
  std::u16string copy = context.tempDirectory + FileNamePart(file);
  if (settings.attachBugRepFile && store.Copy(file, copy)) {
    if (settings.delBugRepFile)
      list.deleteAfterSend = file;
    if (!context.mailWasSaved)
      WriteBugReportFile(bugFiles, copy, report, settings.fileOptions);
  } else {
    store.Delete(copy);
    if (!WriteBugReportFile(bugFiles, copy, report, settings.fileOptions).saved)
      store.Delete(copy);
  }
  if (store.Exists(copy)) {
    list.items->Add(copy, settings.bugRepSendAs, settings.bugRepZip, "BugReport");
    list.bugReportCopy = copy;
  } else {
    list.deleteAfterSend.clear();
  }
}

void AddScreenShot(IKXFileStore &store, const KXAttachmentSettings &settings, const KXAttachmentContext &context,
                   KXAttachmentList &list) {
  std::u16string file = context.tempDirectory + std::u16string(kScreenShotFileName);
  store.Delete(file);
  if (context.saveScreenShot(file, ScreenShotPngFormat(settings.scrShotDepth)))
    list.items->Add(file, settings.scrShotSendAs, settings.scrShotZip, "ScreenShot");
}

void AddAdditional(IKXAttachments &additional, IKXAttachments &items) {
  KXListLock<IKXAttachments> lock(additional);
  std::u16string file;
  std::string sendAs, zip, field;
  for (int i = 0; additional.GetItem(i, file, sendAs, zip, field); ++i)
    items.Add(file, sendAs, zip, field);
}

} // namespace

std::u16string MiniDumpFile(const std::u16string &tempDirectory, const std::u16string &exePath) {
  if (tempDirectory.empty())
    return {};
  return tempDirectory + FileBaseName(exePath) + u".dmp";
}

KXAttachmentList BuildAttachmentList(IKXFileStore &store, IKXBugFileSystem &bugFiles,
                                     const KXAttachmentSettings &settings, const KXAttachmentContext &context,
                                     std::string_view report) {
  KXAttachmentList list;
  list.items = NewAttachmentList();
  bool haveTemp = !context.tempDirectory.empty();
  if (settings.attachBugRep && haveTemp)
    AddBugReport(store, bugFiles, settings, context, report, list);
  if (context.saveScreenShot && haveTemp)
    AddScreenShot(store, settings, context, list);
  if (settings.attachMiniDump) {
    std::u16string dump = MiniDumpFile(context.tempDirectory, context.exePath);
    if (!dump.empty() && store.Exists(dump))
      list.items->Add(dump, NarrowUtf16(FileNamePart(dump)), "", "MiniDump");
  }
  if (settings.addAttachs)
    AddAdditional(*settings.addAttachs, *list.items);
  return list;
}

} // namespace kx
