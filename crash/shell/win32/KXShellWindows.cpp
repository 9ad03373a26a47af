#include "crash/shell/win32/KXShellWindows.h"

#include "crash/output/image/win32/NVScreenShot.h"
#include "crash/ui/assistant/win32/RunExceptionAssistant.h"
#include "crash/ui/dialog/win32/ExceptionBoxForException.h"
#include "crash/ui/progress/win32/ProgressAlertWin32.h"

namespace kx {

void InstallShellWindows(KXWin32ExceptionHost &host) {
  host.SetPleaseWaitWindow([](const std::string &title, KXModule module) {
    return CreateProgressAlert(title, reinterpret_cast<HMODULE>(module), kPleaseWaitPicture);
  });
  host.SetScreenShot([](IKXException &exception) { return ScreenShot(exception.GetScreenShotAppOnly()); });
  host.SetAssistant(&RunExceptionAssistant);
  host.SetExceptionBox(&ShowExceptionBoxFor);
}

} // namespace kx
