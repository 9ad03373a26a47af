#include "crash/capture/threads/win32/FreezeWatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "crash/capture/threads/win32/MsgWindows.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"

namespace {

constexpr DWORD kTimeoutMs = 500;

// Times (ms since the watch started) at which the watch reported a freeze.
std::mutex gReportsLock;
std::vector<DWORD> gReports;
DWORD gStart = 0;
HANDLE gReported = nullptr; // auto-reset, set per report

void RecordFreeze() {
  {
    std::lock_guard<std::mutex> guard(gReportsLock);
    gReports.push_back(GetTickCount() - gStart);
  }
  SetEvent(gReported);
}

size_t ReportCount() {
  std::lock_guard<std::mutex> guard(gReportsLock);
  return gReports.size();
}

// The watched thread runs its messages for a while.
void Responsive(DWORD ms) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  }
}

// The watched thread is blocked (runs no messages) until `reports` freezes have been reported
// since the call, or at most maxMs. Returns the report times.
std::vector<DWORD> FrozenUntilReports(size_t reports, DWORD maxMs) {
  size_t first = ReportCount();
  DWORD start = GetTickCount();
  while (ReportCount() < first + reports && GetTickCount() - start < maxMs)
    WaitForSingleObject(gReported, 50);
  std::lock_guard<std::mutex> guard(gReportsLock);
  return std::vector<DWORD>(gReports.begin() + first, gReports.end());
}

class FreezeWatch : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(kx::JoinThreadRegistry());
    gReported = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    gReports.clear();
    gStart = GetTickCount();
    ASSERT_TRUE(kx::StartFreezeWatch(kTimeoutMs, RecordFreeze));
    Responsive(300);
  }
  void TearDown() override {
    kx::StopFreezeWatch();
    Responsive(50);
    CloseHandle(gReported);
  }
};

TEST_F(FreezeWatch, BlockedThreadIsReportedAfterTimeoutAndAgainAfterOneAndAHalfTimes) {
  DWORD frozenAt = GetTickCount() - gStart;
  std::vector<DWORD> reports = FrozenUntilReports(2, 10 * kTimeoutMs);
  ASSERT_EQ(reports.size(), 2u);
  // About 500 ms, then about 750 ms later; Wine's timers and scheduling are slow, so the margins
  // are wide, but a report before the timeout or a second one no later than the first is wrong.
  EXPECT_GE(reports[0] - frozenAt, kTimeoutMs * 8 / 10);
  EXPECT_LE(reports[0] - frozenAt, kTimeoutMs * 3);
  DWORD gap = reports[1] - reports[0];
  EXPECT_GE(gap, kTimeoutMs * 13 / 10);
  EXPECT_LE(gap, kTimeoutMs * 4);
  // Answering again ends the reports.
  Responsive(2 * kTimeoutMs);
  size_t after = ReportCount();
  Responsive(2 * kTimeoutMs);
  EXPECT_EQ(ReportCount(), after);
}

TEST_F(FreezeWatch, FreezesShorterThanTheTimeoutAreNotAddedUp) {
  // Each stall is well below the timeout; together they are far above it.
  for (int i = 0; i < 6; ++i) {
    Sleep(kTimeoutMs * 6 / 10);
    Responsive(kTimeoutMs * 3 / 10);
  }
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(FreezeWatch, PausedWatchStaysSilent) {
  kx::PauseFreezeWatch(true);
  kx::PauseFreezeWatch(true); // nested
  Sleep(kTimeoutMs * 2);
  kx::PauseFreezeWatch(false);
  Sleep(kTimeoutMs * 2); // still paused once
  EXPECT_EQ(ReportCount(), 0u);
  kx::PauseFreezeWatch(false);
  Responsive(kTimeoutMs);
  EXPECT_EQ(ReportCount(), 0u);
  // Unpaused, the watch works again.
  EXPECT_EQ(FrozenUntilReports(1, 10 * kTimeoutMs).size(), 1u);
  // More un-pauses than pauses change nothing.
  kx::PauseFreezeWatch(false);
  Responsive(kTimeoutMs);
  size_t before = ReportCount();
  EXPECT_EQ(FrozenUntilReports(1, 10 * kTimeoutMs).size(), 1u);
  EXPECT_EQ(ReportCount(), before + 1);
}

HWND gAnswered = nullptr;

LRESULT CALLBACK DialogProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NULL && wParam == 777 && lParam == 777)
    gAnswered = window;
  return DefWindowProcW(window, msg, wParam, lParam);
}

