// The public calls with the reporter running on this program's settings (Api.settings). The crash
// dialog is replaced by a recorder that keeps what the exception object shows it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "crash/capture/exception/win32/KXWin32ExceptionHost.h"
#include "crash/shell/include/kestrelix/Kestrelix.h"
#include "crash/shell/win32/KXReporter.h"
#include "runtime/Exception.h"

namespace {

// What the dialog was given.
struct Shown {
  std::string className, message;
  kx::TExceptSource source;
  uint32_t threadId;
  std::uintptr_t address;
  std::optional<kx::KXRegisterContext> context;
  std::string mailAddr;
  uint32_t smtpPort, fileSize;
  bool sendButton, autoSave;
};

std::mutex gShownLock;
std::vector<Shown> gShown;

void RecordShown(kx::IKXException &e, kx::TExceptionBoxForm) {
  Shown s{e.GetExceptClass(), e.GetExceptMessage(), e.GetSource(), e.GetCrashedThreadId(), e.GetExceptAddr(),
          std::nullopt, e.GetMailAddr(), e.GetSmtpPort(), e.GetBugReportFileSize(), e.GetSendBtnVisible(),
          e.GetAutoSave()};
  if (const kx::KXRegisterContext *c = e.GetContext())
    s.context = *c;
  std::lock_guard guard(gShownLock);
  gShown.push_back(s);
}

std::vector<Shown> ShownSoFar() {
  std::lock_guard guard(gShownLock);
  return gShown;
}

class RunningReporter : public ::testing::Environment {
public:
  void SetUp() override {
    ASSERT_TRUE(kx::StartReporter());
    kx::KXWin32ExceptionHost &host = kx::KXWin32ExceptionHost::Instance();
    host.SetConsoleDetection(false); // a console program, tested as one with windows
    host.SetExceptionBox(&RecordShown);
  }
  void TearDown() override { kx::StopReporter(); }
};
[[maybe_unused]] ::testing::Environment *const gReporter = ::testing::AddGlobalTestEnvironment(new RunningReporter);

// What a handler saw.
struct Seen {
  std::string className, message, report;
  bool canContinue;
};

bool InFunction(std::uintptr_t address, const void *function) {
  auto start = reinterpret_cast<std::uintptr_t>(function);
  return address >= start && address < start + 0x100;
}

__attribute__((noinline)) void ThrowDiskError() { throw std::runtime_error("disk on fire"); }

// Report from a function of their own, whose frame the report's registers must name.
void *gReportingFrame = nullptr;
__attribute__((noinline, optimize("no-omit-frame-pointer", "no-optimize-sibling-calls"))) bool
ReportFromHere(std::exception_ptr exception) {
  gReportingFrame = __builtin_frame_address(0);
  return kestrelix::ReportException(std::move(exception));
}
__attribute__((noinline, optimize("no-omit-frame-pointer", "no-optimize-sibling-calls"))) bool
ReportStateFromHere(const std::string &message) {
  gReportingFrame = __builtin_frame_address(0);
  return kestrelix::ReportState(message);
}

class KestrelixApi : public ::testing::Test {
protected:
  void SetUp() override {
    std::lock_guard guard(gShownLock);
    gShown.clear();
  }
  void TearDown() override {
    for (int id : FIds)
      kestrelix::RemoveExceptionHandler(id);
  }

  // A handler that records what it sees and sets handled as asked.
  int AddRecorder(bool handle = false) {
    int id = kestrelix::AddExceptionHandler([this, handle](kestrelix::Exception &e, bool &handled) {
      std::lock_guard guard(FLock);
      FSeen.push_back({e.ClassName(), e.Message(), e.ReportText(), e.CanContinue()});
      if (handle)
        handled = true;
    });
    EXPECT_NE(id, 0);
    FIds.push_back(id);
    return id;
  }
  int Add(kestrelix::ExceptionHandler handler) {
    int id = kestrelix::AddExceptionHandler(std::move(handler));
    EXPECT_NE(id, 0);
    FIds.push_back(id);
    return id;
  }
  std::vector<Seen> SeenSoFar() {
    std::lock_guard guard(FLock);
    return FSeen;
  }

