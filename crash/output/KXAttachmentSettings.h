#pragma once
// The settings that decide which files a send attaches, read once from an IKXSettings (a
// module's settings or an exception object) into plain values.
#include <cstdint>
#include <memory>
#include <string>

#include "crash/base/settings/KXFields.h"
#include "crash/base/settings/KXSettings.h"
#include "crash/output/KXBugFileRules.h"

namespace kx {

struct KXAttachmentSettings {
  bool attachBugRep = true;     // AttachBugRep
  bool attachBugRepFile = true; // AttachBugRepFile: the whole file instead of the report alone
  bool delBugRepFile = true;    // DelBugRepFile
  std::string bugRepSendAs = "bugreport.txt";
  std::string bugRepZip;
  std::u16string bugRepFile = u"bugreport.txt"; // variables expanded
  int32_t scrShotDepth = 0;
  std::string scrShotSendAs = "screenshot.png";
  std::string scrShotZip;
  bool attachMiniDump = false;
  std::shared_ptr<IKXAttachments> addAttachs; // AddAttachs; null: none
  KXBugFileOptions fileOptions;               // for writing the report into its copy
};

KXAttachmentSettings AttachmentSettingsOf(IKXSettings &settings);

// AppendBugReps, BugRepFileSize and the duplicate rules.
KXBugFileOptions BugFileOptionsOf(IKXSettings &settings);

// The PNG format of the screenshot for a ScrShotDepth value: 4 gives 1, 51200 gives 2, 102400
// gives 3, 204800 gives 4, 307200 gives 5, anything else 0.
int ScreenShotPngFormat(int32_t scrShotDepth);

} // namespace kx