TEST_F(FreezeWatch, WindowPostedToTheWatchGetsTheAnswer) {
  // A second start changes nothing.
  UINT msg = kx::FreezeWatchMessage();
  HWND watchWindow = kx::FreezeWatchWindow();
  EXPECT_TRUE(kx::StartFreezeWatch(100, nullptr));
  EXPECT_EQ(kx::FreezeWatchMessage(), msg);
  EXPECT_GE(msg, 1024u);
  EXPECT_EQ(watchWindow, kx::ThreadMsgWindow());

  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DialogProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"FreezeWatchTestDialog";
  RegisterClassW(&windowClass);
  HWND dialog = CreateWindowExW(0, L"FreezeWatchTestDialog", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(dialog);
  gAnswered = nullptr;
  ASSERT_TRUE(PostMessageW(watchWindow, msg, reinterpret_cast<WPARAM>(dialog), 0));
  Responsive(300);
  EXPECT_EQ(gAnswered, dialog);
  DestroyWindow(dialog);
}

TEST_F(FreezeWatch, WatchThreadIsNamedAndForgottenWhenStopped) {
  DWORD watcher = kx::FreezeWatchThreadId();
  ASSERT_NE(watcher, 0u);
  EXPECT_EQ(kx::ThreadTitle(watcher, false).title, "");
  EXPECT_EQ(kx::ThreadTitle(watcher, true).title, "Kestrelix - AntiFreezeThread ($" + kx::ThreadIdHex(watcher) + ")");
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, watcher);
  HWND window = kx::FreezeWatchWindow();
  kx::StopFreezeWatch();
  EXPECT_EQ(kx::FreezeWatchMessage(), 0u);
  EXPECT_EQ(kx::FreezeWatchThreadId(), 0u);
  kx::ThreadRecord record;
  EXPECT_FALSE(kx::FindThreadRecord(watcher, record, 1000));
  ASSERT_TRUE(thread);
  EXPECT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
  CloseHandle(thread);
  // With its only handler gone, the message window went too.
  EXPECT_FALSE(IsWindow(window));
}

DWORD WINAPI StopElsewhere(void *) {
  kx::StopFreezeWatch();
  return 0;
}

TEST_F(FreezeWatch, StoppedFromAnotherThreadClosesTheWatchedThreadsWindow) {
  HWND window = kx::FreezeWatchWindow();
  HANDLE stopper = CreateThread(nullptr, 0, StopElsewhere, nullptr, 0, nullptr);
  ASSERT_TRUE(stopper);
  EXPECT_EQ(WaitForSingleObject(stopper, 10000), WAIT_OBJECT_0);
  CloseHandle(stopper);
  EXPECT_EQ(kx::FreezeWatchMessage(), 0u);
  DWORD start = GetTickCount();
  while (IsWindow(window) && GetTickCount() - start < 5000)
    Responsive(20);
  EXPECT_FALSE(IsWindow(window));
}

// Shutdown of the message windows, last in this program because no window is made afterwards.
void Nothing(HWND, UINT, WPARAM, LPARAM, LRESULT &) {}

DWORD WINAPI WindowUntilClosed(void *ready) {
  kx::AttachMsgHandler(Nothing, 0);
  HWND window = kx::ThreadMsgWindow();
  SetEvent(ready);
  DWORD start = GetTickCount();
  while (IsWindow(window) && GetTickCount() - start < 10000)
    Responsive(20);
  return IsWindow(window) ? 1 : 0;
}

TEST(MsgWindowsShutdown, ClosesEveryWindowAndMakesNoNewOnes) {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE other = CreateThread(nullptr, 0, WindowUntilClosed, ready, 0, nullptr);
  ASSERT_TRUE(other);
  ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  ASSERT_NE(kx::AttachMsgHandler(Nothing, 0), 0u);
  HWND own = kx::ThreadMsgWindow();

  kx::CloseMsgWindows();
  EXPECT_FALSE(IsWindow(own));
  EXPECT_EQ(kx::ThreadMsgWindow(), nullptr);
  EXPECT_EQ(kx::AttachMsgHandler(Nothing, 0), 0u);
  EXPECT_EQ(WaitForSingleObject(other, 15000), WAIT_OBJECT_0);
  DWORD stillOpen = 2;
  GetExitCodeThread(other, &stillOpen);
  EXPECT_EQ(stillOpen, 0u);
  CloseHandle(other);
  CloseHandle(ready);
}

} // namespace
