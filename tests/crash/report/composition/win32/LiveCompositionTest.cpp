// The report of a test exception in this process, composed over the live facts: header fields
// from the system, one section per thread with titles and marks, registers and stack dump, the
// completion on its own thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <thread>

#include "crash/capture/exception/KXHandlers.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "crash/report/composition/HeaderFields.h"
#include "crash/report/composition/ReportComposer.h"
#include "crash/report/composition/ReportText.h"
#include "crash/report/composition/win32/LiveReportFacts.h"
#include "runtime/Exception.h"
#include "tests/crash/capture/exception/FakeHost.h"

namespace kx::test {
namespace {

class LiveHost : public FakeHost {
public:
  using FakeHost::FakeHost;
  IKXReportComposer *report = nullptr;
  IKXReportComposer &ReportComposer() override { return *report; }
  // Where the exception was caught: the calling thread's own stack.
  __attribute__((noinline)) void CurrentStackPointers(std::uintptr_t &esp, std::uintptr_t &ebp) override {
    esp = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) - 64;
    ebp = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  }
};

// A thread that waits until the test ends.
struct Worker {
  HANDLE thread = nullptr;
  DWORD id = 0;
  static DWORD WINAPI Run(void *stop) {
    WaitForSingleObject(static_cast<HANDLE>(stop), INFINITE);
    return 0;
  }
  explicit Worker(HANDLE stop) { thread = CreateThread(nullptr, 0, &Run, stop, 0, &id); }
  ~Worker() {
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
  }
};

std::string Hex(DWORD value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%lx", static_cast<unsigned long>(value));
  return buf;
}

int64_t StartedLongAgo() { return 1; }

class LiveComposition : public ::testing::Test {
protected:
  FakePlatform platform;
  std::shared_ptr<KXSettingsContext> context;
  std::unique_ptr<LiveHost> host;
  KXLiveReportFacts facts{&StartedLongAgo};
  KXReportComposer composer{facts};

  void SetUp() override {
    ASSERT_TRUE(JoinThreadRegistry());
    platform.streams[kExe] = StreamBuilder().Bool("PlWaitBox", false).End();
    context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
    host = std::make_unique<LiveHost>(CreateModuleSettings(context, kExe));
    host->report = &composer;
    SetExceptionHost(host.get());
  }
  void TearDown() override {
    ClearExceptionHandlers();
    SetExceptionHost(nullptr);
  }
};

__attribute__((noinline)) void FailingFunction(KXRegisterContext &regs) {
  CONTEXT ctx{};
  RtlCaptureContext(&ctx);
#if defined(__x86_64__)
  regs.x64 = true;
  regs.rax = ctx.Rax, regs.rbx = ctx.Rbx, regs.rsp = ctx.Rsp, regs.rbp = ctx.Rbp, regs.rip = ctx.Rip;
#else
  regs.rax = ctx.Eax, regs.rbx = ctx.Ebx, regs.rsp = ctx.Esp, regs.rbp = ctx.Ebp, regs.rip = ctx.Eip;
#endif
}

std::vector<std::string> Names(IKXFields &list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.GetItemCount(); ++i)
    names.push_back(list.GetItem(i));
  return names;
}

