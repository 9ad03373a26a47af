#pragma once
// The attachments of a send in the live process: the list built from the settings (a module's
// or an exception object's) and prepared over the real file system.
#include <string>

#include "crash/base/settings/KXSettings.h"
#include "crash/output/KXSendAttachments.h"

namespace kx {

// settings: the exception object when the send is for one (its MailWasSaved flag then decides
// whether the report is appended to the copy of the bug report file), else a module's settings.
// tempDirectory: the reporter's temporary folder with a trailing backslash (KXTempDirectory());
// empty: no copies, screenshot, minidump or archives. saveScreenShot: writes the send's
// screenshot as PNG in the given format (empty when the send has none).
KXSendAttachments PrepareAttachmentsFor(IKXSettings &settings, const std::string &report,
                                        const std::wstring &tempDirectory,
                                        const KXSaveScreenShotFn &saveScreenShot = {});

} // namespace kx
