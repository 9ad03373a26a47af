#pragma once
// The reporter's windows from the layers above capture, installed into the capture layer's host
// at start-up: the please-wait progress window (ui/progress), the screenshot (output/image), the
// assistants (ui/assistant) and the crash dialog (ui/dialog).
#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"

namespace kx {

// Installs the four parts into the host (SetPleaseWaitWindow, SetScreenShot, SetAssistant,
// SetExceptionBox). A test that wants its own exception box sets it afterwards.
void InstallShellWindows(KXWin32ExceptionHost &host);

} // namespace kx
