#pragma once
// The item objects of a form: TNVItem and its kinds. The form and its window reach the fields
// directly; everybody else uses the INV... interfaces.
#include <memory>
#include <string>

#include "crash/ui/assistant/NVAssistant.h"

namespace kx {

class TNVForm;

struct TNVRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool Contains(int32_t x, int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
  TNVRect Inflated(int32_t by) const { return {left - by, top - by, right + by, bottom + by}; }
  bool operator==(const TNVRect &) const = default;
};

enum class TNVItemKind { button, label, edit, checkBox, image };

// "yes" or "true" in any letter case, or "1".
bool NVBoolean(const std::string &text);
// Whether part occurs in text, letter case ignored.
bool ContainsText(const std::string &text, const std::string &part);
// The integer of a text; 0 when it is none.
int32_t NVInteger(const std::string &text);

class TNVItem : public virtual INVItemEx {
public:
  TNVItem(TNVForm *parent, std::string name, TNVItemKind kind);
  ~TNVItem() override = default;
  TNVItem(const TNVItem &) = delete;
  TNVItem &operator=(const TNVItem &) = delete;

  // INVItem
  std::string GetName() override { return FName; }
  TNVWindow GetHandle() override { return FHandle; }
  bool GetTabStop() override { return FTabStop; }
  int32_t GetSpacing() override { return FSpacing; }
  bool GetEnabled() override { return FEnabled; }
  void SetEnabled(bool value) override;
  void Focus() override;
  TNVItem &Self() override { return *this; }

  TNVItemKind Kind() const { return FKind; }
  // Enabled by itself and not force-disabled.
  bool EffectivelyEnabled() const { return FEnabled && !FForceDisabled; }
  void SetForceDisabled(bool value);
  // The text the item shows: its caption, or its name when the caption is empty ("" for items
  // without a caption).
  virtual std::string ShownCaption() { return std::string(); }
  // Applies a property of the definition stream.
  virtual void SetProperty(const std::string &name, const std::string &value);

  TNVForm *FParent;     // cleared when the form goes
  std::string FName;
  TNVWindow FHandle = 0; // none for images
  bool FTabStop;
  bool FEnabled = true;
  bool FForceDisabled = false;
  int32_t FSpacing = 0;
  int32_t FIndex = 0; // position in the form; the ring of items runs in this order
  TNVRect FRect;      // in form client coordinates
  TOutputType FOutputType = TOutputType::otHeader;
  std::string FOutputName;

protected:
  void Repaint();

private:
  TNVItemKind FKind;
};

class TNVButton final : public TNVItem, public INVButton {
public:
  TNVButton(TNVForm *parent, std::string name, std::string caption = {});
  std::string GetCaption() override { return ShownCaption(); }
  void SetCaption(const std::string &value) override;
  int32_t GetMinWidth() override { return FMinWidth; }
  std::string ShownCaption() override { return FCaption.empty() ? FName : FCaption; }
  void SetProperty(const std::string &name, const std::string &value) override;

  int32_t FMinWidth = 0;
  std::string FCaption;
  bool FNoOwnerDraw = false;
  bool FInvisible = false;
};

class TNVLabel final : public TNVItem, public INVLabel {
public:
  TNVLabel(TNVForm *parent, std::string name);
  std::string GetCaption() override { return ShownCaption(); }
  void SetCaption(const std::string &value) override;
  std::string ShownCaption() override { return FCaption.empty() ? FName : FCaption; }
  void SetProperty(const std::string &name, const std::string &value) override;

  std::string FCaption;
};

class TNVEdit final : public TNVItem, public INVEdit {
public:
  TNVEdit(TNVForm *parent, std::string name);
  int32_t GetLines() override { return FLines; }
  bool GetOptional() override { return FOptional; }
  std::string GetText() override;
  void SetText(const std::string &value) override;
  bool GetColored() override { return !FNColored; }
  void SetColored(bool value) override;
  bool GetValid() override { return !FNValid; }
  void SetValid(bool value) override;
  TOutputType GetOutputType() override { return FOutputType; }
  void SetOutputType(TOutputType value) override;
  std::string GetOutputName() override { return FOutputName; }
  void SetOutputName(const std::string &value) override { FOutputName = value; }
  void SetProperty(const std::string &name, const std::string &value) override;

  // Takes the window's text into FText and forgets the window (the form ended with Continue).
  void KeepText();
  // Whether the edit keeps the form's Continue button disabled.
  bool Refuses();

  int32_t FLines = 1;
  bool FOptional = false;
  std::string FText;
  bool FNColored = false;
  bool FNValid = false;
};

class TNVCheckBox final : public TNVItem, public INVCheckBox {
public:
  TNVCheckBox(TNVForm *parent, std::string name);
  std::string GetCaption() override { return ShownCaption(); }
  void SetCaption(const std::string &value) override;
  bool GetChecked() override { return FChecked; }
  void SetChecked(bool value) override;
  std::string GetOutputName() override { return FOutputName; }
  void SetOutputName(const std::string &value) override { FOutputName = value; }
  std::string ShownCaption() override { return FCaption.empty() ? FName : FCaption; }
  void SetProperty(const std::string &name, const std::string &value) override;

  std::string FCaption;
  bool FChecked = false;
};

class TNVImage final : public TNVItem, public INVImage {
public:
  TNVImage(TNVForm *parent, std::string name);
  std::string GetFile() override { return FFile; }
  std::shared_ptr<INVBitmap> GetBitmap() override { return FBitmap; }
  void SetBitmap(std::shared_ptr<INVBitmap> value) override;
  bool GetClickable() override { return FClickable; }
  bool GetBorder() override { return FBorder; }
  int32_t GetWidth() override { return FRect.Width(); }
  int32_t GetHeight() override { return FRect.Height(); }
  void SetProperty(const std::string &name, const std::string &value) override;

  // The room around the picture: 3 on each side when clickable, 1 more with a border.
  int32_t Extras() const { return (FClickable ? 6 : 0) + (FBorder ? 2 : 0); }
  // The area the picture is drawn into.
  TNVRect InnerRect() const { return FRect.Inflated(-Extras() / 2); }
  // Reacts to a click: has a picture and is clickable.
  bool TakesClicks() const { return FClickable && FBitmap != nullptr; }

  std::string FFile;
  std::shared_ptr<INVBitmap> FBitmap;
  bool FClickable = false;
  bool FBorder = false;
  // The size the definition asks for (0: the picture's); FRect gets the size the layout gives.
  int32_t FWidthWanted = 0, FHeightWanted = 0;
};

} // namespace kx