bool Has(const std::vector<std::string> &names, const std::string &name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

TEST_F(LiveComposition, ReportOfAnExceptionInAWorkerWithSeveralThreads) {
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::shared_ptr<TIKXException> e;
  std::string report;
  KXRegisterContext regs;
  DWORD crashedId = 0, completionId = 0;
  std::unique_ptr<Worker> reader, paused, hidden, plain;
  {
    reader = std::make_unique<Worker>(stop);
    paused = std::make_unique<Worker>(stop);
    hidden = std::make_unique<Worker>(stop);
    plain = std::make_unique<Worker>(stop);
    SetThreadName(reader->id, "station reader");
    SetThreadName(hidden->id, kHandleExceptionThreadName);
    StoreThreadInfo(plain->id, plain->thread, nullptr, MainThreadId(), 0x10001000, "TReadThread");
    SetThreadPriority(reader->thread, THREAD_PRIORITY_HIGHEST);
    SuspendThread(paused->thread);

    EConvertError error("'abc' is not a valid integer value");
    std::thread crashing([&] {
      crashedId = GetCurrentThreadId();
      SetThreadName(crashedId, "crashing worker");
      FailingFunction(regs);
      KXCaughtException c;
      c.exceptObject = KXExceptObject::Of(error);
      c.exceptAddr = reinterpret_cast<uintptr_t>(&FailingFunction) + 4;
      c.threadId = crashedId;
      c.context = &regs;
      e = CreateExceptionObject(c);
      host->handlingThread = true; // the completion runs on its own thread
      report = e->GetBugReport(true);
      completionId = e->GetCompleteThreadId();
    });
    crashing.join();
    ResumeThread(paused->thread);
  }
  ASSERT_TRUE(e);
  if (const char *out = std::getenv("TIDEWELL_REPORT_OUT")) // keep the report for a reader
    if (FILE *f = std::fopen(out, "wb")) {
      std::fwrite(report.data(), 1, report.size(), f);
      std::fclose(f);
    }
  EXPECT_TRUE(e->IsComplete());
  EXPECT_NE(completionId, 0u);
  EXPECT_NE(completionId, crashedId);
  EXPECT_EQ(report.find("will be calculated soon"), std::string::npos) << report;

  // Sections: the crashed thread first, then the main thread, then the others with their marks.
  auto sections = Names(*e->GetBugReportSections());
  ASSERT_GE(sections.size(), 6u) << report;
  EXPECT_EQ(sections[0], "crashing worker ($" + Hex(crashedId) + "):");
  EXPECT_EQ(sections[1].rfind("main thread ($" + Hex(MainThreadId()) + "):", 0), 0u) << sections[1];
  EXPECT_TRUE(Has(sections, "station reader ($" + Hex(reader->id) + "): <priority:2>")) << report;
  EXPECT_TRUE(Has(sections, "thread $" + Hex(paused->id) + ": <suspended>")) << report;
  EXPECT_TRUE(Has(sections, "thread $" + Hex(plain->id) + " (TReadThread):")) << report;
  for (const std::string &title : sections)
    EXPECT_EQ(title.find("$" + Hex(hidden->id) + ")"), std::string::npos) << title;
  EXPECT_TRUE(Has(sections, "cpu registers"));
  auto content = [&](const std::string &title) { return e->GetBugReportSections()->GetContent(title); };
  std::string dump = content("stack dump");
  if (sizeof(void *) == 4) {
    EXPECT_EQ(content("cpu registers").substr(0, 14), "eax = " + Hex8(regs.rax));
    EXPECT_EQ(dump.substr(0, 10), Hex8(regs.rsp) + "  ") << dump;
  } else {
    char rax[32], rsp[32];
    std::snprintf(rax, sizeof rax, "rax = %016llx", static_cast<unsigned long long>(regs.rax));
    std::snprintf(rsp, sizeof rsp, "%016llx  ", static_cast<unsigned long long>(regs.rsp));
    EXPECT_EQ(content("cpu registers").substr(0, 22), rax);
    EXPECT_EQ(dump.substr(0, 18), rsp) << dump;
    EXPECT_NE(content("cpu registers").find("\r\nrip = "), std::string::npos);
  }

  // Header fields from the system.
  auto header = e->GetBugReportHeader();
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof computer;
  GetComputerNameA(computer, &size);
  EXPECT_EQ(header->GetContent("computer name"), computer);
  EXPECT_EQ(header->GetContent("process id"), "$" + Hex(GetCurrentProcessId()));
  EXPECT_EQ(header->GetContent("executable"), "report_composition_win32_tests.exe");
  EXPECT_EQ(header->FindItem("current module"), -1);
  EXPECT_EQ(header->GetContent("compiled with"), kCompiledWithGnu);
  EXPECT_EQ(header->GetContent("exception class"), "EConvertError");
  EXPECT_EQ(header->GetContent("exception message"), "'abc' is not a valid integer value.");
  EXPECT_FALSE(header->GetContent("user name").empty());
  auto matches = [&](const char *name, const char *pattern) {
    std::string value = header->GetContent(name);
    EXPECT_TRUE(std::regex_match(value, std::regex(pattern))) << name << ": " << value;
  };
  matches("date/time", R"(\d{4}-\d\d-\d\d, \d\d:\d\d:\d\d, \d+ms)");
  matches("operating system", R"(Windows [^\r\n]* build \d+)");
  // This exe declares no supported systems, so the version functions of kernel32 would make a
  // newer system look like Windows 8 build 9200; the report names the system that runs, whose
  // build the registry keeps too.
  const std::string os = header->GetContent("operating system");
  EXPECT_EQ(os.find("Windows NT New"), std::string::npos) << os;
  char build[32] = {};
  DWORD buildSize = sizeof build - 1;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_QUERY_VALUE, &key) ==
      ERROR_SUCCESS) {
    if (RegQueryValueExA(key, "CurrentBuildNumber", nullptr, nullptr, reinterpret_cast<BYTE *>(build), &buildSize) !=
        ERROR_SUCCESS)
      build[0] = 0;
    RegCloseKey(key);
  }
  if (build[0]) {
    EXPECT_TRUE(os.ends_with(std::string(" build ") + build)) << os << " / registry build " << build;
  }
  matches("physical memory", R"(\d+/\d+ MB \(free/total\))");
  matches("display mode", R"(\d+x\d+, \d+ bit)");
  matches("allocated memory", R"(\d+[.,]\d\d (KB|MB|GB))");
  matches("free disk space", R"(\(C:\) \d+([.,]\d\d)? (Bytes|KB|MB|GB)( \([A-Z]:\) .*)?)");
  matches("exec. date/time", R"(\d{4}-\d\d-\d\d \d\d:\d\d)");
  matches("system up time", R"(\d+ (second|minute|hour|day)s?( \d+ (second|minute|hour)s?)?)");
  matches("program up time", R"(\d+ (second|minute|hour|day)s?( \d+ (second|minute|hour)s?)?)");
  matches("exception number", R"(\d+)");

  SetEvent(stop);
  reader.reset();
  paused.reset();
  hidden.reset();
  plain.reset();
  CloseHandle(stop);
}

} // namespace
} // namespace kx::test
