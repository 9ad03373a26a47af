// The assistant's forms under Wine: the program's own definitions from the test's resources, run
// on a thread of their own as the exception-handling thread runs them, driven from the test's
// thread through window messages. Every wait is bounded; a failing test closes what is left open.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "crash/ui/assistant/AssistantBitmaps.h"
#include "crash/ui/assistant/AssistantHooks.h"
#include "crash/ui/assistant/ContactForm.h"
#include "crash/ui/assistant/NVAssistantObject.h"
#include "crash/ui/assistant/ScreenshotForm.h"
#include "crash/ui/assistant/win32/ContactStoreRegistry.h"
#include "crash/ui/assistant/win32/FormWindow.h"
#include "crash/ui/assistant/win32/LoadAssistant.h"
#include "crash/ui/assistant/win32/RunExceptionAssistant.h"
#include "runtime/Exception.h"
#include "runtime/win32/WideText.h"
#include "tests/crash/capture/exception/FakeHost.h"

#include "tests/support/TestTime.h"

namespace kx::test {
namespace {

using namespace std::chrono_literals;

using tidewell_test::WaitUntil;

KXModule TestModule() { return KXModule(GetModuleHandleW(nullptr)); }

// The forms shown so far, in order, as the shown hook reports them.
class ShownForms {
public:
  ShownForms() {
    SetFormShownHook([this](TNVForm &form, HWND window) {
      std::lock_guard g(FLock);
      FShown.push_back({form.FName, window});
    });
  }
  ~ShownForms() { SetFormShownHook(nullptr); }

