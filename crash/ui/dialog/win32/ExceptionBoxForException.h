#pragma once
// The crash dialog for an exception object: the reporter's host shows exceptions through this
// (the shell installs it: InstallShellWindows, crash/shell/win32/KXShellWindows.h).
#include "crash/capture/exception/KXException.h"
#include "crash/capture/exception/KXExceptionHost.h"

namespace kx {

// Shows the exception in the form and runs the dialog (and its re-show with the report) on the
// calling thread until an action closes it.
void ShowExceptionBoxFor(IKXException &exception, TExceptionBoxForm form);

} // namespace kx
