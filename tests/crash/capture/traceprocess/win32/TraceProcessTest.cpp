// The kesTraceProcess export in a process with a running reporter: the complete report of every
// thread reaches the shared-memory object or the clipboard, cut to the caller's buffer; the
// calling thread is named while the report is made and not afterwards.
#include "tests/support/TestTime.h"
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "crash/capture/exception/win32/KXHandlingThread.h"
#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "crash/capture/traceprocess/TraceDelivery.h"
#include "crash/capture/traceprocess/win32/TraceProcess.h"
#include "crash/report/composition/ReportPlugins.h"
#include "crash/report/composition/win32/ReportComposition.h"
#include "crash/report/inventory/win32/InventoryPlugins.h"
#include "crash/shell/win32/KXShellOutputs.h"
#include "crash/shell/win32/KXShellWindows.h"

extern "C" DWORD WINAPI kesTraceProcess(int32_t bufSize);

namespace kx {
namespace {

// What the probe plug-in saw while a report was composed.
struct ProbeSeen {
  DWORD threadId = 0;
  bool named = false;
  std::string name;
  bool traceRunning = false;
  int visibleWindows = 0;
};
std::mutex gProbeLock;
ProbeSeen gProbe;

BOOL CALLBACK CountOwnVisibleWindow(HWND window, LPARAM count) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == GetCurrentProcessId() && IsWindowVisible(window))
    ++*reinterpret_cast<int *>(count);
  return TRUE;
}

std::string Probe() {
  ProbeSeen seen;
  seen.threadId = GetCurrentThreadId();
  ThreadRecord record;
  seen.named = FindThreadRecord(seen.threadId, record, 5000);
  seen.name = record.name;
  seen.traceRunning = ProcessTraceRunning();
  EnumWindows(&CountOwnVisibleWindow, reinterpret_cast<LPARAM>(&seen.visibleWindows));
  std::lock_guard g(gProbeLock);
  gProbe = seen;
  return "probe ran";
}

class ReporterEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    ASSERT_TRUE(JoinThreadRegistry());
    SetExceptionHost(&KXWin32ExceptionHost::Instance());
    KXWin32ExceptionHost::Instance().SetConsoleDetection(false);
    InstallShellOutputs(KXWin32ExceptionHost::Instance()); // the clipboard
    InstallShellWindows(KXWin32ExceptionHost::Instance());
    InstallReportComposition();
    InstallInventoryPlugins();
    AddReportPlugin("probe", "what a trace looks like from inside", TBugReportPluginA(&Probe), true);
    ASSERT_TRUE(StartHandlingThread());
  }
  void TearDown() override {
    StopHandlingThread();
    RemoveReportPlugin("probe");
    RemoveInventoryPlugins();
    SetExceptionHost(nullptr);
  }
};
const auto *const gEnvironment = ::testing::AddGlobalTestEnvironment(new ReporterEnvironment);

// A delivery object as the asking tool creates it, filled with 0xCC.
class DeliveryObject {
public:
  DeliveryObject(const char *name, DWORD size) : FSize(size) {
    SetLastError(0);
    FMap = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
    FExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    if (FMap)
      FView = static_cast<char *>(MapViewOfFile(FMap, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (FView)
      std::memset(FView, 0xCC, size);
  }
  ~DeliveryObject() {
    if (FView)
      UnmapViewOfFile(FView);
    if (FMap)
      CloseHandle(FMap);
  }
  bool Ok() const { return FView && !FExisted; }
  // The delivered text up to its zero; "<untouched>" when the first byte is still 0xCC.
  std::string Text() const {
    if (static_cast<unsigned char>(FView[0]) == 0xCC)
      return "<untouched>";
    return std::string(FView, strnlen(FView, FSize));
  }
  unsigned char Byte(size_t at) const { return static_cast<unsigned char>(FView[at]); }

private:
  DWORD FSize;
  HANDLE FMap = nullptr;
  char *FView = nullptr;
  bool FExisted = false;
};

std::string ClipboardText() {
  std::string text = "<clipboard not available>";
  if (OpenClipboard(nullptr)) {
    text.clear();
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT))
      if (auto *wide = static_cast<const wchar_t *>(GlobalLock(data))) {
        for (const wchar_t *p = wide; *p; ++p)
          text += *p < 128 ? char(*p) : '?';
        GlobalUnlock(data);
      }
    CloseClipboard();
  }
  return text;
}

