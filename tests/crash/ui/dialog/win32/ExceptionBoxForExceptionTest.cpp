// The crash dialog over a real exception object: its texts come from the object's settings with
// the message line-broken, and its keys reach the object's host.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "crash/ui/dialog/ExceptionBoxSubject.h"
#include "crash/ui/dialog/win32/ExceptionBoxForException.h"
#include "crash/ui/dialog/win32/ExceptionBoxWin32.h"
#include "runtime/Exception.h"
#include "runtime/win32/WideText.h"
#include "tests/crash/capture/exception/FakeHost.h"

namespace kx::test {
namespace {

BOOL CALLBACK FindVisibleBox(HWND wnd, LPARAM found) {
  char name[64] = {};
  GetClassNameA(wnd, name, sizeof(name));
  if (std::string(name) != kExceptionBoxClass || !IsWindowVisible(wnd))
    return TRUE;
  *reinterpret_cast<HWND *>(found) = wnd;
  return FALSE;
}

HWND FindDialog(DWORD threadId) {
  HWND found = nullptr;
  EnumThreadWindows(threadId, FindVisibleBox, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND WaitDialog(DWORD threadId) {
  for (int i = 0; i < 500; ++i) {
    if (HWND wnd = FindDialog(threadId))
      return wnd;
    Sleep(10);
  }
  return nullptr;
}

TEST(ExceptionBoxForException, ShowsTheObjectsTextsWithTheMessageBrokenIntoLines) {
  FakePlatform platform;
  platform.streams[kExe] = StreamBuilder()
                               .Text("ExceptMsg", "%exceptClass%: %exceptMsg%")
                               .Text("TitleBar", "Tidewell has a problem")
                               .Bool("AutoShowBugRep", false)
                               .End();
  auto context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
  FakeHost host(CreateModuleSettings(context, kExe));
  SetExceptionHost(&host);

  EConvertError error("The first sentence is long enough. The second one follows it");
  KXCaughtException caught;
  caught.exceptObject = KXExceptObject::Of(error);
  caught.exceptAddr = 0x401234;
  caught.canContinue = true;
  std::shared_ptr<TIKXException> exc = CreateExceptionObject(caught);

  std::atomic<DWORD> threadId{0};
  std::atomic<bool> done{false};
  std::thread dialogThread([&] {
    threadId = GetCurrentThreadId();
    ShowExceptionBoxFor(*exc, TExceptionBoxForm::fullBox);
    done = true;
  });
  while (!threadId)
    Sleep(1);
  HWND dlg = WaitDialog(threadId);
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(WindowText(dlg), "Tidewell has a problem");
  EXPECT_EQ(WindowText(GetDlgItem(dlg, TExceptionBox::kMessageId)),
            "EConvertError: The first sentence is long enough.\r\nThe second one follows it.");

  // Ctrl+C copies the message through the host.
  SetForegroundWindow(dlg);
  for (int i = 0; i < 100 && GetForegroundWindow() != dlg; ++i)
    Sleep(10);
  INPUT keys[4] = {};
  const WORD codes[4] = {VK_CONTROL, 'C', 'C', VK_CONTROL};
  for (int i = 0; i < 4; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = codes[i];
    keys[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
  }
  SendInput(4, keys, sizeof(INPUT));
  Sleep(500);

  // Continue asks the host to close the dialog; this host only records that, so the test closes it.
  SendMessageW(GetDlgItem(dlg, TExceptionBox::kFirstButtonId + kBtnContinue), BM_CLICK, 0, 0);
  PostMessageW(dlg, kBoxCloseMessage, 0, 0);
  dialogThread.join();
  EXPECT_TRUE(done);
  ASSERT_EQ(host.clipboard.size(), 1u);
  EXPECT_EQ(host.clipboard[0], "The first sentence is long enough. The second one follows it.");
  EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "send 1803"), host.calls.end());
  exc.reset();
  SetExceptionHost(nullptr);
}

} // namespace
} // namespace kx::test
