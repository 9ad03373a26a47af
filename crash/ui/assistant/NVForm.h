#pragma once
// TNVForm: one form of an assistant, its items and the event protocol of a shown form (how
// clicks, text changes, keys and close requests end it and which events they raise). The window
// itself is the platform's (win32/FormWindow): the form talks to it through INVFormView while
// it is shown, so the protocol runs the same with a stand-in view.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crash/ui/assistant/NVItems.h"

namespace kx {

class TNVAssistant;

// The shown form's windows, as the protocol uses them. Handles are those of the items.
class INVFormView {
public:
  virtual ~INVFormView() = default;
  virtual std::string ItemText(TNVWindow window) = 0;
  virtual void SetItemText(TNVWindow window, const std::string &text) = 0;
  virtual void EnableItem(TNVWindow window, bool enable) = 0;
  virtual bool ItemEnabled(TNVWindow window) = 0;
  virtual void FocusItem(TNVWindow window, bool selectAll) = 0;
  // Redraws an item's own window (a check box after its state changed).
  virtual void RepaintItem(TNVWindow window) = 0;
  // Repaints part of the form's client area (edit frames, images).
  virtual void RepaintArea(const TNVRect &area) = 0;
  virtual void StopTimer() = 0;
  // Asks the form's window to close, as its close box does.
  virtual void CloseRequest() = 0;
  virtual void DestroyForm() = 0;
};

// What forms and assistants need from the platform.
class INVFormPlatform {
public:
  virtual ~INVFormPlatform() = default;
  // Creates, lays out and shows the form's window over the parent and runs its message loop
  // until the form ends; returns the form's modal result.
  virtual TNVModalResult RunForm(TNVForm &form, TNVWindow parent) = 0;
  virtual bool ParentEnabled(TNVWindow window) = 0;
  virtual void EnableParent(TNVWindow window, bool enable) = 0;
  virtual void ShowMessage(const std::string &caption, const std::string &text) = 0;
  // The handler a definition names as unit and symbol, looked up in the program's own debug
  // information; null when it is not there.
  virtual TNVActionHandler FindHandler(const std::string &unit, const std::string &symbol) = 0;
};

// Keys the form's message loop filters before anything else sees them.
enum class TNVKey { escape, tab, enter };

class TNVForm final : public INVForm, public std::enable_shared_from_this<TNVForm> {
public:
  TNVForm(TNVAssistant *parent, INVFormPlatform *platform);
  ~TNVForm() override;
  TNVForm(const TNVForm &) = delete;
  TNVForm &operator=(const TNVForm &) = delete;

  // INVForm
  std::shared_ptr<INVAssistant> GetAssistant() override;
  std::string GetName() override { return FName; }
  std::string GetTitle() override { return FTitle; }
  void SetTitle(const std::string &value) override { FTitle = value; }
  std::string GetMessageText() override { return FMessage; }
  void SetMessageText(const std::string &value) override { FMessage = value; }
  int32_t GetItemCount() override { return int32_t(FItems.size()); }
  std::shared_ptr<INVItem> GetItems(int32_t index) override;
  std::shared_ptr<INVButton> GetContinueButton() override { return Button(0); }
  std::shared_ptr<INVButton> GetSkipButton() override { return Button(1); }
  std::shared_ptr<INVButton> GetCancelButton() override { return Button(2); }
  std::string GetActiveControl() override { return FActiveControl; }
  void SetActiveControl(const std::string &value) override { FActiveControl = value; }
  uint32_t GetTimer() override { return FTimer; }
  TNVWindow GetHandle() override { return Handle; }
  TNVModalResult GetModalResult() override { return FModalResult; }
  TNVActionHandler GetOnAction() override { return FOnAction; }
  void SetOnAction(TNVActionHandler value) override { FOnAction = value; }
  std::shared_ptr<INVEdit> EditNamed(const std::string &name) override;
  std::shared_ptr<INVLabel> LabelNamed(const std::string &name) override;
  std::shared_ptr<INVButton> ButtonNamed(const std::string &name) override;
  std::shared_ptr<INVCheckBox> CheckBoxNamed(const std::string &name) override;
  std::shared_ptr<INVImage> ImageNamed(const std::string &name) override;
  void Skip() override { FSkip = true; }
  TNVModalResult RunModal(TNVWindow parent) override;
  std::shared_ptr<IKXException> GetException() override { return FException; }
  void SetException(std::shared_ptr<IKXException> value) override { FException = std::move(value); }
  void *GetData() override { return FData; }
  void SetData(void *value) override { FData = value; }

