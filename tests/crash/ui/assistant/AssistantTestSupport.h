#pragma once
// Stand-ins for the assistant's tests: a platform whose "user" acts on a shown form through the
// form's protocol, a view over fake windows, a text measure with fixed metrics, pictures that are
// only a size, a contact store in memory, and streams written in a few lines.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crash/ui/assistant/AssistantBitmaps.h"
#include "crash/ui/assistant/ContactForm.h"
#include "crash/ui/assistant/FormLayout.h"
#include "crash/ui/assistant/FormStream.h"
#include "crash/ui/assistant/NVAssistantObject.h"

namespace kx::test {

// Windows of a shown form: handle 1000 + item index; texts, enabled states and the focus.
class FakeView : public INVFormView {
public:
  TNVForm *form = nullptr;
  std::map<TNVWindow, std::string> texts;
  std::map<TNVWindow, bool> enabled;
  TNVWindow focused = 0;
  bool selectedAll = false;
  int repaints = 0, areaRepaints = 0, closeRequests = 0;
  bool timerStopped = false, destroyed = false;

  // Gives the form's items their windows, as the platform does when it shows the form.
  void Attach(TNVForm &shown);
  // The user types into an edit: the window's text changes and the form hears of it.
  void Type(const std::string &editName, const std::string &text);
  TNVItem *Focused() { return form ? form->ItemOfWindow(focused) : nullptr; }
  std::string FocusedName() { return Focused() ? Focused()->FName : std::string(); }

  std::string ItemText(TNVWindow window) override { return texts[window]; }
  void SetItemText(TNVWindow window, const std::string &text) override;
  void EnableItem(TNVWindow window, bool enable) override { enabled[window] = enable; }
  bool ItemEnabled(TNVWindow window) override;
  void FocusItem(TNVWindow window, bool selectAll) override {
    focused = window;
    selectedAll = selectAll;
  }
  void RepaintItem(TNVWindow) override { ++repaints; }
  void RepaintArea(const TNVRect &) override { ++areaRepaints; }
  void StopTimer() override { timerStopped = true; }
  // The close request goes through the form's close handling, then the window is gone.
  void CloseRequest() override;
  void DestroyForm() override { destroyed = true; }
};

// The platform: RunForm shows the form on a FakeView (windows, Continue re-evaluated, focus,
// nvaFormShow) and lets "user" act; a user that leaves the form open counts as the quit message.
class FakeFormPlatform : public INVFormPlatform {
public:
  std::function<void(TNVForm &, FakeView &)> user;
  std::vector<std::string> shown;                              // forms whose window was shown
  std::vector<std::pair<std::string, std::string>> messages;   // caption, text
  std::map<TNVWindow, bool> windows;                           // enabled state of outside windows
  std::vector<std::pair<TNVWindow, bool>> enableCalls;
  std::map<std::string, TNVActionHandler> handlers;            // "unit|symbol"
  FakeView lastView;

  TNVModalResult RunForm(TNVForm &form, TNVWindow parent) override;
  bool ParentEnabled(TNVWindow window) override { return windows.count(window) ? windows[window] : true; }
  void EnableParent(TNVWindow window, bool enable) override {
    windows[window] = enable;
    enableCalls.emplace_back(window, enable);
  }
  void ShowMessage(const std::string &caption, const std::string &text) override { messages.emplace_back(caption, text); }
  TNVActionHandler FindHandler(const std::string &unit, const std::string &symbol) override {
    auto it = handlers.find(unit + "|" + symbol);
    return it == handlers.end() ? nullptr : it->second;
  }
};

// Clicks the named item of a shown form.
void Click(TNVForm &form, const std::string &name);
TNVItem &ItemNamed(TNVForm &form, const std::string &name);

// Text 6 pixels a character in the items' font (13 high), 8 in the button font and 9 in the
// heading font (17 high); wrapping breaks by characters; check mark 13 x 13; screen 768 high.
class FakeMeasure : public INVFormMeasure {
public:
  int32_t screenHeight = 768;
  TNVSize TextSize(TNVFont font, const std::string &text) override;
  TNVSize WrappedTextSize(TNVFont font, const std::string &text, int32_t width) override;
  TNVSize CheckMarkSize() override { return {13, 13}; }
  int32_t ScreenHeight() override { return screenHeight; }
};

// Pictures that are only a size. Zoom scales to fit as the screenshot module does; LoadFile knows
// the files in "files".
class FakeBitmaps : public IKXAssistantBitmaps {
public:
  std::map<std::string, std::pair<int32_t, int32_t>> files;
  std::vector<std::string> loads;
  int zooms = 0;
  static std::shared_ptr<INVBitmap> Make(int32_t width, int32_t height);
  int32_t Width(INVBitmap &bitmap) override;
  int32_t Height(INVBitmap &bitmap) override;
  std::shared_ptr<INVBitmap> Zoom(INVBitmap &bitmap, int32_t maxWidth, int32_t maxHeight) override;
  std::shared_ptr<INVBitmap> LoadFile(const std::string &file) override;
  void Draw(INVBitmap &, std::uintptr_t, int32_t, int32_t) override {}
};

// Installs FakeBitmaps for the lifetime of the object.
class BitmapsScope {
public:
  BitmapsScope() : bitmaps(std::make_shared<FakeBitmaps>()) { SetAssistantBitmaps(bitmaps); }
  ~BitmapsScope() { SetAssistantBitmaps(nullptr); }
  std::shared_ptr<FakeBitmaps> bitmaps;
};

class MemoryContactStore : public IKXContactStore {
public:
  std::string name, email;
  int writes = 0, forgets = 0;
  void Read(std::string &n, std::string &e) override {
    n = name;
    e = email;
  }
  void Write(const std::string &n, const std::string &e) override {
    name = n;
    email = e;
    ++writes;
  }
  void Forget() override {
    name.clear();
    email.clear();
    ++forgets;
  }
};

// Installs a MemoryContactStore for the lifetime of the object.
class ContactStoreScope {
public:
  ContactStoreScope() : store(std::make_shared<MemoryContactStore>()) { SetContactStore(store); }
  ~ContactStoreScope() { SetContactStore(nullptr); }
  std::shared_ptr<MemoryContactStore> store;
};

// A stream in a few lines: Form("Name", "TKXForm").Prop(...).Child("TNVEdit", "E", {...}).End().
class FormBuilder {
public:
  using Props = std::vector<std::pair<std::string, std::string>>; // texts; "#n" integers, "?b" booleans
  FormBuilder(const std::string &name, const std::string &className = "TKXTestForm", const Props &props = {});
  FormBuilder &Child(const std::string &className, const std::string &name, const Props &props = {});
  std::string End();

private:
  void Write(const Props &props);
  TNVStreamWriter FWriter;
};

// The program's definition stream of a form ("ContactForm", ...), as the build wrote it; empty
// when the test was built without them.
std::string ProgramFormStream(const std::string &form);

} // namespace kx::test
