#pragma once
// The screenshot form's handler: shows the exception's screenshot, lets the user edit it in the
// system's image editor and takes the attach choice over into the exception object.
#include <functional>
#include <memory>

#include "crash/ui/assistant/NVAssistant.h"

namespace kx {

// The editing steps, bound by the program to the screenshot module (save as "screenShot.bmp" in
// the reporter's temporary folder, open it with the shell verb "edit", load it back when its
// last-write time changed). data is the form's Data: the steps keep their state there (the
// remembered last-write time and the editor process); null while nothing was saved for editing.
struct KXScreenshotEditing {
  // A click on the picture: save the screenshot for editing (once) and start the editor unless
  // one is running for it.
  std::function<void(void *&data, IKXException &exception)> startEdit;
  // The form's timer: the edited screenshot when the editor has saved it since the last call,
  // else null.
  std::function<std::shared_ptr<INVBitmap>(void *&data)> editedScreenshot;
  // The form closes: close the editor's process handle, delete the file and clear data.
  std::function<void(void *&data)> endEdit;
};

void SetScreenshotEditing(KXScreenshotEditing editing);
KXScreenshotEditing ScreenshotEditing();

// The handler selected by "Kestrelix.HandleScreenshotForm". Items: ScrShotImg, AttachCheck.
// Does nothing for a form that carries no exception object.
void HandleScreenshotForm(INVForm &form, TNVAction action, INVItem *item, IKXException *exception);

} // namespace kx