  // The window of the next form shown (waiting for it), or null.
  HWND Next(const std::string &name) {
    HWND found = nullptr;
    WaitUntil([&] {
      std::lock_guard g(FLock);
      if (FTaken >= FShown.size())
        return false;
      EXPECT_EQ(FShown[FTaken].first, name);
      found = FShown[FTaken++].second;
      return true;
    });
    return found;
  }
  size_t Count() {
    std::lock_guard g(FLock);
    return FShown.size();
  }
  std::vector<HWND> Windows() {
    std::lock_guard g(FLock);
    std::vector<HWND> windows;
    for (const auto &entry : FShown)
      windows.push_back(entry.second);
    return windows;
  }

private:
  std::mutex FLock;
  std::vector<std::pair<std::string, HWND>> FShown;
  size_t FTaken = 0;
};

// Runs body on a thread of its own. A test that fails early closes every form still open, so the
// thread always ends.
class FormThread {
public:
  FormThread(ShownForms &shown, std::function<void()> body) : FShown(shown) {
    FThread = std::thread([this, body] {
      FThreadId = GetCurrentThreadId();
      body();
      FDone = true;
    });
  }
  ~FormThread() {
    for (int round = 0; round < 200 && !FDone; ++round) {
      for (HWND window : FShown.Windows())
        if (IsWindow(window))
          PostMessageW(window, WM_CLOSE, 0, 0);
      Sleep(50);
    }
    if (FThread.joinable())
      FThread.join();
  }
  bool WaitDone(std::chrono::milliseconds limit = 10s) {
    return WaitUntil([this] { return FDone.load(); }, limit);
  }
  HWND Focus() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(FThreadId, &info) ? info.hwndFocus : nullptr;
  }

private:
  ShownForms &FShown;
  std::thread FThread;
  std::atomic<DWORD> FThreadId{0};
  std::atomic<bool> FDone{false};
};

HWND ItemWindow(HWND form, int index) { return GetDlgItem(form, kFirstItemId + index); }

// Waits until the form's thread answers a sent message (sent messages go before posted ones:
// what was posted may still wait).
void Sync(HWND form) {
  DWORD_PTR result;
  SendMessageTimeoutW(form, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
}

// A click as the item's window reports it; handled when the call returns.
void Click(HWND form, int index) {
  DWORD_PTR result;
  SendMessageTimeoutW(form, WM_COMMAND, MAKEWPARAM(kFirstItemId + index, BN_CLICKED), LPARAM(ItemWindow(form, index)),
                      SMTO_NORMAL, 5000, &result);
}

// Replaces the edit's text as typing does: a multi-line edit reports no change for WM_SETTEXT.
void Type(HWND form, int index, const std::string &text) {
  DWORD_PTR result;
  HWND edit = ItemWindow(form, index);
  SendMessageTimeoutW(edit, EM_SETSEL, 0, -1, SMTO_NORMAL, 5000, &result);
  SendMessageTimeoutW(edit, EM_REPLACESEL, TRUE, LPARAM(Widen(text).c_str()), SMTO_NORMAL, 5000, &result);
}

void Key(HWND target, WPARAM key) {
  PostMessageW(target, WM_KEYDOWN, key, 1);
  PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

std::string Text(HWND window) { return WindowText(window); }

// Item indices of the program's forms.
enum ContactItems { kContinue = 0, kSkip = 1, kCancel = 2, kNameEdit = 4, kEmailEdit = 6, kMemCheck = 7 };
enum DetailsItems { kDetailsMemo = 4 };
enum ScreenshotItems { kAttachCheck = 3, kScrShotImg = 4 };

// The remembered contact of the test machine, put back when the test ends.
class RememberedContact {
public:
  RememberedContact() {
    TKXRegistryContactStore().Read(FName, FEmail);
    SetContactStore(std::make_shared<TKXRegistryContactStore>());
  }
  ~RememberedContact() {
    if (FName.empty() && FEmail.empty())
      TKXRegistryContactStore().Forget();
    else
      TKXRegistryContactStore().Write(FName, FEmail);
    SetContactStore(nullptr);
  }
  // The values as the registry holds them (nullopt: the value is not there).
  static std::optional<std::wstring> Value(const wchar_t *name) {
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CURRENT_USER, kContactFormKey, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
      return std::nullopt;
    return std::wstring(buffer);
  }

private:
  std::string FName, FEmail;
};

TEST(AssistantWindow, TheContactFormOpensWithTheRememberedContactAndTheFocusOnContinue) {
  RememberedContact remembered;
  TKXRegistryContactStore().Write("Ann Lee", "ann@example.com");
  ShownForms shown;
  auto assistant = LoadAssistant(TestModule(), "Send Assistant", {"ContactForm"}, nullptr);
  ASSERT_EQ(assistant->GetFormCount(), 1);
  std::atomic<int> result{-1};
  FormThread thread(shown, [&] { result = int(assistant->RunModal(0)); });

  HWND form = shown.Next("ContactForm");
  ASSERT_NE(form, nullptr);
  Sync(form);
  wchar_t className[64] = {};
  GetClassNameW(form, className, 64);
  EXPECT_STREQ(className, kAssistantWindowClass);
  EXPECT_EQ(Text(form), "Send Assistant");
  EXPECT_TRUE(IsWindowVisible(form));
  RECT client;
  GetClientRect(form, &client);
  TNVForm &contact = static_cast<TNVAssistant &>(*assistant).Form(0);
  EXPECT_EQ(client.right, contact.FWidth);
  EXPECT_EQ(client.bottom, contact.FHeight);
  EXPECT_EQ(GetWindowLongW(form, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME, WS_EX_DLGMODALFRAME);
  EXPECT_EQ(GetWindowLongW(form, GWL_STYLE) & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);

  EXPECT_EQ(Text(ItemWindow(form, kNameEdit)), "Ann Lee");
  EXPECT_EQ(Text(ItemWindow(form, kEmailEdit)), "ann@example.com");
  EXPECT_EQ(Text(ItemWindow(form, 3)), "your name:");
  EXPECT_EQ(Text(ItemWindow(form, kContinue)), "Continue");
  EXPECT_TRUE(contact.CheckBoxNamed("MemCheck")->GetChecked());
  EXPECT_FALSE(IsWindowEnabled(ItemWindow(form, kSkip)));
  EXPECT_TRUE(IsWindowEnabled(ItemWindow(form, kContinue)));
  EXPECT_EQ(thread.Focus(), ItemWindow(form, kContinue));

  // The keyboard (keys are posted, as typed keys are): Tab goes round to the name, Enter in a
  // one-line edit moves on.
  Key(ItemWindow(form, kContinue), VK_TAB);
  EXPECT_TRUE(WaitUntil([&] { return thread.Focus() == ItemWindow(form, kCancel); }, 5s)) << "the disabled Skip is passed";
  Key(ItemWindow(form, kCancel), VK_TAB);
  EXPECT_TRUE(WaitUntil([&] { return thread.Focus() == ItemWindow(form, kNameEdit); }, 5s));
  Key(ItemWindow(form, kNameEdit), VK_RETURN);
  EXPECT_TRUE(WaitUntil([&] { return thread.Focus() == ItemWindow(form, kEmailEdit); }, 5s));

  Click(form, kContinue);
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(result, int(TNVModalResult::nvmOk));
  EXPECT_EQ(contact.EditNamed("NameEdit")->GetText(), "Ann Lee");
  EXPECT_EQ(RememberedContact::Value(L"RememberName"), L"Ann Lee") << "remembered again";
  EXPECT_EQ(RememberedContact::Value(L"RememberEmail"), L"ann@example.com");
}

TEST(AssistantWindow, CompletingWithRememberMeUncheckedDeletesTheRememberedValues) {
  RememberedContact remembered;
  TKXRegistryContactStore().Write("Ann Lee", "ann@example.com");
  ShownForms shown;
  auto assistant = LoadAssistant(TestModule(), "Save Assistant", {"ContactForm"}, nullptr);
  std::atomic<int> result{-1};
  FormThread thread(shown, [&] { result = int(assistant->RunModal(0)); });
  HWND form = shown.Next("ContactForm");
  ASSERT_NE(form, nullptr);
  Click(form, kMemCheck);
  EXPECT_FALSE(static_cast<TNVAssistant &>(*assistant).Form(0).CheckBoxNamed("MemCheck")->GetChecked());
  Click(form, kContinue);
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(result, int(TNVModalResult::nvmOk));
  EXPECT_EQ(RememberedContact::Value(L"RememberName"), std::nullopt);
  EXPECT_EQ(RememberedContact::Value(L"RememberEmail"), std::nullopt);
}

TEST(AssistantWindow, TheAddressIsCheckedAsItIsTypedAndEscapeCancels) {
  RememberedContact remembered;
  TKXRegistryContactStore().Forget();
  ShownForms shown;
  auto assistant = LoadAssistant(TestModule(), "Send Assistant", {"ContactForm", "DetailsForm"}, nullptr);
  std::atomic<int> result{-1};
  FormThread thread(shown, [&] { result = int(assistant->RunModal(0)); });
  HWND form = shown.Next("ContactForm");
  ASSERT_NE(form, nullptr);
  Sync(form);
  EXPECT_FALSE(IsWindowEnabled(ItemWindow(form, kContinue))) << "the address is required";
  EXPECT_EQ(thread.Focus(), ItemWindow(form, kNameEdit));
  Type(form, kEmailEdit, "ann@example");
  EXPECT_FALSE(IsWindowEnabled(ItemWindow(form, kContinue)));
  Type(form, kEmailEdit, "ann@example.com");
  EXPECT_TRUE(IsWindowEnabled(ItemWindow(form, kContinue)));
  Type(form, kEmailEdit, "");
  EXPECT_FALSE(IsWindowEnabled(ItemWindow(form, kContinue)));
  Key(ItemWindow(form, kNameEdit), VK_ESCAPE);
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(result, int(TNVModalResult::nvmCancel));
  EXPECT_EQ(shown.Count(), 1u) << "the details form is never shown";
  EXPECT_EQ(RememberedContact::Value(L"RememberEmail"), std::nullopt);
}

// An exception host whose assistants run for real, as the program's host runs them.
class AssistantHost : public FakeHost {
public:
  using FakeHost::FakeHost;
  bool RunAssistant(IKXException &exception, const std::string &name, KXWindow parent, bool &ok) override {
    calls.push_back("assistant " + name);
    return RunExceptionAssistant(exception, name, parent, ok);
  }
};

class ExceptionAssistant : public ::testing::Test {
protected:
  FakePlatform platform;
  std::shared_ptr<KXSettingsContext> context;
  std::unique_ptr<AssistantHost> host;
  EConvertError error{"'x' is not a valid integer value"};
  std::shared_ptr<TIKXException> exception;
  RememberedContact remembered;
  ShownForms shown;

  void SetUp() override {
    TKXRegistryContactStore().Forget();
    platform.streams[kExe] =
        StreamBuilder()
            .Int("ScrShotDepth", 0)
            .Text("SendAssis", "SendAssistant")
            .Text("Assistant1", "SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm")
            .End();
    context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
    // The definitions are this test's resources (the stand-in module kExe is no module here).
    context->SetAssistantHooks(MakeAssistantHooks(
        [](KXModule, const std::string &title, const std::vector<std::string> &forms, std::shared_ptr<IKXException> e) {
          return LoadAssistant(TestModule(), title, forms, std::move(e));
        }));
    host = std::make_unique<AssistantHost>(CreateModuleSettings(context, kExe));
    SetExceptionHost(host.get());
    KXCaughtException caught;
    caught.exceptObject = KXExceptObject::Of(error);
    caught.exceptAddr = 0x401234;
    exception = CreateExceptionObject(caught);
    exception->GetBugReport(false);
    FieldsEx(*exception->GetBugReportSections()).AcceptData();
  }
  void TearDown() override { SetExceptionHost(nullptr); }

  // Sends the report from the crash dialog's stand-in, a window of the sending thread.
  std::function<void()> SendFromWindow() {
    return [this] {
      HWND dialog = CreateWindowExW(0, L"STATIC", L"dialog", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                    nullptr, nullptr, nullptr);
      exception->SendBugReport(KXWindow(dialog));
      dialogEnabledAfter = IsWindowEnabled(dialog);
      DestroyWindow(dialog);
    };
  }
  std::atomic<bool> dialogEnabledAfter{false};
};

TEST_F(ExceptionAssistant, TheSendAssistantPutsTheDetailsIntoTheReportAndAnEmptyNameSetsNoSender) {
  FormThread thread(shown, SendFromWindow());
  HWND contact = shown.Next("ContactForm");
  ASSERT_NE(contact, nullptr);
  EXPECT_FALSE(IsWindowEnabled(GetWindow(contact, GW_OWNER))) << "the dialog waits for the assistant";
  Type(contact, kEmailEdit, "ann@example.com");
  Click(contact, kContinue);
  HWND details = shown.Next("DetailsForm");
  ASSERT_NE(details, nullptr);
  Sync(details);
  EXPECT_FALSE(IsWindowEnabled(ItemWindow(details, kContinue)));
  EXPECT_TRUE(GetWindowLongW(ItemWindow(details, kDetailsMemo), GWL_STYLE) & ES_MULTILINE);
  Type(details, kDetailsMemo, "Clicked Set\r\nwhile reading");
  EXPECT_TRUE(IsWindowEnabled(ItemWindow(details, kContinue)));
  EXPECT_EQ(thread.Focus(), ItemWindow(details, kDetailsMemo));
  DWORD_PTR ignored;
  SendMessageTimeoutW(ItemWindow(details, kDetailsMemo), EM_SETSEL, 26, 26, SMTO_NORMAL, 5000, &ignored);
  Key(ItemWindow(details, kDetailsMemo), VK_RETURN); // a line break at the end, not the next item
  EXPECT_TRUE(WaitUntil([&] { return Text(ItemWindow(details, kDetailsMemo)).size() == 26 + 2; }, 5s));
  EXPECT_EQ(thread.Focus(), ItemWindow(details, kDetailsMemo));
  Click(details, kContinue);
  ASSERT_TRUE(thread.WaitDone());

  EXPECT_EQ(shown.Count(), 2u) << "no screenshot is taken: no screenshot form";
  EXPECT_TRUE(dialogEnabledAfter);
  EXPECT_EQ(host->sends.size(), 1u);
  EXPECT_EQ(exception->GetMailFrom(), "") << "an empty name sets no sender";
  EXPECT_EQ(exception->GetBugReportHeader()->GetContent("contact email"), "ann@example.com");
  EXPECT_EQ(exception->GetBugReportHeader()->FindItem("contact name"), -1);
  const std::string details_ = exception->GetBugReportSections()->GetContent("error details");
  EXPECT_EQ(details_.substr(0, 11), "Clicked Set");
  EXPECT_NE(details_.find("while reading"), std::string::npos);
  ASSERT_TRUE(exception->FormCache());
  EXPECT_EQ(exception->FormCache()->GetContent("EmailEdit"), "ann@example.com");
}

TEST_F(ExceptionAssistant, CancellingAbandonsTheSendAndSkippingTheDetailsAddsNothing) {
  {
    FormThread thread(shown, SendFromWindow());
    HWND contact = shown.Next("ContactForm");
    ASSERT_NE(contact, nullptr);
    Type(contact, kNameEdit, "Ann");
    Type(contact, kEmailEdit, "ann@example.com");
    Click(contact, kContinue);
    HWND details = shown.Next("DetailsForm");
    ASSERT_NE(details, nullptr);
    Click(details, kCancel);
    ASSERT_TRUE(thread.WaitDone());
  }
  EXPECT_TRUE(host->sends.empty()) << "cancelled: nothing is sent";
  EXPECT_EQ(exception->GetBugReportHeader()->FindItem("contact name"), -1);
  EXPECT_EQ(exception->GetMailFrom(), "Ann <ann@example.com>") << "the contact form itself was completed";
  EXPECT_TRUE(dialogEnabledAfter);

  {
    FormThread thread(shown, SendFromWindow());
    HWND contact = shown.Next("ContactForm");
    ASSERT_NE(contact, nullptr);
    Sync(contact);
    EXPECT_EQ(Text(ItemWindow(contact, kNameEdit)), "Ann") << "the cached values of the completed form";
    EXPECT_EQ(thread.Focus(), ItemWindow(contact, kContinue));
    Click(contact, kContinue);
    HWND details = shown.Next("DetailsForm");
    ASSERT_NE(details, nullptr);
    Type(details, kDetailsMemo, "typed but skipped");
    Click(details, kSkip);
    ASSERT_TRUE(thread.WaitDone());
  }
  EXPECT_EQ(host->sends.size(), 1u);
  EXPECT_EQ(exception->GetBugReportHeader()->GetContent("contact name"), "Ann");
  EXPECT_EQ(exception->GetBugReportSections()->FindItem("error details"), -1) << "a skipped form adds nothing";
}

// Pictures for the screenshot form: a size and a colour, drawn as a filled rectangle.
class SolidBitmaps : public IKXAssistantBitmaps {
public:
  struct Picture {
    int32_t width, height;
  };
  static std::shared_ptr<INVBitmap> Make(int32_t width, int32_t height) {
    return std::shared_ptr<INVBitmap>(reinterpret_cast<INVBitmap *>(new Picture{width, height}),
                                      [](INVBitmap *p) { delete reinterpret_cast<Picture *>(p); });
  }
  static Picture &Of(INVBitmap &bitmap) { return *reinterpret_cast<Picture *>(&bitmap); }
  int32_t Width(INVBitmap &bitmap) override { return Of(bitmap).width; }
  int32_t Height(INVBitmap &bitmap) override { return Of(bitmap).height; }
  std::shared_ptr<INVBitmap> Zoom(INVBitmap &bitmap, int32_t maxWidth, int32_t maxHeight) override {
    const int64_t w = Of(bitmap).width, h = Of(bitmap).height;
    const int64_t fitted = maxWidth * h / w;
    return fitted <= maxHeight ? Make(maxWidth, int32_t(fitted)) : Make(int32_t(maxHeight * w / h), maxHeight);
  }
  std::shared_ptr<INVBitmap> LoadFile(const std::string &) override { return nullptr; }
  void Draw(INVBitmap &bitmap, std::uintptr_t dc, int32_t x, int32_t y) override {
    ++draws;
    RECT r{x, y, x + Of(bitmap).width, y + Of(bitmap).height};
    FillRect(HDC(dc), &r, HBRUSH(GetStockObject(GRAY_BRUSH)));
  }
  std::atomic<int> draws{0};
};

TEST_F(ExceptionAssistant, TheScreenshotFormShowsThePictureStartsEditingOnAClickAndSetsTheAttachFlag) {
  auto bitmaps = std::make_shared<SolidBitmaps>();
  SetAssistantBitmaps(bitmaps);
  std::atomic<int> starts{0}, polls{0}, ends{0};
  static int state = 0;
  KXScreenshotEditing editing;
  editing.startEdit = [&](void *&data, IKXException &) {
    ++starts;
    data = &state;
  };
  editing.editedScreenshot = [&](void *&) -> std::shared_ptr<INVBitmap> {
    ++polls;
    return nullptr;
  };
  editing.endEdit = [&](void *&data) {
    ++ends;
    data = nullptr;
  };
  SetScreenshotEditing(editing);
  exception->SetScreenShot(SolidBitmaps::Make(1280, 1024));
  exception->SetAppendScreenShot(true);

  auto assistant = LoadAssistant(TestModule(), "Send Assistant", {"ScrShotForm"}, exception);
  std::atomic<int> result{-1};
  FormThread thread(shown, [&] { result = int(assistant->RunModal(0)); });
  HWND form = shown.Next("ScrShotForm");
  ASSERT_NE(form, nullptr);
  Sync(form);
  TNVForm &screenshot = static_cast<TNVAssistant &>(*assistant).Form(0);
  EXPECT_EQ(thread.Focus(), ItemWindow(form, kContinue)) << "the definition's active control";
  EXPECT_TRUE(screenshot.CheckBoxNamed("AttachCheck")->GetChecked());
  const TNVRect image = static_cast<TNVImage &>(screenshot.Item(kScrShotImg)).FRect;
  EXPECT_GT(image.Width(), 100);
  RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  EXPECT_TRUE(WaitUntil([&] { return bitmaps->draws > 0; }, 5s)) << "the picture is painted";

  const LPARAM inside = MAKELPARAM(image.left + image.Width() / 2, image.top + image.Height() / 2);
  PostMessageW(form, WM_LBUTTONDOWN, MK_LBUTTON, inside);
  PostMessageW(form, WM_LBUTTONUP, 0, MAKELPARAM(2, 2)); // released outside: no click
  PostMessageW(form, WM_LBUTTONDOWN, MK_LBUTTON, inside);
  PostMessageW(form, WM_LBUTTONUP, 0, inside);
  EXPECT_TRUE(WaitUntil([&] { return starts > 0; }, 5s));
  Sleep(200);
  EXPECT_EQ(starts, 1) << "only the press and release over the picture count";
  EXPECT_TRUE(WaitUntil([&] { return polls > 0; }, 5s)) << "the 250 ms timer asks for an edited picture";

  Click(form, kAttachCheck);
  Click(form, kContinue);
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(result, int(TNVModalResult::nvmOk));
  EXPECT_EQ(ends, 1);
  EXPECT_FALSE(exception->GetAppendScreenShot()) << "unchecked: no screenshot attached";
  SetScreenshotEditing({});
  SetAssistantBitmaps(nullptr);
}

TEST(AssistantWindow, MissingDefinitionsGiveFormsWithTheMainButtonsOnly) {
  ShownForms shown;
  EXPECT_EQ(FormResourceName("ScrShotForm"), "TKXSCRSHOTFORM");
  auto assistant = LoadAssistant(TestModule(), "T", {"NoSuchForm"}, nullptr);
  ASSERT_EQ(assistant->GetFormCount(), 1);
  ASSERT_EQ(assistant->GetForms(0)->GetItemCount(), 3);
  std::atomic<int> result{-1};
  FormThread thread(shown, [&] { result = int(assistant->RunModal(0)); });
  HWND form = shown.Next("");
  ASSERT_NE(form, nullptr);
  Sync(form);
  EXPECT_EQ(Text(ItemWindow(form, kContinue)), "Next >");
  PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0); // the close box
  ASSERT_TRUE(thread.WaitDone());
  EXPECT_EQ(result, int(TNVModalResult::nvmCancel));
}

} // namespace
} // namespace kx::test
