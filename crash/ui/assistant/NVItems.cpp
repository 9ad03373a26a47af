#include "crash/ui/assistant/NVItems.h"

#include "crash/base/settings/KXText.h"
#include "crash/ui/assistant/AssistantBitmaps.h"
#include "crash/ui/assistant/NVForm.h"
#include "runtime/StrToInt.h"

namespace kx {

bool NVBoolean(const std::string &text) { return SameText(text, "yes") || SameText(text, "true") || text == "1"; }

bool ContainsText(const std::string &text, const std::string &part) {
  if (part.size() > text.size())
    return false;
  for (size_t at = 0; at + part.size() <= text.size(); ++at)
    if (SameText(std::string_view(text).substr(at, part.size()), part))
      return true;
  return false;
}

int32_t NVInteger(const std::string &text) {
  int value = 0;
  return TryStrToInt(text, value) ? int32_t(value) : 0;
}

// --- TNVItem -----------------------------------------------------------------------------------

TNVItem::TNVItem(TNVForm *parent, std::string name, TNVItemKind kind)
    : FParent(parent), FName(std::move(name)),
      FTabStop(kind != TNVItemKind::label && kind != TNVItemKind::image), FKind(kind) {}

void TNVItem::SetEnabled(bool value) {
  FEnabled = value;
  if (FParent && FParent->View() && FHandle)
    FParent->View()->EnableItem(FHandle, EffectivelyEnabled());
}

void TNVItem::SetForceDisabled(bool value) {
  FForceDisabled = value;
  if (FParent && FParent->View() && FHandle)
    FParent->View()->EnableItem(FHandle, EffectivelyEnabled());
}

void TNVItem::Focus() {
  if (FParent && FParent->View() && FHandle)
    FParent->View()->FocusItem(FHandle, FKind == TNVItemKind::edit);
}

void TNVItem::Repaint() {
  if (!FParent || !FParent->View())
    return;
  if (FHandle)
    FParent->View()->RepaintItem(FHandle);
  else
    FParent->View()->RepaintArea(FRect);
}

void TNVItem::SetProperty(const std::string &name, const std::string &value) {
  if (name == "Spacing")
    FSpacing = NVInteger(value);
  else if (name == "Enabled")
    FEnabled = NVBoolean(value);
  else if (name == "OutputType")
    FOutputType = ContainsText(value, "ownSection") ? TOutputType::otOwnSection : TOutputType::otHeader;
  else if (name == "OutputName")
    FOutputName = value;
}

// --- TNVButton ---------------------------------------------------------------------------------

TNVButton::TNVButton(TNVForm *parent, std::string name, std::string caption)
    : TNVItem(parent, std::move(name), TNVItemKind::button), FCaption(std::move(caption)) {}

void TNVButton::SetCaption(const std::string &value) {
  FCaption = value;
  if (FParent && FParent->View() && FHandle)
    FParent->View()->SetItemText(FHandle, ShownCaption());
}

void TNVButton::SetProperty(const std::string &name, const std::string &value) {
  if (name == "MinWidth")
    FMinWidth = NVInteger(value);
  else if (name == "Caption")
    FCaption = value;
  else if (name == "NoOwnerDraw")
    FNoOwnerDraw = NVBoolean(value);
  else if (name == "Visible")
    FInvisible = !NVBoolean(value);
  else
    TNVItem::SetProperty(name, value);
}

// --- TNVLabel ----------------------------------------------------------------------------------

TNVLabel::TNVLabel(TNVForm *parent, std::string name) : TNVItem(parent, std::move(name), TNVItemKind::label) {}

void TNVLabel::SetCaption(const std::string &value) {
  FCaption = value;
  if (FParent && FParent->View() && FHandle)
    FParent->View()->SetItemText(FHandle, ShownCaption());
}

void TNVLabel::SetProperty(const std::string &name, const std::string &value) {
  if (name == "Caption")
    FCaption = value;
  else
    TNVItem::SetProperty(name, value);
}

// --- TNVEdit -----------------------------------------------------------------------------------

TNVEdit::TNVEdit(TNVForm *parent, std::string name) : TNVItem(parent, std::move(name), TNVItemKind::edit) {}

std::string TNVEdit::GetText() {
  if (FHandle && FParent && FParent->View())
    return FParent->View()->ItemText(FHandle);
  return FText;
}

void TNVEdit::SetText(const std::string &value) {
  FText = value;
  if (FHandle && FParent && FParent->View() && FParent->View()->ItemText(FHandle) != value)
    FParent->View()->SetItemText(FHandle, value);
  if (FParent)
    FParent->RaiseEvent(TNVAction::nvaItemEvent, this);
}

void TNVEdit::SetColored(bool value) {
  FNColored = !value;
  Repaint();
}

void TNVEdit::SetValid(bool value) {
  FNValid = !value;
  Repaint();
  if (FParent)
    FParent->ReevaluateContinue();
}

void TNVEdit::SetOutputType(TOutputType value) {
  if (value == TOutputType::otHeader || FLines > 1)
    FOutputType = value;
}

void TNVEdit::SetProperty(const std::string &name, const std::string &value) {
  if (name == "Text") {
    std::string text = value;
    for (size_t at = text.find("%lf%"); at != std::string::npos; at = text.find("%lf%", at + 2))
      text.replace(at, 4, "\r\n");
    FText = text;
  } else if (name == "Lines") {
    FLines = NVInteger(value);
  } else if (name == "Optional") {
    FOptional = NVBoolean(value);
  } else if (name == "Colored") {
    FNColored = !NVBoolean(value);
  } else if (name == "Valid") {
    FNValid = !NVBoolean(value);
  } else {
    TNVItem::SetProperty(name, value);
  }
}

void TNVEdit::KeepText() {
  if (FHandle && FParent && FParent->View())
    FText = FParent->View()->ItemText(FHandle);
  FHandle = 0;
}

bool TNVEdit::Refuses() { return !FOptional && (FNValid || GetText().empty()); }

// --- TNVCheckBox -------------------------------------------------------------------------------

TNVCheckBox::TNVCheckBox(TNVForm *parent, std::string name)
    : TNVItem(parent, std::move(name), TNVItemKind::checkBox) {}

void TNVCheckBox::SetCaption(const std::string &value) {
  FCaption = value;
  Repaint();
}

void TNVCheckBox::SetChecked(bool value) {
  FChecked = value;
  Repaint();
}

void TNVCheckBox::SetProperty(const std::string &name, const std::string &value) {
  if (name == "Caption" || name == "Text")
    FCaption = value;
  else if (name == "Checked")
    FChecked = NVBoolean(value);
  else
    TNVItem::SetProperty(name, value);
}

// --- TNVImage ----------------------------------------------------------------------------------

TNVImage::TNVImage(TNVForm *parent, std::string name) : TNVItem(parent, std::move(name), TNVItemKind::image) {}

void TNVImage::SetBitmap(std::shared_ptr<INVBitmap> value) {
  if (!FParent || !FParent->FLaidOut) {
    FBitmap = std::move(value);
    return;
  }
  const TNVRect inner = InnerRect();
  if (value) {
    if (std::shared_ptr<IKXAssistantBitmaps> bitmaps = AssistantBitmaps()) {
      const int32_t w = bitmaps->Width(*value), h = bitmaps->Height(*value);
      if ((w > inner.Width() || h > inner.Height()) && inner.Width() > 0 && inner.Height() > 0)
        if (std::shared_ptr<INVBitmap> zoomed = bitmaps->Zoom(*value, inner.Width(), inner.Height()))
          value = std::move(zoomed);
    }
  }
  FBitmap = std::move(value);
  if (FParent->View())
    FParent->View()->RepaintArea(FRect);
}

void TNVImage::SetProperty(const std::string &name, const std::string &value) {
  if (name == "Width") {
    FWidthWanted = NVInteger(value);
    FRect.right = FRect.left + FWidthWanted;
  } else if (name == "Height") {
    FHeightWanted = NVInteger(value);
    FRect.bottom = FRect.top + FHeightWanted;
  } else if (name == "File")
    FFile = value;
  else if (name == "Clickable")
    FClickable = NVBoolean(value);
  else if (name == "Border")
    FBorder = NVBoolean(value);
  else
    TNVItem::SetProperty(name, value);
}

} // namespace kx
