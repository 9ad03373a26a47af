#include "crash/capture/threads/win32/MsgWindows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crash/capture/threads/ThreadTitles.h"

namespace {

using kx::AttachMsgHandler;
using kx::DetachMsgHandler;

std::vector<std::string> gCalls;

void First(HWND, UINT msg, WPARAM, LPARAM, LRESULT &result) {
  gCalls.push_back("first " + std::to_string(msg));
  result += 100;
}

void Second(HWND, UINT msg, WPARAM, LPARAM, LRESULT &result) {
  gCalls.push_back("second " + std::to_string(msg));
  result *= 2;
}

void Bound(void *object, HWND, UINT msg, WPARAM, LPARAM, LRESULT &result) {
  gCalls.push_back(*static_cast<std::string *>(object) + " " + std::to_string(msg));
  result = 7;
}

// Pumps the calling thread's messages until done() or the time is up.
template <typename Done> bool PumpUntil(Done done, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs)
      return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  }
  return true;
}

TEST(MsgWindows, NumbersAndDuplicateRegistrations) {
  HWND window = kx::ThreadMsgWindow();
  ASSERT_TRUE(window);
  EXPECT_EQ(kx::ThreadMsgWindow(GetCurrentThreadId()), window);
  wchar_t className[128] = {};
  GetClassNameW(window, className, 128);
  std::string expected = "kesToolsMsgHandlerWindow$" + kx::ThreadIdHex(GetCurrentThreadId()) + "$";
  std::wstring name(className);
  EXPECT_EQ(std::string(name.begin(), name.end()).substr(0, expected.size()), expected);
  EXPECT_GT(name.size(), expected.size());
  EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, WS_EX_TOOLWINDOW);
  EXPECT_FALSE(IsWindowVisible(window));

  EXPECT_EQ(AttachMsgHandler(First, 0), 1024u);
  EXPECT_EQ(AttachMsgHandler(Second, 0), 1025u);
  EXPECT_EQ(AttachMsgHandler(First, 0), 1026u);
  EXPECT_EQ(AttachMsgHandler(First, 1024), 0u);  // same handler and message twice
  EXPECT_EQ(AttachMsgHandler(Second, 1024), 1024u); // another handler on the same message
  std::string a = "a", b = "b";
  EXPECT_EQ(AttachMsgHandler(Bound, &a, 1030), 1030u);
  EXPECT_EQ(AttachMsgHandler(Bound, &a, 1030), 0u);
  EXPECT_EQ(AttachMsgHandler(Bound, &b, 1030), 1030u); // another object is another registration

  // A freed number is found again.
  DetachMsgHandler(Second, 1025);
  EXPECT_EQ(AttachMsgHandler(Second, 0), 1025u);

  // Removing everything closes the window; the next use makes a new one.
  DetachMsgHandler(First, 0);
  DetachMsgHandler(Second, 0);
  DetachMsgHandler(Bound, &a, 0);
  EXPECT_TRUE(IsWindow(window));
  DetachMsgHandler(Bound, &b, 1030);
  EXPECT_FALSE(IsWindow(window));
  HWND again = kx::ThreadMsgWindow();
  EXPECT_TRUE(again);
  EXPECT_EQ(AttachMsgHandler(First, 0), 1024u);
  DetachMsgHandler(First, 0);
  EXPECT_FALSE(IsWindow(again));
}

TEST(MsgWindows, OnlyNotificationsAndHighMessagesReachHandlers) {
  gCalls.clear();
  std::string bound = "bound";
  // WM_QUERYOPEN (0x13) is below 0x218 and not a notification; WM_QUERYENDSESSION (0x11) is one.
  ASSERT_EQ(AttachMsgHandler(First, WM_QUERYOPEN), UINT(WM_QUERYOPEN));
  ASSERT_EQ(AttachMsgHandler(First, WM_QUERYENDSESSION), UINT(WM_QUERYENDSESSION));
  ASSERT_EQ(AttachMsgHandler(First, 0x217), 0x217u);
  ASSERT_EQ(AttachMsgHandler(First, 0x218), 0x218u);
  ASSERT_EQ(AttachMsgHandler(First, 0x500), 0x500u);
  ASSERT_EQ(AttachMsgHandler(Second, 0x500), 0x500u);
  ASSERT_EQ(AttachMsgHandler(Bound, &bound, 0x501), 0x501u);
  HWND window = kx::ThreadMsgWindow();

  // The default procedure's result comes back untouched.
  EXPECT_EQ(SendMessageW(window, WM_QUERYOPEN, 0, 0), DefWindowProcW(window, WM_QUERYOPEN, 0, 0));
  EXPECT_EQ(SendMessageW(window, 0x217, 0, 0), DefWindowProcW(window, 0x217, 0, 0));
  EXPECT_TRUE(gCalls.empty());

  // Handlers see the default result and may change it, in registration order.
  LRESULT defaultResult = DefWindowProcW(window, WM_QUERYENDSESSION, 0, 0);
  EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), defaultResult + 100);
  EXPECT_EQ(SendMessageW(window, 0x218, 0, 0), DefWindowProcW(window, 0x218, 0, 0) + 100);
  EXPECT_EQ(SendMessageW(window, 0x500, 0, 0), 200);
  EXPECT_EQ(SendMessageW(window, 0x501, 0, 0), 7);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"first 17", "first 536", "first 1280", "second 1280", "bound 1281"}));

  DetachMsgHandler(First, 0);
  DetachMsgHandler(Second, 0);
  DetachMsgHandler(Bound, &bound, 0);
  EXPECT_FALSE(IsWindow(window));
}