  std::mutex FLock;
  std::vector<Seen> FSeen;
  std::vector<int> FIds;
};

TEST_F(KestrelixApi, RunsOnTheProgramsSettings) { EXPECT_TRUE(kestrelix::Running()); }

TEST_F(KestrelixApi, CaughtExceptionReachesTheHandlerWithItsClassAndWhat) {
  AddRecorder();
  bool reported = false;
  try {
    ThrowDiskError();
  } catch (...) {
    reported = kestrelix::ReportException(std::current_exception());
  }
  EXPECT_TRUE(reported);
  std::vector<Seen> seen = SeenSoFar();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].className, "std::runtime_error");
  EXPECT_EQ(seen[0].message, "disk on fire");
  EXPECT_TRUE(seen[0].canContinue);
  EXPECT_NE(seen[0].report.find("std::runtime_error"), std::string::npos) << seen[0].report;
  // Not handled: the dialog shows it.
  std::vector<Shown> shown = ShownSoFar();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].className, "std::runtime_error");
  EXPECT_EQ(shown[0].source, kx::TExceptSource::esApplicationHandleException);
}

TEST_F(KestrelixApi, ObjectOutsideTheStandardHierarchyHasTheReportsMessage) {
  AddRecorder();
  try {
    throw 42;
  } catch (...) {
    EXPECT_TRUE(kestrelix::ReportException(std::current_exception()));
  }
  std::vector<Seen> seen = SeenSoFar();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].className, "int");
  EXPECT_EQ(seen[0].message, "int.");
}

TEST_F(KestrelixApi, InsideTheCatchBlockTheReportNamesTheRaise) {
  try {
    ThrowDiskError();
  } catch (...) {
    EXPECT_TRUE(ReportFromHere(std::current_exception()));
  }
  std::vector<Shown> shown = ShownSoFar();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].threadId, GetCurrentThreadId());
  ASSERT_TRUE(shown[0].context);
  EXPECT_TRUE(InFunction(shown[0].context->rip, reinterpret_cast<const void *>(&ThrowDiskError)))
      << std::hex << shown[0].context->rip;
}

TEST_F(KestrelixApi, StoredExceptionIsReportedWhereTheProgramReportsIt) {
  std::exception_ptr stored;
  try {
    throw std::logic_error("kept for later");
  } catch (...) {
    stored = std::current_exception();
  }
  try {
    throw 1; // a later raise on this thread: the stored object's raise is no longer known
  } catch (...) {
  }
  AddRecorder();
  EXPECT_TRUE(ReportFromHere(stored));
  std::vector<Seen> seen = SeenSoFar();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].className, "std::logic_error");
  EXPECT_EQ(seen[0].message, "kept for later");
  std::vector<Shown> shown = ShownSoFar();
  ASSERT_EQ(shown.size(), 1u);
  ASSERT_TRUE(shown[0].context);
  EXPECT_TRUE(InFunction(shown[0].context->rip, reinterpret_cast<const void *>(&ReportFromHere)))
      << std::hex << shown[0].context->rip;
  EXPECT_EQ(shown[0].context->rbp, reinterpret_cast<std::uintptr_t>(gReportingFrame));
  EXPECT_TRUE(InFunction(shown[0].address, reinterpret_cast<const void *>(&ReportFromHere)))
      << std::hex << shown[0].address;
}

TEST_F(KestrelixApi, StoredExceptionReportedFromAnotherThreadNamesThatThread) {
  std::exception_ptr stored = std::make_exception_ptr(std::out_of_range("index 7"));
  AddRecorder();
  bool reported = false;
  DWORD reporter = 0;
  std::thread other([&] {
    reporter = GetCurrentThreadId();
    reported = kestrelix::ReportException(stored);
  });
  other.join();
  EXPECT_TRUE(reported);
  ASSERT_EQ(SeenSoFar().size(), 1u);
  EXPECT_EQ(SeenSoFar()[0].message, "index 7");
  std::vector<Shown> shown = ShownSoFar();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].threadId, reporter);
}

TEST_F(KestrelixApi, HandledByAHandlerShowsNoDialog) {
  AddRecorder(true);
  int later = 0;
  Add([&](kestrelix::Exception &, bool &) { ++later; });
  EXPECT_TRUE(kestrelix::ReportException(std::make_exception_ptr(std::runtime_error("quietly"))));
  EXPECT_EQ(SeenSoFar().size(), 1u);
  EXPECT_EQ(later, 0) << "a handled exception reaches no further handler";
  EXPECT_TRUE(ShownSoFar().empty());
}

