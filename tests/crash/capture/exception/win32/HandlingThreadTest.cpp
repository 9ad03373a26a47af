// The handling thread under the real platform: records written from other threads are handled one
// after the other, the catching thread is signalled and woken, the stand-in window offers the
// settings' buttons, the thread stops on request, and a restart hands the exception times over.
#include "tests/support/TestTime.h"
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "crash/capture/exception/KXExceptionTimes.h"
#include "crash/capture/exception/win32/KXHandlingThread.h"
#include "crash/capture/exception/win32/KXStandInBox.h"
#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "runtime/Exception.h"

namespace kx {
namespace {

struct Shown {
  std::string className, message;
  TExceptionBoxForm form;
  std::string report;
  bool canContinue;
};

class HandlingThreadTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    JoinThreadRegistry();
    SetExceptionHost(&KXWin32ExceptionHost::Instance());
    KXWin32ExceptionHost::Instance().SetConsoleDetection(false); // a console program, tested as a GUI one
    ASSERT_TRUE(StartHandlingThread());
  }
  static void TearDownTestSuite() {
    StopHandlingThread();
    SetExceptionHost(nullptr);
    LeaveThreadRegistry();
  }
  void SetUp() override {
    shown.clear();
    KXWin32ExceptionHost::Instance().SetExceptionBox([this](IKXException &e, TExceptionBoxForm form) {
      std::lock_guard g(lock);
      shown.push_back({e.GetExceptClass(), e.GetExceptMessage(), form, e.GetBugReport(true), e.GetCanContinue()});
    });
  }
  void TearDown() override {
    KXWin32ExceptionHost::Instance().SetExceptionBox([](IKXException &e, TExceptionBoxForm) { ShowStandInBox(e); });
  }

  // Hands the exception over as a catching point does and waits (at most 20 s) for the handling.
  static bool HandOver(Exception &object, bool canContinue, DWORD waitMs = 20000) {
    KXCaughtException c;
    c.threadId = GetCurrentThreadId();
    c.exceptObject = KXExceptObject::Of(object);
    c.exceptAddr = reinterpret_cast<std::uintptr_t>(&HandOver);
    c.canContinue = canContinue;
    c.source = TExceptSource::esManual;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    KXHandOffRecord r{&c, event};
    bool done = WriteHandOffRecord(r) && WaitForSingleObject(event, tidewell_test::ScaledMs(waitMs)) == WAIT_OBJECT_0;
    CloseHandle(event);
    return done;
  }

  std::mutex lock;
  std::vector<Shown> shown;
};

TEST_F(HandlingThreadTest, RunsNamedAtTheHighestPriority) {
  ASSERT_TRUE(HandlingThreadRunning());
  EXPECT_EQ(ThreadTitle(HandlingThreadId(), false).title, "");
  char expected[64];
  std::snprintf(expected, sizeof expected, "Kestrelix - HandleExceptionThread ($%lx)",
                static_cast<unsigned long>(HandlingThreadId()));
  EXPECT_EQ(ThreadTitle(HandlingThreadId(), true).title, expected);
  HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, HandlingThreadId());
  ASSERT_TRUE(thread);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_TIME_CRITICAL);
  CloseHandle(thread);
}

TEST_F(HandlingThreadTest, RecordsFromSeveralThreadsAreHandledAndTheirThreadsWoken) {
  std::atomic<int> handled{0}, woken{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i)
    threads.emplace_back([&, i] {
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // gives the thread its message queue
      EConvertError error("'" + std::to_string(i) + "x' is not a valid integer value");
      if (HandOver(error, true))
        ++handled;
      // The handling thread posts an empty message so that a message wait returns.
      DWORD start = GetTickCount();
      while (GetTickCount() - start < 5000) {
        if (PeekMessageW(&msg, nullptr, WM_NULL, WM_NULL, PM_REMOVE)) {
          ++woken;
          break;
        }
        Sleep(10);
      }
    });
  for (auto &t : threads)
    t.join();
  EXPECT_EQ(handled, 3);
  EXPECT_EQ(woken, 3);
  ASSERT_EQ(shown.size(), 3u);
  for (const Shown &s : shown) {
    EXPECT_EQ(s.className, "EConvertError");
    EXPECT_EQ(s.form, TExceptionBoxForm::fullBox);
    EXPECT_TRUE(s.canContinue);
    EXPECT_NE(s.report.find("exception class   : EConvertError"), std::string::npos) << s.report;
  }
  EXPECT_NE(ExceptionTimes()[2], 0);
}

