#pragma once
// Building the list of files a send attaches: a copy of the bug report (or of the whole bug
// report file), the screenshot, the minidump and the configured additional attachments, each
// with its send-as name, zip name and form field name.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "crash/base/settings/KXFields.h"
#include "crash/output/KXAttachmentSettings.h"
#include "crash/output/KXBugFileSystem.h"
#include "crash/output/KXFileStore.h"

namespace kx {

// Writes the screenshot as a PNG file in the given format; true when the file was written.
using KXSaveScreenShotFn = std::function<bool(const std::u16string &file, int format)>;

// What the list needs to know of the process and the exception.
struct KXAttachmentContext {
  std::u16string exePath;           // the executable's full path
  std::u16string tempDirectory;     // the reporter's temporary folder with a trailing backslash; empty: none
  std::u16string userAppDataFolder; // where the bug report file went when the exe's folder was not writable
  bool mailWasSaved = false;        // the automatic save has put this report into the bug report file
  KXSaveScreenShotFn saveScreenShot; // empty: the send has no screenshot
};

struct KXAttachmentList {
  std::shared_ptr<IKXAttachments> items;
  // The bug report file to delete after a successful send (DelBugRepFile); empty: none.
  std::u16string deleteAfterSend;
  // The copy of the bug report in the temporary folder; empty when there is none.
  std::u16string bugReportCopy;
};

// The temporary copy of the screenshot.
inline constexpr std::u16string_view kScreenShotFileName = u"screenShot.png";

// The minidump file of the process: <temporary folder><exe name without extension>.dmp; empty
// without a temporary folder.
std::u16string MiniDumpFile(const std::u16string &tempDirectory, const std::u16string &exePath);

// 1. The bug report (AttachBugRep): the bug report file P (made absolute; when it does not exist
//    and its name has no folder, the one in the user's application-data folder) is copied into
//    the temporary folder when AttachBugRepFile is set, and the report is appended to the copy
//    unless the automatic save has put it into P already; P is then marked for deletion when
//    DelBugRepFile is set. Otherwise the copy holds the report alone.
// 2. The screenshot, saved as "screenShot.png" in the temporary folder.
// 3. The minidump (AttachMiniDump) when its file exists.
// 4. Every AddAttachs entry in order.
KXAttachmentList BuildAttachmentList(IKXFileStore &store, IKXBugFileSystem &bugFiles,
                                     const KXAttachmentSettings &settings, const KXAttachmentContext &context,
                                     std::string_view report);

} // namespace kx
