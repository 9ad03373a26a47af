// The freeze watch over a console program's main thread that runs no message loop and calls
// Heartbeat instead (Heartbeat.settings: CheckFreeze on, timeout 1 s). The tests run on the main
// thread; between its heartbeats it only sleeps.
#include "tests/support/TestTime.h"
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"
#include "crash/capture/threads/win32/FreezeWatch.h"
#include "crash/shell/include/kestrelix/Kestrelix.h"
#include "crash/shell/win32/KXReporter.h"

namespace {

constexpr DWORD kTimeoutMs = 1000;

std::atomic<int> gFreezes{0};
std::atomic<int> gShown{0};
// The slow report of another thread: the handler says it has started and waits for the release.
HANDLE gSlowEntered = nullptr, gSlowRelease = nullptr;

void OnException(kestrelix::Exception &e, bool &handled) {
  if (e.ClassName() == "Unknown") { // a freeze has no exception object
    ++gFreezes;
    handled = true;
  } else if (e.Message() == "slow") {
    SetEvent(gSlowEntered);
    WaitForSingleObject(gSlowRelease, tidewell_test::ScaledMs(30000));
    handled = true;
  }
}

class RunningReporter : public ::testing::Environment {
public:
  void SetUp() override {
    gSlowEntered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    gSlowRelease = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(kx::StartReporter());
    kx::KXWin32ExceptionHost &host = kx::KXWin32ExceptionHost::Instance();
    host.SetConsoleDetection(false);
    host.SetExceptionBox([](kx::IKXException &, kx::TExceptionBoxForm) { ++gShown; });
    ASSERT_NE(kestrelix::AddExceptionHandler(&OnException), 0);
  }
  void TearDown() override {
    kx::StopReporter();
    CloseHandle(gSlowEntered);
    CloseHandle(gSlowRelease);
  }
};
[[maybe_unused]] ::testing::Environment *const gReporter = ::testing::AddGlobalTestEnvironment(new RunningReporter);

// The main loop of a program without a message loop: work in slices of 20 ms, a heartbeat after
// each, for ms milliseconds.
void Beat(DWORD ms) {
  DWORD start = GetTickCount();
  do {
    kestrelix::Heartbeat();
    Sleep(20);
  } while (GetTickCount() - start < ms);
}

// The main thread gives no sign of life until a freeze beyond `before` is reported or limitMs
// passed; returns the milliseconds it was silent.
DWORD SilentUntilReported(int before, DWORD limitMs) {
  DWORD start = GetTickCount();
  while (gFreezes <= before && GetTickCount() - start < limitMs)
    Sleep(50);
  return GetTickCount() - start;
}

TEST(KestrelixHeartbeat, TheConsoleMainThreadIsWatchedThroughItsMessageWindow) {
  ASSERT_TRUE(kestrelix::Running());
  HWND window = kx::FreezeWatchWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
  EXPECT_NE(kx::FreezeWatchThreadId(), 0u);
}

TEST(KestrelixHeartbeat, RegularHeartbeatsAreNeverAFreeze) {
  int before = gFreezes;
  Beat(4 * kTimeoutMs);
  EXPECT_EQ(gFreezes, before);
  EXPECT_EQ(gShown, 0);
}

TEST(KestrelixHeartbeat, SilenceIsReportedAfterTheTimeoutAndHeartbeatsEndTheReports) {
  Beat(300);
  int before = gFreezes;
  DWORD silent = SilentUntilReported(before, tidewell_test::ScaledMs(10000));
  ASSERT_GT(gFreezes, before) << "no freeze reported after " << silent << " ms";
  EXPECT_GE(silent, kTimeoutMs * 8 / 10) << "reported before the timeout";
  Beat(300);
  int after = gFreezes;
  Beat(3 * kTimeoutMs);
  EXPECT_EQ(gFreezes, after);
}

TEST(KestrelixHeartbeat, AnotherThreadsHeartbeatIsNoSignOfTheMainThreadsLife) {
  Beat(300);
  int before = gFreezes;
  std::atomic<bool> stop{false};
  std::thread other([&] {
    while (!stop) {
      kestrelix::Heartbeat();
      Sleep(20);
    }
  });
  SilentUntilReported(before, tidewell_test::ScaledMs(10000));
  stop = true;
  other.join();
  EXPECT_GT(gFreezes, before);
  Beat(300);
}

TEST(KestrelixHeartbeat, NoFreezeIsReportedWhileTheReporterHandlesAnotherThreadsReport) {
  Beat(300);
  int before = gFreezes;
  std::atomic<bool> reported{false}, done{false};
  std::thread other([&] {
    reported = kestrelix::ReportState("slow");
    done = true;
  });
  // The main thread goes on beating until the handling has started, then stays silent for well
  // over the timeout while the reporter is busy, and beats again before the handling ends.
  const DWORD start = GetTickCount(), limit = tidewell_test::ScaledMs(20000);
  bool entered = false;
  while (!(entered = WaitForSingleObject(gSlowEntered, 0) == WAIT_OBJECT_0) && GetTickCount() - start < limit)
    Beat(20);
  EXPECT_TRUE(entered);
  Sleep(5 * kTimeoutMs / 2);
  kestrelix::Heartbeat();
  SetEvent(gSlowRelease);
  while (!done && GetTickCount() - start < 2 * limit)
    Beat(20);
  other.join();
  EXPECT_TRUE(reported);
  // A freeze found meanwhile would be handled after the slow report.
  Beat(kTimeoutMs);
  EXPECT_EQ(gFreezes, before);
}

} // namespace
