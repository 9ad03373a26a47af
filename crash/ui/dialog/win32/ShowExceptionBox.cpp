#include "ShowExceptionBox.h"

#include "ExceptionBoxWin32.h"

namespace kx {

void ShowExceptionBox(IExceptionBoxSubject &exc, TExceptionBoxForm form) {
  bool reshow;
  {
    TExceptionBox box(exc, form, true);
    box.RunModal();
    reshow = box.Reshow() && form != TExceptionBoxForm::simpleBox;
  }
  if (!reshow)
    return;
  IKXSettings &settings = exc.Settings();
  settings.SetAutoShowBugReport(true);
  settings.SetAutoContinue(false);
  settings.SetAutoRestart(0);
  settings.SetAutoClose(0);
  TExceptionBox box(exc, TExceptionBoxForm::fullBox, false);
  box.RunModal();
}

} // namespace kx
