#pragma once
// Saving a report of the live process into its bug report file, with the exception's settings.
#include <string>

#include "crash/capture/exception/KXException.h"

namespace kx {

// automatic: the configured file without questions; the duplicate and size rules apply, and a
// successful save of the configured file marks the exception's report as saved. Otherwise the
// user chooses the file in the save dialog owned by window (refused with a beep while the process
// is blocked in the loader). fileName: an explicit file to write instead of the configured one.
// True when the report was written.
bool SaveBugReportFile(IKXException &exception, const std::string &report, bool automatic, KXWindow window,
                       const std::u16string &fileName = {});

// The user's application-data folder as %userappdata% expands (where the bug report file goes
// when the executable's folder cannot be written).
std::u16string UserAppDataFolder();

} // namespace kx
