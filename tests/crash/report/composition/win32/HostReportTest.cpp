// The composition plugged into the process's exception host: an exception handed over from a
// worker thread is handled on the handling thread, whose dialog stand-in asks for the complete
// report; the completion runs on a thread of its own and the report lists the process's threads.
#include "tests/support/TestTime.h"
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "crash/capture/exception/win32/KXHandlingThread.h"
#include "crash/capture/exception/win32/KXStandInBox.h"
#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "crash/report/composition/win32/ReportComposition.h"
#include "crash/shell/win32/KXShellOutputs.h"
#include "crash/shell/win32/KXShellWindows.h"
#include "runtime/Exception.h"
#include "tests/support/MangledNames.h"

namespace kx {
namespace {

std::string Hex(DWORD value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%lx", static_cast<unsigned long>(value));
  return buf;
}

TEST(HostReport, HandedOverExceptionGetsTheCompleteReport) {
  ASSERT_TRUE(JoinThreadRegistry());
  SetExceptionHost(&KXWin32ExceptionHost::Instance());
  KXWin32ExceptionHost::Instance().SetConsoleDetection(false);
  InstallShellOutputs(KXWin32ExceptionHost::Instance());
  InstallShellWindows(KXWin32ExceptionHost::Instance()); // the box is the test's own, set below
  InstallReportComposition();
  ASSERT_TRUE(StartHandlingThread());

  std::mutex lock;
  std::string report, className;
  uint32_t completionThread = 0, handlingThread = 0;
  KXWin32ExceptionHost::Instance().SetExceptionBox([&](IKXException &e, TExceptionBoxForm) {
    std::string text = e.GetBugReport(true);
    std::lock_guard g(lock);
    report = text;
    className = e.GetExceptClass();
    handlingThread = GetCurrentThreadId();
    if (auto *ex = dynamic_cast<IKXExceptionEx *>(&e))
      completionThread = ex->GetCompleteThreadId();
  });

  DWORD workerId = 0;
  bool handled = false;
  std::thread worker([&] {
    workerId = GetCurrentThreadId();
    SetThreadName(workerId, "station worker");
    EConvertError error("'' is not a valid integer value");
    KXExceptObject object = KXExceptObject::Of(error);
    KXCaughtException c;
    c.threadId = GetCurrentThreadId();
    c.exceptObject = object;
    c.exceptAddr = reinterpret_cast<std::uintptr_t>(&Hex);
    c.canContinue = true;
    c.source = TExceptSource::esManual;
    KXRegisterContext registers;
    registers.rax = 0x12345678;
    registers.rip = uint32_t(c.exceptAddr);
    c.context = &registers;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    KXHandOffRecord r{&c, event};
    handled = WriteHandOffRecord(r) && WaitForSingleObject(event, tidewell_test::ScaledMs(30000)) == WAIT_OBJECT_0;
    CloseHandle(event);
  });
  worker.join();
  StopHandlingThread();
  KXWin32ExceptionHost::Instance().SetExceptionBox([](IKXException &e, TExceptionBoxForm) { ShowStandInBox(e); });
  SetExceptionHost(nullptr);
  ASSERT_TRUE(handled);

  std::lock_guard g(lock);
  EXPECT_EQ(className, "EConvertError");
  EXPECT_NE(completionThread, 0u);
  EXPECT_NE(completionThread, handlingThread);
  EXPECT_EQ(report.find("will be calculated soon"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\ncallstack crc     : $"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\nexception message : '' is not a valid integer value.\r\n"), std::string::npos) << report;
  // The crashed thread first, then the main thread; the reporter's handling thread has none.
  EXPECT_NE(report.find("\r\n\r\nstation worker ($" + Hex(workerId) + "):\r\n"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\n\r\nmain thread ($" + Hex(MainThreadId()) + ")"), std::string::npos) << report;
  EXPECT_LT(report.find("station worker ($"), report.find("main thread ($"));
  EXPECT_EQ(report.find("($" + Hex(handlingThread) + ")"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\n\r\ncpu registers:\r\neax = 12345678\r\n"), std::string::npos) << report;
  // The call stacks run through our code and the statically linked libraries, stdcall thread
  // functions included: every function is named readably.
  EXPECT_EQ(tidewell_test::FirstMangledName(report), "") << report;
}

} // namespace
} // namespace kx
