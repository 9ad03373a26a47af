#include "crash/output/KXAttachmentSettings.h"

namespace kx {

KXBugFileOptions BugFileOptionsOf(IKXSettings &settings) {
  KXBugFileOptions options;
  options.append = settings.GetAppendBugReports();
  options.maxSize = settings.GetBugReportFileSize();
  options.duplicates.noDupExcepts = settings.GetNoDupExcepts();
  options.duplicates.dupExceptDef = settings.GetDupExceptDef();
  options.duplicates.noDupFreezes = settings.GetNoDupFreezes();
  options.duplicates.dupFreezeDef = settings.GetDupFreezeDef();
  return options;
}

KXAttachmentSettings AttachmentSettingsOf(IKXSettings &settings) {
  KXAttachmentSettings s;
  s.attachBugRep = settings.GetAttachBugReport();
  s.attachBugRepFile = settings.GetAttachBugReportFile();
  s.delBugRepFile = settings.GetDeleteBugReportFile();
  s.bugRepSendAs = settings.GetBugReportSendAs();
  s.bugRepZip = settings.GetBugReportZip();
  s.bugRepFile = settings.GetBugReportFile();
  s.scrShotDepth = settings.GetScreenShotDepth();
  s.scrShotSendAs = settings.GetScreenShotSendAs();
  s.scrShotZip = settings.GetScreenShotZip();
  s.attachMiniDump = settings.GetAttachMiniDump();
  s.addAttachs = settings.GetAdditionalAttachments();
  s.fileOptions = BugFileOptionsOf(settings);
  return s;
}

int ScreenShotPngFormat(int32_t scrShotDepth) {
  switch (scrShotDepth) {
  case 4:
    return 1;
  case 51200:
    return 2;
  case 102400:
    return 3;
  case 204800:
    return 4;
  case 307200:
    return 5;
  default:
    return 0;
  }
}

} // namespace kx
