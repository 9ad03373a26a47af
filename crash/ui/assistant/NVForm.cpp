#include "crash/ui/assistant/NVForm.h"

#include "crash/ui/assistant/NVAssistantObject.h"

namespace kx {

TNVForm::TNVForm(TNVAssistant *parent, INVFormPlatform *platform) : FParent(parent), FPlatform(platform) {}

TNVForm::~TNVForm() {
  // Items that somebody still holds must not reach back into a form that is gone.
  for (const std::shared_ptr<TNVItem> &item : FItems)
    item->FParent = nullptr;
}

std::shared_ptr<INVAssistant> TNVForm::GetAssistant() {
  return FParent ? std::shared_ptr<INVAssistant>(FParent->weak_from_this().lock()) : nullptr;
}

std::shared_ptr<INVItem> TNVForm::GetItems(int32_t index) {
  if (index < 0 || size_t(index) >= FItems.size())
    return nullptr;
  return FItems[size_t(index)];
}

std::shared_ptr<INVButton> TNVForm::Button(size_t index) {
  return index < FItems.size() ? std::dynamic_pointer_cast<INVButton>(FItems[index]) : nullptr;
}

template <class T> std::shared_ptr<T> TNVForm::Named(const std::string &name, TNVItemKind kind) {
  for (const std::shared_ptr<TNVItem> &item : FItems)
    if (item->Kind() == kind && item->FName == name)
      return std::dynamic_pointer_cast<T>(item);
  return nullptr;
}

std::shared_ptr<INVEdit> TNVForm::EditNamed(const std::string &name) { return Named<INVEdit>(name, TNVItemKind::edit); }
std::shared_ptr<INVLabel> TNVForm::LabelNamed(const std::string &name) {
  return Named<INVLabel>(name, TNVItemKind::label);
}
std::shared_ptr<INVButton> TNVForm::ButtonNamed(const std::string &name) {
  return Named<INVButton>(name, TNVItemKind::button);
}
std::shared_ptr<INVCheckBox> TNVForm::CheckBoxNamed(const std::string &name) {
  return Named<INVCheckBox>(name, TNVItemKind::checkBox);
}
std::shared_ptr<INVImage> TNVForm::ImageNamed(const std::string &name) {
  return Named<INVImage>(name, TNVItemKind::image);
}

TNVModalResult TNVForm::RunModal(TNVWindow parent) {
  if (FSkip) {
    FModalResult = TNVModalResult::nvmSkip;
    return FModalResult;
  }
  FModalResult = TNVModalResult::nvmInvalid;
  if (!FPlatform)
    return FModalResult;
  std::shared_ptr<TNVForm> keep = weak_from_this().lock(); // alive while its window runs
  FPlatform->RunForm(*this, parent);
  return FModalResult;
}

// --- building ----------------------------------------------------------------------------------

void TNVForm::CreateMainButtons() {
  Append(std::make_shared<TNVButton>(this, "ContinueBtn", "Next >"));
  Append(std::make_shared<TNVButton>(this, "SkipBtn", "Skip"));
  Append(std::make_shared<TNVButton>(this, "CancelBtn", "Cancel"));
}

void TNVForm::Append(std::shared_ptr<TNVItem> item) {
  item->FParent = this;
  item->FIndex = int32_t(FItems.size());
  FItems.push_back(std::move(item));
}

// --- events ------------------------------------------------------------------------------------

void TNVForm::RaiseEvent(TNVAction action, INVItem *item) {
  std::shared_ptr<TNVForm> keep = weak_from_this().lock();
  if (TNVActionHandler handler = FOnAction) {
    try {
      handler(*this, action, item, FException.get());
    } catch (...) {
    }
  }
  if (!FParent)
    return;
  if (TNVActionHandler handler = FParent->FOnAction) {
    std::shared_ptr<IKXException> exception = FParent->FException;
    try {
      handler(*this, action, item, exception.get());
    } catch (...) {
    }
  }
}

void TNVForm::ReevaluateContinue() {
  if (FItems.empty())
    return;
  bool refuses = false;
  for (size_t i = 3; i < FItems.size() && !refuses; ++i)
    if (FItems[i]->Kind() == TNVItemKind::edit)
      refuses = static_cast<TNVEdit &>(*FItems[i]).Refuses();
  FItems[0]->SetForceDisabled(refuses);
}

void TNVForm::ItemClicked(TNVItem &item) {
  std::shared_ptr<TNVForm> keep = weak_from_this().lock();
  std::shared_ptr<TNVItem> hold = FItems.at(size_t(item.FIndex));
  const bool mainButton = item.FIndex <= 2;
  if (mainButton && !item.EffectivelyEnabled())
    return; // a command that reached a disabled button changes nothing
  if (item.Kind() == TNVItemKind::checkBox) {
    auto &box = static_cast<TNVCheckBox &>(item);
    box.SetChecked(!box.FChecked);
  }
  RaiseEvent(TNVAction::nvaItemEvent, &item);
  if (!mainButton)
    return;
  if (FView)
    FView->StopTimer();
  FModalResult = item.FIndex == 0   ? TNVModalResult::nvmOk
                 : item.FIndex == 1 ? TNVModalResult::nvmSkip
                                    : TNVModalResult::nvmCancel;
  if (FModalResult == TNVModalResult::nvmOk)
    for (const std::shared_ptr<TNVItem> &each : FItems)
      if (each->Kind() == TNVItemKind::edit)
        static_cast<TNVEdit &>(*each).KeepText();
  RaiseEvent(TNVAction::nvaFormClose, nullptr);
  if (FView)
    FView->DestroyForm();
}

void TNVForm::EditChanged(TNVEdit &edit) {
  RaiseEvent(TNVAction::nvaItemEvent, &edit);
  ReevaluateContinue();
}

void TNVForm::CloseRequested() {
  if (FView)
    FView->StopTimer();
  FModalResult = TNVModalResult::nvmCancel;
  RaiseEvent(TNVAction::nvaFormClose, nullptr);
}

bool TNVForm::Showing() {
  RaiseEvent(TNVAction::nvaFormShow, nullptr);
  if (!FSkip)
    return true;
  FModalResult = TNVModalResult::nvmSkip;
  return false;
}

// --- keys and focus ----------------------------------------------------------------------------

bool TNVForm::CanFocus(const TNVItem &item) {
  if (!item.FEnabled || !item.FTabStop)
    return false;
  if (item.Kind() == TNVItemKind::button && static_cast<const TNVButton &>(item).FInvisible)
    return false;
  if (FView && item.FHandle)
    return FView->ItemEnabled(item.FHandle);
  return item.EffectivelyEnabled();
}

TNVItem *TNVForm::NextFocusable(const TNVItem &from, bool backwards) {
  const size_t n = FItems.size();
  if (n == 0)
    return nullptr;
  size_t at = size_t(from.FIndex) % n;
  for (size_t step = 1; step < n; ++step) {
    at = backwards ? (at + n - 1) % n : (at + 1) % n;
    if (CanFocus(*FItems[at]))
      return FItems[at].get();
  }
  return nullptr;
}

TNVItem *TNVForm::InitialFocus() {
  if (!FActiveControl.empty())
    for (const std::shared_ptr<TNVItem> &item : FItems)
      if (item->FName == FActiveControl) {
        if (CanFocus(*item))
          return item.get();
        break;
      }
  if (FItems.size() < 3)
    return nullptr;
  return NextFocusable(*FItems[2], false);
}

bool TNVForm::KeyPressed(TNVKey key, bool shift, TNVItem *focused) {
  switch (key) {
  case TNVKey::escape: {
    if (FItems.size() < 3)
      return false;
    TNVItem &cancel = *FItems[2];
    const bool enabled = FView && cancel.FHandle ? FView->ItemEnabled(cancel.FHandle) : cancel.EffectivelyEnabled();
    if (!enabled)
      return false;
    FModalResult = TNVModalResult::nvmCancel;
    if (FView)
      FView->CloseRequest();
    return true;
  }
  case TNVKey::tab: {
    TNVItem *next = focused ? NextFocusable(*focused, shift) : InitialFocus();
    if (next)
      next->Focus();
    return true;
  }
  case TNVKey::enter: {
    if (!focused)
      return false;
    if (focused->Kind() == TNVItemKind::button) {
      ItemClicked(*focused);
      return true;
    }
    if (focused->Kind() == TNVItemKind::edit && static_cast<TNVEdit &>(*focused).FLines > 1)
      return false; // a line break
    if (TNVItem *next = NextFocusable(*focused, false))
      next->Focus();
    return true;
  }
  }
  return false;
}

TNVItem *TNVForm::ItemOfWindow(TNVWindow window) {
  if (!window)
    return nullptr;
  for (const std::shared_ptr<TNVItem> &item : FItems)
    if (item->FHandle == window)
      return item.get();
  return nullptr;
}

TNVImage *TNVForm::ClickableImageAt(int32_t x, int32_t y) {
  for (const std::shared_ptr<TNVItem> &item : FItems)
    if (item->Kind() == TNVItemKind::image) {
      auto &image = static_cast<TNVImage &>(*item);
      if (image.TakesClicks() && image.FRect.Contains(x, y))
        return &image;
    }
  return nullptr;
}

void TNVForm::WindowGone() {
  for (const std::shared_ptr<TNVItem> &item : FItems)
    item->FHandle = 0;
  Handle = 0;
  FCap = nullptr;
  LastFocus = 0;
  FView = nullptr;
}

} // namespace kx