TEST_F(HandlingThreadTest, FilteredClassGetsTheSimpleBoxWithoutReport) {
  EDBEditError error("Invalid input value");
  ASSERT_TRUE(HandOver(error, true));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].form, TExceptionBoxForm::simpleBox);
  EXPECT_EQ(shown[0].report, "");
  EXPECT_EQ(shown[0].message, "Invalid input value.");
}

// The stand-in window shows the message with the settings' buttons; continue closes it.
TEST_F(HandlingThreadTest, StandInWindowContinues) {
  TearDown(); // back to the stand-in window
  std::atomic<bool> done{false};
  std::thread catcher([&] {
    EConvertError error("'' is not a valid integer value");
    done = HandOver(error, true, 30000);
  });
  HWND box = nullptr;
  for (int i = 0; i < 300 && !box; ++i) {
    Sleep(50);
    box = FindWindowW(L"KestrelixWndClass", nullptr);
  }
  ASSERT_TRUE(box);
  auto text = [](HWND w) {
    wchar_t buf[256] = {};
    GetWindowTextW(w, buf, 256);
    return std::wstring(buf);
  };
  EXPECT_EQ(text(box), L"Journey");
  EXPECT_EQ(text(GetDlgItem(box, kStandInContinueId)), L"keep going");
  EXPECT_EQ(text(GetDlgItem(box, kStandInRestartId)), L"start again");
  EXPECT_EQ(text(GetDlgItem(box, kStandInCloseId)), L"quit now");
  std::wstring message = text(GetDlgItem(box, kStandInMessageId));
  EXPECT_NE(message.find(L"Something broke."), std::wstring::npos);
  EXPECT_NE(message.find(L"EConvertError: '' is not a valid integer value."), std::wstring::npos);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(box, kStandInContinueId)));
  PostMessageW(GetDlgItem(box, kStandInContinueId), BM_CLICK, 0, 0);
  catcher.join();
  EXPECT_TRUE(done);
  EXPECT_FALSE(IsWindow(box));
  SetUp();
}

TEST(RestartTest, NewInstanceWaitsForTheOldOneAndTakesTheTimesOver) {
  wchar_t dir[MAX_PATH];
  GetModuleFileNameW(nullptr, dir, MAX_PATH);
  std::wstring exe(dir);
  exe.erase(exe.find_last_of(L'\\') + 1);
  std::wstring out = exe + L"restart_probe.out";
  DeleteFileW(out.c_str());
  std::wstring command = L"\"" + exe + L"" RESTART_PROBE "\" \"" + out + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, tidewell_test::ScaledMs(30000)), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 2u);
  std::vector<long long> values;
  for (int i = 0; i < 600 && values.size() < 11; ++i) {
    Sleep(50);
    std::ifstream in(std::string(out.begin(), out.end()));
    values.clear();
    for (long long v; in >> v;)
      values.push_back(v);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  ASSERT_EQ(values.size(), 11u);
  EXPECT_EQ(values[0], 2); // the old instance had ended when the new one went on
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(values[size_t(i) + 1], 13400000000LL - i);
  DeleteFileW(out.c_str());
}

TEST(HandlingThreadStop, StopsAndRefusesFurtherRecords) {
  ASSERT_TRUE(StartHandlingThread());
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, HandlingThreadId());
  StopHandlingThread();
  EXPECT_FALSE(HandlingThreadRunning());
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_FALSE(WriteHandOffRecord(KXHandOffRecord{}));
  ASSERT_TRUE(StartHandlingThread()); // restartable
  StopHandlingThread();
}

} // namespace
} // namespace kx
