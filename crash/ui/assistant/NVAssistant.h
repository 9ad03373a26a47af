#pragma once
// The assistant forms: an assistant (INVAssistant) is a sequence of small self-drawn forms
// (INVForm) built from form-definition streams. Every form has the Continue, Skip and Cancel
// buttons as its items 0, 1 and 2, then its own labels, edits, check boxes, images and buttons.
// Code reacts to a form through a TNVActionHandler, called for the form's creation, showing and
// closing and for item events.
//
// Objects are reference-counted through std::shared_ptr; an assistant owns its forms, a form owns
// its items. Assistants are made by kx::CreateAssistant (NVAssistantObject.h) or, from the
// program's resources, by kx::LoadAssistant (win32/LoadAssistant.h).
//
// Like INVBitmap (the screenshot), these interfaces live outside namespace kx: the settings and the
// exception object refer to them by these names.
#include <cstdint>
#include <memory>
#include <string>

class INVBitmap; // a picture, made by the screenshot module

namespace kx {
class IKXException;
class TNVItem;
} // namespace kx

enum class TNVModalResult : int32_t { nvmInvalid = 0, nvmOk = 1, nvmSkip = 2, nvmCancel = 3 };
enum class TNVAction : int32_t { nvaFormCreate = 0, nvaFormShow, nvaFormClose, nvaItemEvent };
enum class TOutputType : int32_t { otHeader = 0, otOwnSection };

// A window handle (HWND on Windows); 0 for none.
using TNVWindow = std::uintptr_t;

class INVForm;
class INVItem;
class INVAssistant;

// The event handler of a form or an assistant: the form, the action, the item (or null) and the
// exception object that the form or assistant carries (or null).
using TNVActionHandler = void (*)(INVForm &form, TNVAction action, INVItem *item, kx::IKXException *exception);

class INVItem {
public:
  virtual ~INVItem() = default;
  virtual std::string GetName() = 0;
  virtual TNVWindow GetHandle() = 0;
  virtual bool GetTabStop() = 0;
  virtual int32_t GetSpacing() = 0;
  virtual bool GetEnabled() = 0;
  // Stores the value and enables the item's window unless the item is also force-disabled.
  virtual void SetEnabled(bool value) = 0;
  // Focuses the item's window (an edit also selects all its text).
  virtual void Focus() = 0;
};

// What the form reaches through any of its items: the item object itself.
class INVItemEx : public virtual INVItem {
public:
  virtual kx::TNVItem &Self() = 0;
};

class INVButton : public virtual INVItem {
public:
  // The caption, or the name when the caption is empty.
  virtual std::string GetCaption() = 0;
  virtual void SetCaption(const std::string &value) = 0;
  virtual int32_t GetMinWidth() = 0;
};

class INVLabel : public virtual INVItem {
public:
  virtual std::string GetCaption() = 0;
  virtual void SetCaption(const std::string &value) = 0;
};

class INVEdit : public virtual INVItem {
public:
  virtual int32_t GetLines() = 0;
  virtual bool GetOptional() = 0;
  // The window's text while the window exists, else the stored text.
  virtual std::string GetText() = 0;
  // Stores the text, sets it into the window when it differs and raises nvaItemEvent.
  virtual void SetText(const std::string &value) = 0;
  virtual bool GetColored() = 0;
  virtual void SetColored(bool value) = 0;
  virtual bool GetValid() = 0;
  // Also re-evaluates the form's Continue button.
  virtual void SetValid(bool value) = 0;
  virtual TOutputType GetOutputType() = 0;
  // otOwnSection is taken only by an edit of more than one line.
  virtual void SetOutputType(TOutputType value) = 0;
  virtual std::string GetOutputName() = 0;
  virtual void SetOutputName(const std::string &value) = 0;
};

class INVCheckBox : public virtual INVItem {
public:
  virtual std::string GetCaption() = 0;
  virtual void SetCaption(const std::string &value) = 0;
  virtual bool GetChecked() = 0;
  virtual void SetChecked(bool value) = 0;
  virtual std::string GetOutputName() = 0;
  virtual void SetOutputName(const std::string &value) = 0;
};