  // --- building ---
  // Creates the three main buttons (items 0, 1, 2).
  void CreateMainButtons();
  // Appends an item: the next index, linked into the ring of items.
  void Append(std::shared_ptr<TNVItem> item);
  // Reads a definition stream into the form (objects, properties); shows the failure of a bad
  // stream through the platform. Returns the failure text ("" when none).
  std::string Load(std::string_view stream);
  void SetProperty(const std::string &name, const std::string &value);

  // --- the protocol of a shown form ---
  // Calls the form's handler, then the assistant's; the form stays alive during the calls and
  // nothing a handler throws gets out.
  void RaiseEvent(TNVAction action, INVItem *item);
  // Force-disables the Continue button while an item from index 3 on refuses.
  void ReevaluateContinue();
  // A click on an item, or the default-button command while the item has the focus.
  void ItemClicked(TNVItem &item);
  // The text of an edit's window changed.
  void EditChanged(TNVEdit &edit);
  // The window's close request (close box, Alt+F4, Escape): the form ends with nvmCancel.
  void CloseRequested();
  // The window is ready to be shown: raises nvaFormShow. False (and the result nvmSkip) when a
  // handler marked the form to be skipped; the window is then not shown.
  bool Showing();
  // A filtered key with the item that has the focus (null: none of the form's). True when the key
  // was consumed.
  bool KeyPressed(TNVKey key, bool shift, TNVItem *focused);
  // The next item after from (backwards: before it) in ring order that can take the focus, or null.
  TNVItem *NextFocusable(const TNVItem &from, bool backwards);
  // The item that gets the focus when the form is shown: the ActiveControl item when it can take
  // the focus, else the first one after the Cancel button in ring order. Null when none can.
  TNVItem *InitialFocus();
  bool CanFocus(const TNVItem &item);
  // The item whose window this is, or null.
  TNVItem *ItemOfWindow(TNVWindow window);
  // The image under a point of the client area that reacts to clicks, or null.
  TNVImage *ClickableImageAt(int32_t x, int32_t y);
  // Forgets every item window (the form's window is gone).
  void WindowGone();

  INVFormView *View() { return FView; }
  INVFormPlatform *Platform() { return FPlatform; }
  // Installed by the platform for the time the form's window exists.
  void SetView(INVFormView *view) { FView = view; }
  TNVItem &Item(size_t index) { return *FItems[index]; }
  const std::vector<std::shared_ptr<TNVItem>> &ItemList() const { return FItems; }

  TNVAssistant *FParent; // cleared when the assistant goes
  std::string FName;
  std::string FTitle;
  std::string FMessage;
  int32_t FStep = 1, FSteps = 1;
  TNVActionHandler FOnAction = nullptr;
  TNVWindow Handle = 0;
  int32_t FWidth = 0, FHeight = 0;
  int32_t MinWidth = 0;
  TNVWindow LastFocus = 0;
  std::string FActiveControl;
  uint32_t FTimer = 0;
  TNVImage *FCap = nullptr;
  TNVModalResult FModalResult = TNVModalResult::nvmInvalid;
  std::shared_ptr<IKXException> FException;
  void *FData = nullptr;
  bool FSkip = false;
  bool FLaidOut = false; // items have their rectangles (set by the layout, kept afterwards)

private:
  std::shared_ptr<INVButton> Button(size_t index);
  template <class T> std::shared_ptr<T> Named(const std::string &name, TNVItemKind kind);

  std::vector<std::shared_ptr<TNVItem>> FItems;
  INVFormPlatform *FPlatform;
  INVFormView *FView = nullptr;
};

} // namespace kx
