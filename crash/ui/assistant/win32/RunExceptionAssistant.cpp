#include "crash/ui/assistant/win32/RunExceptionAssistant.h"

#include <windows.h>

#include "crash/base/settings/KXSettingsObject.h"
#include "crash/ui/assistant/AssistantOutputs.h"
#include "crash/ui/assistant/win32/LoadAssistant.h"

namespace kx {

bool RunExceptionAssistant(IKXException &exception, const std::string &name, KXWindow parent, bool &ok) {
  ok = false;
  auto *settings = dynamic_cast<IKXSettingsEx *>(&exception);
  if (TIKXSettings *self = settings ? settings->GetSelf() : nullptr)
    if (!self->Context()->AssistantHooks().load)
      InstallAssistantHooks(*self->Context());

  std::shared_ptr<INVAssistant> assistant = exception.GetAssistant(name);
  if (!assistant)
    return false;
  HWND owner = HWND(parent);
  const bool topmost = owner && (GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_TOPMOST);
  if (topmost)
    SetWindowPos(owner, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ok = assistant->RunModal(TNVWindow(parent)) == TNVModalResult::nvmOk;
  if (topmost)
    SetWindowPos(owner, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (ok)
    AddAssistantOutputs(*assistant, exception);
  if (settings)
    settings->FillFormCache(*assistant);
  return true;
}

} // namespace kx