TEST_F(KestrelixApi, NullExceptionReportsNothing) {
  AddRecorder();
  EXPECT_FALSE(kestrelix::ReportException(nullptr));
  EXPECT_FALSE(kestrelix::ReportException(std::exception_ptr()));
  EXPECT_TRUE(SeenSoFar().empty());
  EXPECT_TRUE(ShownSoFar().empty());
}

TEST_F(KestrelixApi, SetSettingChecksNameAndTypeAndChangesThisExceptionOnly) {
  std::vector<std::pair<std::string, bool>> results;
  auto attempt = [&](const std::string &what, bool ok) { results.emplace_back(what, ok); };
  Add([&](kestrelix::Exception &e, bool &) {
    // Unknown names.
    attempt("NoSuchSetting", e.SetSetting("NoSuchSetting", true));
    attempt("mailaddr", e.SetSetting("mailaddr", "x@y.example"));
    attempt("Assistant0", e.SetSetting("Assistant0", "A|B"));
    attempt("Assistant01", e.SetSetting("Assistant01", "A|B"));
    attempt("Assistant", e.SetSetting("Assistant", "A|B"));
    // Values of another type than the setting's.
    attempt("MailAddr=true", e.SetSetting("MailAddr", true));
    attempt("MailAddr=5", e.SetSetting("MailAddr", 5));
    attempt("SmtpPort=text", e.SetSetting("SmtpPort", "2525"));
    attempt("SmtpPort=true", e.SetSetting("SmtpPort", true));
    attempt("AutoSave=1", e.SetSetting("AutoSave", 1));
    // The right types.
    attempt("MailAddr", e.SetSetting("MailAddr", "crash@tidewell.example"));
    attempt("BugRepFileSize", e.SetSetting("BugRepFileSize", 4096));
    attempt("SendBtnVis", e.SetSetting("SendBtnVis", false));
    attempt("Assistant12", e.SetSetting("Assistant12", "Extra|Extra Assistant|ContactForm"));
  });
  EXPECT_TRUE(kestrelix::ReportException(std::make_exception_ptr(std::runtime_error("one"))));
  std::vector<std::pair<std::string, bool>> expected = {
      {"NoSuchSetting", false}, {"mailaddr", false},       {"Assistant0", false},    {"Assistant01", false},
      {"Assistant", false},     {"MailAddr=true", false},  {"MailAddr=5", false},    {"SmtpPort=text", false},
      {"SmtpPort=true", false}, {"AutoSave=1", false},     {"MailAddr", true},       {"BugRepFileSize", true},
      {"SendBtnVis", true},     {"Assistant12", true}};
  EXPECT_EQ(results, expected);

  std::vector<Shown> shown = ShownSoFar();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].mailAddr, "crash@tidewell.example");
  EXPECT_EQ(shown[0].fileSize, 4096u);
  EXPECT_FALSE(shown[0].sendButton);
  // Refused values left the settings file's.
  EXPECT_EQ(shown[0].smtpPort, 587u);
  EXPECT_FALSE(shown[0].autoSave);

  // The next exception has the settings file's values again.
  for (int id : FIds)
    kestrelix::RemoveExceptionHandler(id);
  FIds.clear();
  EXPECT_TRUE(kestrelix::ReportException(std::make_exception_ptr(std::runtime_error("two"))));
  shown = ShownSoFar();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].mailAddr, "bugs@tidewell.example");
  EXPECT_EQ(shown[1].fileSize, 100000u);
  EXPECT_TRUE(shown[1].sendButton);
}

TEST_F(KestrelixApi, RemovedHandlerIsNoLongerCalledAndTheOthersAre) {
  int first = 0, second = 0;
  int a = Add([&](kestrelix::Exception &, bool &) { ++first; });
  int b = Add([&](kestrelix::Exception &, bool &) { ++second; });
  EXPECT_NE(a, b);
  kestrelix::RemoveExceptionHandler(a);
  kestrelix::RemoveExceptionHandler(a);      // twice
  kestrelix::RemoveExceptionHandler(-12345); // never given
  EXPECT_TRUE(kestrelix::ReportException(std::make_exception_ptr(std::runtime_error("x"))));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(kestrelix::AddExceptionHandler(kestrelix::ExceptionHandler()), 0) << "an empty handler";
}

