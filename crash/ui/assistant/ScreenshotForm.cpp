#include "crash/ui/assistant/ScreenshotForm.h"

#include <mutex>

#include "crash/capture/exception/KXException.h"

namespace kx {

namespace {
std::mutex gEditingLock;
KXScreenshotEditing gEditing;
} // namespace

void SetScreenshotEditing(KXScreenshotEditing editing) {
  std::lock_guard g(gEditingLock);
  gEditing = std::move(editing);
}

KXScreenshotEditing ScreenshotEditing() {
  std::lock_guard g(gEditingLock);
  return gEditing;
}

void HandleScreenshotForm(INVForm &form, TNVAction action, INVItem *item, IKXException *exception) {
  if (!exception)
    return;
  std::shared_ptr<INVImage> image = form.ImageNamed("ScrShotImg");
  std::shared_ptr<INVCheckBox> attach = form.CheckBoxNamed("AttachCheck");

  switch (action) {
  case TNVAction::nvaFormCreate:
    if (image)
      image->SetBitmap(exception->GetScreenShot());
    if (attach)
      attach->SetChecked(exception->GetAppendScreenShot());
    return;
  case TNVAction::nvaItemEvent: {
    KXScreenshotEditing editing = ScreenshotEditing();
    void *data = form.GetData();
    if (item) {
      if (image && item == static_cast<INVItem *>(image.get()) && editing.startEdit)
        editing.startEdit(data, *exception);
    } else if (editing.editedScreenshot) {
      if (std::shared_ptr<INVBitmap> edited = editing.editedScreenshot(data)) {
        exception->SetScreenShot(edited);
        if (image)
          image->SetBitmap(edited);
      }
    }
    form.SetData(data);
    return;
  }
  case TNVAction::nvaFormClose: {
    if (void *data = form.GetData()) {
      KXScreenshotEditing editing = ScreenshotEditing();
      if (editing.endEdit)
        editing.endEdit(data);
      form.SetData(nullptr);
    }
    if (attach)
      exception->SetAppendScreenShot(attach->GetChecked());
    return;
  }
  case TNVAction::nvaFormShow:
    return;
  }
}

} // namespace kx
