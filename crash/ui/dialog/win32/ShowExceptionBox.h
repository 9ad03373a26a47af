#pragma once
// Shows an exception in the crash dialog and runs the dialog's modal loop on the calling thread.
#include "crash/ui/dialog/ExceptionBoxRules.h"
#include "crash/ui/dialog/ExceptionBoxSubject.h"

namespace kx {

// Shows the form with its sound, waits until an action closes it and, when "show bug report"
// ended the full dialog or the detail box, shows the full dialog again with the details pane,
// without sound and without automatic actions.
void ShowExceptionBox(IExceptionBoxSubject &exc, TBoxForm form);

} // namespace kx