class INVImage : public virtual INVItem {
public:
  virtual std::string GetFile() = 0;
  virtual std::shared_ptr<INVBitmap> GetBitmap() = 0;
  // Before the layout the bitmap is kept as it is; afterwards a bitmap larger than the image's
  // inner area is zoomed to fit it, and null clears the picture.
  virtual void SetBitmap(std::shared_ptr<INVBitmap> value) = 0;
  virtual bool GetClickable() = 0;
  virtual bool GetBorder() = 0;
  virtual int32_t GetWidth() = 0;
  virtual int32_t GetHeight() = 0;
};

class INVForm {
public:
  virtual ~INVForm() = default;
  // The owning assistant (null once it is gone).
  virtual std::shared_ptr<INVAssistant> GetAssistant() = 0;
  virtual std::string GetName() = 0;
  virtual std::string GetTitle() = 0;
  virtual void SetTitle(const std::string &value) = 0;
  // The heading (Message); not GetMessage, which the Windows headers take for a macro.
  virtual std::string GetMessageText() = 0;
  virtual void SetMessageText(const std::string &value) = 0;
  virtual int32_t GetItemCount() = 0;
  // Null outside the range.
  virtual std::shared_ptr<INVItem> GetItems(int32_t index) = 0;
  virtual std::shared_ptr<INVButton> GetContinueButton() = 0;
  virtual std::shared_ptr<INVButton> GetSkipButton() = 0;
  virtual std::shared_ptr<INVButton> GetCancelButton() = 0;
  virtual std::string GetActiveControl() = 0;
  virtual void SetActiveControl(const std::string &value) = 0;
  virtual uint32_t GetTimer() = 0;
  virtual TNVWindow GetHandle() = 0;
  virtual TNVModalResult GetModalResult() = 0;
  virtual TNVActionHandler GetOnAction() = 0;
  virtual void SetOnAction(TNVActionHandler value) = 0;
  // The first item of that kind whose name is exactly the given one, or null.
  virtual std::shared_ptr<INVEdit> EditNamed(const std::string &name) = 0;
  virtual std::shared_ptr<INVLabel> LabelNamed(const std::string &name) = 0;
  virtual std::shared_ptr<INVButton> ButtonNamed(const std::string &name) = 0;
  virtual std::shared_ptr<INVCheckBox> CheckBoxNamed(const std::string &name) = 0;
  virtual std::shared_ptr<INVImage> ImageNamed(const std::string &name) = 0;
  // Marks the form to be skipped: RunModal then ends with nvmSkip without showing it.
  virtual void Skip() = 0;
  // Shows the form modally over the parent window (0: none) and returns how it ended.
  virtual TNVModalResult RunModal(TNVWindow parent) = 0;
  virtual std::shared_ptr<kx::IKXException> GetException() = 0;
  virtual void SetException(std::shared_ptr<kx::IKXException> value) = 0;
  virtual void *GetData() = 0;
  virtual void SetData(void *value) = 0;
};

class INVAssistant {
public:
  virtual ~INVAssistant() = default;
  virtual std::string GetTitle() = 0;
  // Also sets the title of every form.
  virtual void SetTitle(const std::string &value) = 0;
  virtual int32_t GetFormCount() = 0;
  // Null outside the range.
  virtual std::shared_ptr<INVForm> GetForms(int32_t index) = 0;
  // The form of that name in any letter case (the last one when several match), or null.
  virtual std::shared_ptr<INVForm> FormNamed(const std::string &name) = 0;
  virtual TNVModalResult GetModalResult() = 0;
  virtual TNVActionHandler GetOnAction() = 0;
  virtual void SetOnAction(TNVActionHandler value) = 0;
  // Runs the forms in order over the parent window (0: none); nvmOk unless one was cancelled.
  virtual TNVModalResult RunModal(TNVWindow parent) = 0;
  virtual std::shared_ptr<kx::IKXException> GetException() = 0;
  virtual void SetException(std::shared_ptr<kx::IKXException> value) = 0;
  virtual void *GetData() = 0;
  virtual void SetData(void *value) = 0;
};