// Runs the export on a new thread, as a tool does with a remote thread; returns that thread's id.
DWORD RunExportThread(int32_t bufSize) {
  DWORD id = 0;
  auto entry = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(&kesTraceProcess));
  HANDLE thread = CreateThread(nullptr, 0, entry, reinterpret_cast<void *>(static_cast<intptr_t>(bufSize)), 0, &id);
  EXPECT_TRUE(thread);
  if (!thread)
    return 0;
  EXPECT_EQ(WaitForSingleObject(thread, tidewell_test::ScaledMs(180000)), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(thread);
  return id;
}

TEST(TraceProcessExport, IsFoundByItsUndecoratedName) {
  FARPROC found = GetProcAddress(GetModuleHandleW(nullptr), kTraceProcessExportName);
  EXPECT_EQ(reinterpret_cast<void *>(found), reinterpret_cast<void *>(&kesTraceProcess));
  EXPECT_EQ(GetProcAddress(GetModuleHandleW(nullptr), "kesTraceProcess@4"), nullptr);
}

TEST(TraceProcessExport, ReportOfEveryThreadReachesTheDeliveryObject) {
  DeliveryObject object(kTraceMapName, 8 << 20);
  ASSERT_TRUE(object.Ok());

  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD workerId = 0;
  std::atomic<bool> named{false};
  std::thread worker([&] {
    workerId = GetCurrentThreadId();
    SetThreadName(workerId, "station worker");
    named = true;
    WaitForSingleObject(release, INFINITE);
  });
  while (!named)
    Sleep(1);
  const DWORD traceThread = RunExportThread(8 << 20);
  SetEvent(release);
  worker.join();
  CloseHandle(release);

  const std::string report = object.Text();
  ASSERT_EQ(report.rfind("date/time", 0), 0u) << report.substr(0, 200);
  EXPECT_EQ(report.find("will be calculated soon"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\nexception message : The application seems to be frozen.\r\n"), std::string::npos)
      << report;
  EXPECT_EQ(report.find("\r\nexception class"), std::string::npos);
  // The main thread first, then every thread, although the module's settings list none: the
  // reporter's own threads and the trace thread itself included.
  const size_t firstSection = report.find("\r\n\r\n");
  EXPECT_EQ(report.find("\r\n\r\nmain thread ($" + ThreadIdHex(MainThreadId()) + ")"), firstSection) << report;
  EXPECT_NE(report.find("\r\n\r\nstation worker ($" + ThreadIdHex(workerId) + ")"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\n\r\nKestrelix - HandleExceptionThread ($" + ThreadIdHex(HandlingThreadId()) + ")"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("\r\n\r\nKestrelix - TraceProcessThread ($" + ThreadIdHex(traceThread) + ")"), std::string::npos)
      << report;
  // The plug-in sections in the order of the Plugins setting.
  const size_t modules = report.find("\r\n\r\nmodules:\r\n"), processes = report.find("\r\n\r\nprocesses:\r\n"),
               probe = report.find("\r\n\r\nprobe:\r\nprobe ran");
  ASSERT_NE(modules, std::string::npos) << report;
  ASSERT_NE(processes, std::string::npos) << report;
  ASSERT_NE(probe, std::string::npos) << report;
  EXPECT_LT(modules, processes);
  EXPECT_LT(processes, probe);
  EXPECT_NE(report.find(" traceprocess_win32_tests.exe ", modules), std::string::npos) << report;
  EXPECT_NE(report.find(" ntdll.dll ", modules), std::string::npos) << report;

  // While the report was made: the thread carried the trace name, the process was marked as
  // traced, no progress window was shown. Afterwards both are gone.
  {
    std::lock_guard g(gProbeLock);
    EXPECT_EQ(gProbe.threadId, traceThread);
    EXPECT_TRUE(gProbe.named);
    EXPECT_EQ(gProbe.name, "Kestrelix - TraceProcessThread");
    EXPECT_TRUE(gProbe.traceRunning);
    EXPECT_EQ(gProbe.visibleWindows, 0);
  }
  ThreadRecord record;
  EXPECT_FALSE(FindThreadRecord(traceThread, record, 5000));
  EXPECT_FALSE(ProcessTraceRunning());
}

TEST(TraceProcessExport, ANamedCallerKeepsItsName) {
  DeliveryObject object(kTraceMapName, 4096);
  ASSERT_TRUE(object.Ok());
  std::thread caller([] {
    const DWORD self = GetCurrentThreadId();
    SetThreadName(self, "caller");
    EXPECT_EQ(kesTraceProcess(100), 0u);
    ThreadRecord record;
    EXPECT_TRUE(FindThreadRecord(self, record, 5000));
    EXPECT_EQ(record.name, "caller");
    SetThreadName(self, "");
  });
  caller.join();
  EXPECT_EQ(object.Text().rfind("date/time", 0), 0u);
  EXPECT_EQ(object.Text().size(), 99u);
}

TEST(TraceProcessExport, SizesBelowOneUseTheClipboardAndNoSharedMemory) {
  DeliveryObject object(kTraceMapName, 4096);
  ASSERT_TRUE(object.Ok());
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  CloseClipboard();
  RunExportThread(0);
  EXPECT_EQ(object.Text(), "<untouched>");
  EXPECT_EQ(ClipboardText().rfind("date/time", 0), 0u);

  EXPECT_TRUE(DeliverTraceReport("negative size", -5));
  EXPECT_EQ(ClipboardText(), "negative size");
  EXPECT_EQ(object.Text(), "<untouched>");
}

TEST(TraceDeliveryObject, TextIsCutToTheBufferSize) {
  DeliveryObject object(kTraceMapName, 4096);
  ASSERT_TRUE(object.Ok());
  EXPECT_TRUE(DeliverTraceReport("abcdefghi", 10)); // bufSize - 1 characters: whole
  EXPECT_EQ(object.Text(), "abcdefghi");
  EXPECT_EQ(object.Byte(9), 0);
  EXPECT_EQ(object.Byte(10), 0xCC);
  EXPECT_TRUE(DeliverTraceReport("0123456789", 10)); // bufSize characters: the last is lost
  EXPECT_EQ(object.Text(), "012345678");
  EXPECT_EQ(object.Byte(10), 0xCC);
  EXPECT_TRUE(DeliverTraceReport("xyz", 1)); // bufSize 1: an empty text
  EXPECT_EQ(object.Byte(0), 0);
  EXPECT_EQ(object.Byte(1), '1');
  // A caller that claims more room than its object has: the object is filled, not overrun.
  EXPECT_TRUE(DeliverTraceReport(std::string(10000, 'r'), 1 << 20));
  EXPECT_EQ(object.Text(), std::string(4095, 'r'));
}

TEST(TraceDeliveryObject, TheObjectWithoutGlobalPrefixIsUsedWhenItIsTheOnlyOne) {
  EXPECT_FALSE(DeliverTraceReport("nowhere", 100));
  DeliveryObject local(kTraceMapName, 4096);
  ASSERT_TRUE(local.Ok());
  EXPECT_TRUE(DeliverTraceReport("local", 100));
  EXPECT_EQ(local.Text(), "local");

  DeliveryObject global(kTraceMapGlobalName, 4096);
  if (!global.Ok())
    GTEST_SKIP() << "no global object could be made here (or it is the local one)";
  EXPECT_TRUE(DeliverTraceReport("global", 100));
  EXPECT_EQ(global.Text(), "global");
  EXPECT_EQ(local.Text(), "local");
}

} // namespace
} // namespace kx