void DetachSelf(HWND, UINT msg, WPARAM, LPARAM, LRESULT &result) {
  DetachMsgHandler(DetachSelf, msg);
  result = AttachMsgHandler(First, 0); // the window is gone: a new one is made
  DetachMsgHandler(First, 0);
}

DWORD WINAPI HandlerChangesRegistrations(void *) {
  UINT msg = AttachMsgHandler(DetachSelf, 0);
  HWND window = kx::ThreadMsgWindow();
  LRESULT result = SendMessageW(window, msg, 0, 0);
  return result == 1024 && !IsWindow(window) ? 0 : 1;
}

TEST(MsgWindows, HandlersRunOutsideTheListLock) {
  // A handler that detaches itself and attaches again would wait forever on a held lock.
  HANDLE thread = CreateThread(nullptr, 0, HandlerChangesRegistrations, nullptr, 0, nullptr);
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  DWORD code = 2;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  EXPECT_EQ(code, 0u);
}

struct WindowThread {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = nullptr;
  DWORD id = 0;
  HWND window = nullptr;
  volatile LONG calls = 0;
  volatile DWORD callingThread = 0;
  volatile LONG windowGone = 0;
};

void CountCall(void *object, HWND, UINT, WPARAM, LPARAM, LRESULT &result) {
  auto state = static_cast<WindowThread *>(object);
  InterlockedIncrement(&state->calls);
  state->callingThread = GetCurrentThreadId();
  result = 55;
}

DWORD WINAPI OwnWindowThread(void *object) {
  auto state = static_cast<WindowThread *>(object);
  AttachMsgHandler(CountCall, state, 0);
  state->window = kx::ThreadMsgWindow();
  SetEvent(state->ready);
  HWND window = state->window;
  PumpUntil([window] { return !IsWindow(window); }, 10000);
  state->windowGone = !IsWindow(window);
  return 0;
}

DWORD WINAPI IdleThread(void *) {
  Sleep(200);
  return 0;
}

TEST(MsgWindows, AnotherThreadsWindowIsUsedAndClosedByPostedClose) {
  WindowThread state;
  state.thread = CreateThread(nullptr, 0, OwnWindowThread, &state, 0, &state.id);
  ASSERT_TRUE(state.thread);
  ASSERT_EQ(WaitForSingleObject(state.ready, 10000), WAIT_OBJECT_0);
  ASSERT_TRUE(state.window);

  // The other thread's window is found but never made for it.
  EXPECT_EQ(kx::ThreadMsgWindow(state.id), state.window);
  {
    HANDLE idle = CreateThread(nullptr, 0, IdleThread, nullptr, 0, nullptr);
    DWORD idleId = GetThreadId(idle);
    EXPECT_EQ(kx::ThreadMsgWindow(idleId), nullptr);
    EXPECT_EQ(AttachMsgHandler(First, 0, idleId), 0u);
    WaitForSingleObject(idle, 5000);
    CloseHandle(idle);
  }

  // A registration made from here runs on the window's thread.
  UINT msg = AttachMsgHandler(CountCall, &state, 0x600, state.id);
  EXPECT_EQ(msg, 0x600u);
  DWORD_PTR result = 0;
  EXPECT_TRUE(SendMessageTimeoutW(state.window, 0x600, 0, 0, SMTO_NORMAL, 5000, &result));
  EXPECT_EQ(result, 55u);
  EXPECT_EQ(state.calls, 1);
  EXPECT_EQ(state.callingThread, state.id);

  // Removing the last registration from here closes the window through its own thread.
  DetachMsgHandler(CountCall, &state, 0, state.id);
  EXPECT_EQ(kx::ThreadMsgWindow(state.id), nullptr);
  EXPECT_EQ(WaitForSingleObject(state.thread, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(state.windowGone);
  CloseHandle(state.thread);
  CloseHandle(state.ready);
}

TEST(MsgWindows, DestroyedWindowLeavesTheList) {
  ASSERT_EQ(AttachMsgHandler(First, 0), 1024u);
  HWND window = kx::ThreadMsgWindow();
  DestroyWindow(window);
  // The registrations went with the window; a new window starts empty.
  HWND fresh = kx::ThreadMsgWindow();
  EXPECT_TRUE(IsWindow(fresh));
  EXPECT_NE(fresh, window);
  EXPECT_EQ(AttachMsgHandler(First, 0), 1024u);
  DetachMsgHandler(First, 0);
  EXPECT_FALSE(IsWindow(fresh));
}

} // namespace
