// The exception object: settings view, filters, message, update bracket, report callbacks and the
// waiting rules of the report text.
#include <gtest/gtest.h>

#include "crash/capture/exception/KXExceptMessage.h"
#include "crash/capture/exception/KXHandlers.h"
#include "runtime/Exception.h"
#include "tests/crash/capture/exception/HostTest.h"

namespace kx::test {

class ExceptionTest : public HostTest {
protected:
  // The filters of the program's own settings, and pausing on.
  static StreamBuilder ProgramFilters() {
    return StreamBuilder()
        .Text("F1Classes", " EDBEditError ")
        .Bool("F1NoBugRep", true)
        .Bool("F1NoScrShot", true)
        .Bool("F1NoSuspend", true)
        .Bool("F1NoHandlers", true)
        .Int("F1ShowCfg", 3)
        .Int("GnShowCfg", 0)
        .Int("ScrShotDepth", 8)
        .Bool("PauseThreads", true);
  }
  void SetUp() override { UseStream(ProgramFilters()); }
};

TEST_F(ExceptionTest, FiltersChooseByClassOrAncestorName) {
  ChildOfDBEditError dbError("bad date");
  auto e = Create(KXExceptObject::Of(dbError));
  EXPECT_FALSE(e->GetCreateBugReport());
  EXPECT_FALSE(e->GetCreateScreenShot());
  EXPECT_FALSE(e->GetAppendScreenShot());
  EXPECT_FALSE(e->GetCallHandlers());
  EXPECT_FALSE(e->GetSuspendThreads());
  EXPECT_EQ(e->GetShowSetting(), TKXShowSetting::ssSimpleBox);

  EConvertError convert("'' is not a valid integer value");
  auto general = Create(KXExceptObject::Of(convert));
  EXPECT_TRUE(general->GetCreateBugReport());
  EXPECT_TRUE(general->GetCreateScreenShot());
  EXPECT_TRUE(general->GetCallHandlers());
  EXPECT_TRUE(general->GetSuspendThreads()); // module pauses, general filter does not forbid it
  EXPECT_EQ(general->GetShowSetting(), TKXShowSetting::ssFullBox);

  // No object matches no list; a depth of 0 means no screenshot.
  UseStream(StreamBuilder().Int("ScrShotDepth", 0).Text("F2Classes", "Exception").Int("F2ShowCfg", 4));
  auto none = Create({});
  EXPECT_EQ(none->GetShowSetting(), TKXShowSetting::ssFullBox);
  EXPECT_FALSE(none->GetCreateScreenShot());
  EXPECT_EQ(none->GetExceptClass(), "Unknown");
}

TEST_F(ExceptionTest, ClassListsSplitAtCommasAndCompareExactly) {
  EXPECT_EQ(SplitClassList(" EAbort ,EConvertError,, EDBEditError "),
            (std::vector<std::string>{"EAbort", "EConvertError", "EDBEditError"}));
  EConvertError convert("x");
  EXPECT_TRUE(ClassListMatches("EFoo, Exception", KXExceptObject::Of(convert)));
  EXPECT_FALSE(ClassListMatches("econverterror", KXExceptObject::Of(convert)));
  EXPECT_FALSE(ClassListMatches("", KXExceptObject::Of(convert)));
}

TEST_F(ExceptionTest, MessagePreparation) {
  Exception plain(" \x01" "Cannot open\tport!!.. ");
  EXPECT_EQ(PrepareExceptMessage(KXExceptObject::Of(plain)), "Cannot openport.");
  Exception lines("first\r\nsecond");
  EXPECT_EQ(PrepareExceptMessage(KXExceptObject::Of(lines)), "first\r\nsecond.");
  Exception empty("  ");
  EXPECT_EQ(PrepareExceptMessage(KXExceptObject::Of(empty)), "Unknown.");
  // A standard exception: its what(); an empty one, and an object of another class, are named
  // by their class.
  std::out_of_range range("vector::_M_range_check");
  EXPECT_EQ(PrepareExceptMessage(KXExceptObject::Of(range)), "vector::_M_range_check.");
  std::runtime_error silent("");
  EXPECT_EQ(PrepareExceptMessage(KXExceptObject::Of(silent)), "std::runtime_error.");
  struct Gauge {
    virtual ~Gauge() = default;
  } gauge;
  EXPECT_EQ(PrepareExceptMessage(KXExceptObject::Of(gauge)).back(), '.');
  EXPECT_NE(PrepareExceptMessage(KXExceptObject::Of(gauge)).find("Gauge"), std::string::npos);
  EXPECT_EQ(PrepareExceptMessage({}), "Unknown.");
  // The message of a derived class is found through its Exception base.
  EAccessViolation av("Access violation at address $401000", 0xC0000005);
  auto e = Create(KXExceptObject::Of(av));
  EXPECT_EQ(e->GetExceptClass(), "EAccessViolation");
  EXPECT_EQ(e->GetExceptMessage(), "Access violation at address $401000.");
  e->SetExceptMessage("replaced");
  EXPECT_EQ(e->GetExceptMessage(), "replaced");
}

TEST_F(ExceptionTest, CanContinueAndCallstackCrcBounds) {
  Exception x("x");
  auto fixed = Create(KXExceptObject::Of(x), false);
  fixed->SetCanContinue(true);
  EXPECT_FALSE(fixed->GetCanContinue());

  auto free = Create(KXExceptObject::Of(x), true);
  free->SetCanContinue(false);
  EXPECT_FALSE(free->GetCanContinue());
  free->SetCanContinue(true);
  EXPECT_TRUE(free->GetCanContinue());

  KXCompositionResult crc;
  crc.callstackCrc = {{0, 0, 0xDEADBEEF}};
  free->ApplyComposition(crc);
  EXPECT_EQ(free->GetCallstackCrc(2), 0xDEADBEEFu);
  EXPECT_EQ(free->GetCallstackCrc(3), 0u);
  EXPECT_EQ(free->GetCallstackCrc(-1), 0u);
  EXPECT_EQ(free->GetCrashedThreadId(), 7u);
  EXPECT_EQ(free->CurrentEsp(), 0x12ff00u);
}

TEST_F(ExceptionTest, OverridesStayOnTheExceptionAndTextsExpandWithIt) {
  UseStream(ProgramFilters().Int("AutoDelay", 10).Text("MailSubj", "%exceptClass%: %exceptMsg% %bugReport%"));
  EConvertError convert("'abc' is not a valid integer value");
  auto e = Create(KXExceptObject::Of(convert));
  e->SetAutoDelay(3);
  EXPECT_EQ(e->GetAutoDelay(), 3u);
  EXPECT_EQ(host->settings->GetAutoDelay(), 10u);
  auto second = Create(KXExceptObject::Of(convert));
  EXPECT_EQ(second->GetAutoDelay(), 10u);
  EXPECT_EQ(e->GetMailSubject(), "EConvertError: 'abc' is not a valid integer value. %bugReport%");
  // A key neither list holds comes from the built-in table.
  EXPECT_EQ(e->GetAutoClose(), 0u);
}

namespace {
struct CallbackLog {
  std::vector<std::pair<bool, std::string>> calls;
};
CallbackLog *gLog = nullptr;
void LogCallback(bool complete, const std::string &text, IKXException &) { gLog->calls.emplace_back(complete, text); }
void LogMethod(void *log, bool complete, const std::string &text, IKXException &) {
  static_cast<CallbackLog *>(log)->calls.emplace_back(complete, "method:" + text);
}
} // namespace

TEST_F(ExceptionTest, CallbacksAreCalledAtOnceAndReRegisteringOnlyChangesTheFlag) {
  CallbackLog log;
  gLog = &log;
  Exception x("x");
  auto e = Create(KXExceptObject::Of(x));
  e->GetBugReport(false);
  e->RegisterBugReportCallback(&LogCallback, false);
  ASSERT_EQ(log.calls.size(), 1u);
  EXPECT_TRUE(log.calls[0].first); // the report was complete when the callback came
  EXPECT_NE(log.calls[0].second.find("exception class=Exception"), std::string::npos);
  EXPECT_FALSE(e->CriticalBugReportCallbackExists());

  e->RegisterBugReportCallback(&LogCallback, true);
  EXPECT_EQ(log.calls.size(), 1u);
  EXPECT_TRUE(e->CriticalBugReportCallbackExists());

  // Method callbacks are told apart by object.
  CallbackLog other;
  e->RegisterBugReportCallback(TBugReportCallbackOO{&LogMethod, &other}, false);
  e->RegisterBugReportCallback(TBugReportCallbackOO{&LogMethod, &log}, false);
  EXPECT_EQ(other.calls.size(), 1u);
  EXPECT_EQ(log.calls.size(), 2u);

  e->UnregisterBugReportCallback(&LogCallback);
  EXPECT_FALSE(e->CriticalBugReportCallbackExists());
  e->UnregisterBugReportCallback(TBugReportCallbackOO{&LogMethod, &other});
  e->SetModified();
  EXPECT_EQ(other.calls.size(), 1u);
  EXPECT_EQ(log.calls.size(), 3u);
  gLog = nullptr;
}

TEST_F(ExceptionTest, UpdateBracketCountsOneModification) {
  CallbackLog log;
  gLog = &log;
  Exception x("x");
  auto e = Create(KXExceptObject::Of(x));
  e->GetBugReport(false);
  e->RegisterBugReportCallback(&LogCallback, false);
  uint64_t before = e->ModificationCount();
  e->BeginUpdate();
  e->GetBugReportHeader()->SetContent("one", "1");
  e->GetBugReportHeader()->SetContent("two", "2");
  e->BeginUpdate();
  e->EndUpdate();
  EXPECT_EQ(e->ModificationCount(), before);
  EXPECT_EQ(log.calls.size(), 1u);
  e->EndUpdate();
  EXPECT_EQ(e->ModificationCount(), before + 1);
  ASSERT_EQ(log.calls.size(), 2u);
  EXPECT_NE(log.calls[1].second.find("two=2"), std::string::npos);
  // Outside a bracket every change counts.
  e->GetBugReportHeader()->SetContent("three", "3");
  EXPECT_EQ(e->ModificationCount(), before + 2);
  gLog = nullptr;
}

TEST_F(ExceptionTest, CompleteReportWaitsForTheCompletionWithThePleaseWaitWindow) {
  UseStream(ProgramFilters().Bool("PlWaitBox", true));
  auto completion = std::make_shared<FakeCompletion>();
  host->composer.completion = completion;
  Exception x("x");
  auto e = Create(KXExceptObject::Of(x));
  std::string partial = e->GetBugReport(false);
  EXPECT_EQ(partial.find("|complete"), std::string::npos);
  EXPECT_EQ(e->GetCompleteThreadId(), 4242u);

  completion->onWait = [&] {
    if (completion->waits == 3) {
      e->ApplyComposition(FakeComposer::Completed());
      completion->ended = true;
    }
  };
  std::string full = e->GetBugReport(true);
  EXPECT_NE(full.find("|complete"), std::string::npos);
  EXPECT_TRUE(completion->raised);
  EXPECT_EQ(completion->waits, 3);
  EXPECT_EQ(host->progress->pumps, 3); // after every unfinished step and once at the end
  // A complete report is returned from the cache.
  int builds = host->composer.builds;
  EXPECT_EQ(e->GetBugReport(true), full);
  EXPECT_EQ(host->composer.builds, builds);
}

TEST_F(ExceptionTest, BlockedProcessComposesWithoutWaitingAndTerminatesTheCompletion) {
  auto completion = std::make_shared<FakeCompletion>();
  host->composer.completion = completion;
  Exception x("x");
  auto e = Create(KXExceptObject::Of(x));
  e->GetBugReport(false);
  host->lockHeld = true;
  std::string text = e->GetBugReport(true);
  EXPECT_EQ(completion->waits, 0);
  EXPECT_EQ(text.find("|complete"), std::string::npos);
  e.reset();
  EXPECT_TRUE(completion->terminated);
}

TEST_F(ExceptionTest, NoReportWantedReturnsTheStoredText) {
  ChildOfDBEditError db("d");
  auto e = Create(KXExceptObject::Of(db));
  EXPECT_EQ(e->GetBugReport(true), "");
  EXPECT_EQ(host->composer.builds, 0);
  e->SetBugReport("given");
  EXPECT_EQ(e->GetBugReport(true), "given");
}

TEST_F(ExceptionTest, ScreenshotIsTakenOnceAndAFailureClearsTheDecision) {
  Exception x("x");
  auto e = Create(KXExceptObject::Of(x));
  EXPECT_TRUE(e->GetScreenShot());
  EXPECT_TRUE(e->GetScreenShot());
  EXPECT_EQ(host->screenshots, 1);
  host->screenshotFails = true;
  auto f = Create(KXExceptObject::Of(x));
  EXPECT_FALSE(f->GetScreenShot());
  EXPECT_FALSE(f->GetCreateScreenShot());
  EXPECT_FALSE(f->GetScreenShot());
  EXPECT_EQ(host->screenshots, 2);
}

TEST_F(ExceptionTest, FirstTimeCountersAndPhaseStep) {
  Exception x("x");
  auto e = Create(KXExceptObject::Of(x));
  EXPECT_TRUE(e->FirstAutoSave());
  EXPECT_FALSE(e->FirstAutoSave());
  EXPECT_TRUE(e->FirstCompleteCallback());
  EXPECT_FALSE(e->FirstCompleteCallback());
  e->SetPhase(TExceptPhase::epPostProcessing);
  EXPECT_EQ(e->GetPhase(), TExceptPhase::epPostProcessing);
  e->ApplyComposition(FakeComposer::Completed());
  e->SetPhase(TExceptPhase::epPostProcessing);
  EXPECT_EQ(e->GetPhase(), TExceptPhase::epCompleteReport);
}

TEST_F(ExceptionTest, ConsoleProgramWritesTheMessageAndTheReport) {
  UseStream(ProgramFilters().Text("ExceptMsg", "An error occurred: %exceptMsg%%bugReport%").Bool("ShowBtnVis", true));
  host->console = true;
  Exception x("disk full");
  auto e = Create(KXExceptObject::Of(x));
  e->Show();
  ASSERT_EQ(host->consoleLines.size(), 3u);
  EXPECT_EQ(host->consoleLines[0], "An error occurred: disk full.");
  EXPECT_EQ(host->consoleLines[1], "");
  EXPECT_NE(host->consoleLines[2].find("exception message=disk full."), std::string::npos);
  EXPECT_FALSE(e->GetShowPleaseWaitBox());
}

} // namespace kx::test
