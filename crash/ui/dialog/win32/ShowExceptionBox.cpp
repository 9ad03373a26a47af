#include "crash/ui/dialog/win32/ShowExceptionBox.h"

#include "crash/ui/dialog/win32/ExceptionBoxWin32.h"

namespace kx {

void ShowExceptionBox(IExceptionBoxSubject &exc, TBoxForm form) {
  bool reshow;
  {
    TExceptionBox box(exc, form, true);
    box.RunModal();
    reshow = box.Reshow() && form != TBoxForm::simpleBox;
  }
  if (!reshow)
    return;
  IKXSettings &settings = exc.Settings();
  settings.SetAutoShowBugReport(true);
  settings.SetAutoContinue(false);
  settings.SetAutoRestart(0);
  settings.SetAutoClose(0);
  TExceptionBox box(exc, TBoxForm::fullBox, false);
  box.RunModal();
}

} // namespace kx