TEST_F(KestrelixApi, HandlerThatRemovesItselfIsCalledOnce) {
  int calls = 0;
  int id = 0;
  id = Add([&](kestrelix::Exception &, bool &) {
    ++calls;
    kestrelix::RemoveExceptionHandler(id);
  });
  EXPECT_TRUE(kestrelix::ReportException(std::make_exception_ptr(std::runtime_error("x"))));
  EXPECT_TRUE(kestrelix::ReportException(std::make_exception_ptr(std::runtime_error("y"))));
  EXPECT_EQ(calls, 1);
}

TEST_F(KestrelixApi, ExceptionEscapingAHandlerIsIgnored) {
  Add([](kestrelix::Exception &, bool &) { throw std::runtime_error("the handler failed"); });
  AddRecorder();
  EXPECT_TRUE(kestrelix::ReportException(std::make_exception_ptr(std::runtime_error("original"))));
  std::vector<Seen> seen = SeenSoFar();
  ASSERT_EQ(seen.size(), 1u) << "the next handler still runs";
  EXPECT_EQ(seen[0].message, "original");
  EXPECT_EQ(ShownSoFar().size(), 1u);
}

TEST_F(KestrelixApi, ReportsFromInsideAHandlerAreRefused) {
  std::optional<bool> nestedException, nestedState;
  Add([&](kestrelix::Exception &, bool &) {
    if (nestedException)
      return;
    nestedException = kestrelix::ReportException(std::make_exception_ptr(std::runtime_error("nested")));
    nestedState = kestrelix::ReportState("nested state");
  });
  AddRecorder();
  EXPECT_TRUE(kestrelix::ReportException(std::make_exception_ptr(std::runtime_error("outer"))));
  ASSERT_TRUE(nestedException && nestedState);
  EXPECT_FALSE(*nestedException);
  EXPECT_FALSE(*nestedState);
  EXPECT_EQ(SeenSoFar().size(), 1u);
}

TEST_F(KestrelixApi, HandlersAddedAndRemovedOnManyThreadsKeepTheirIds) {
  std::atomic<int> calls{0};
  int kept = Add([&](kestrelix::Exception &, bool &) { ++calls; });
  std::mutex idsLock;
  std::vector<int> ids;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        int id = kestrelix::AddExceptionHandler([](kestrelix::Exception &, bool &) {});
        {
          std::lock_guard guard(idsLock);
          ids.push_back(id);
        }
        if (i % 2)
          kestrelix::RemoveExceptionHandler(id);
      }
    });
  // Meanwhile exceptions are handled.
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(kestrelix::ReportException(std::make_exception_ptr(std::runtime_error("busy"))));
  for (std::thread &t : threads)
    t.join();
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 0), 0);
  std::set<int> unique(ids.begin(), ids.end());
  unique.insert(kept);
  EXPECT_EQ(unique.size(), ids.size() + 1);
  for (int id : ids)
    kestrelix::RemoveExceptionHandler(id);
}

TEST_F(KestrelixApi, ReportStateShowsTheMessageAndTheCallersRegisters) {
  AddRecorder();
  EXPECT_TRUE(ReportStateFromHere("the pump stalls"));
  std::vector<Seen> seen = SeenSoFar();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, "the pump stalls");
  EXPECT_TRUE(seen[0].canContinue);
  EXPECT_NE(seen[0].report.find("the pump stalls"), std::string::npos) << seen[0].report;
  std::vector<Shown> shown = ShownSoFar();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].source, kx::TExceptSource::esManual);
  EXPECT_EQ(shown[0].message, "the pump stalls.");
  EXPECT_EQ(shown[0].threadId, GetCurrentThreadId());
  ASSERT_TRUE(shown[0].context);
  EXPECT_TRUE(InFunction(shown[0].context->rip, reinterpret_cast<const void *>(&ReportStateFromHere)))
      << std::hex << shown[0].context->rip;
  EXPECT_EQ(shown[0].context->rbp, reinterpret_cast<std::uintptr_t>(gReportingFrame));
  // The stack pointer after the call: inside this thread's stack, above the reporting frame's
  // locals and below this test's frame.
  EXPECT_LT(shown[0].context->rsp, reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)));
  EXPECT_LE(shown[0].context->rsp, reinterpret_cast<std::uintptr_t>(gReportingFrame));
}

} // namespace
