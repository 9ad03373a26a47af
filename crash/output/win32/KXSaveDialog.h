#pragma once
// The save dialog of the interactive bug report save.
#include <optional>
#include <string>

#include "crash/capture/exception/KXException.h"
#include "crash/output/KXBugReportSave.h"

namespace kx {

// The user's desktop folder with a trailing backslash, created when missing; empty when unknown.
std::u16string DesktopFolder();

// Shows the save dialog for "*.txt" files, owned by the window, starting in the proposed folder
// with the proposed name, titled with the given text. The chosen path, or nullopt when cancelled
// or the dialog failed.
std::optional<std::u16string> AskSaveFileName(KXWindow owner, const KXSaveProposal &proposal,
                                              const std::u16string &title);

} // namespace kx
