// The handling sequence for one hand-off record, the firing of handlers, the automatic actions
// and the exception-time ring.
#include <gtest/gtest.h>

#include "crash/capture/exception/KXExceptionTimes.h"
#include "crash/capture/exception/KXHandlers.h"
#include "crash/capture/exception/KXHandlingSequence.h"
#include "runtime/Exception.h"
#include "tests/crash/capture/exception/HostTest.h"

namespace kx::test {

class SequenceTest : public HostTest {
protected:
  static StreamBuilder Base() {
    return StreamBuilder()
        .Text("F1Classes", "EDBEditError")
        .Bool("F1NoBugRep", true)
        .Bool("F1NoScrShot", true)
        .Bool("F1NoHandlers", true)
        .Int("F1ShowCfg", 3)
        .Int("ScrShotDepth", 8);
  }
  void SetUp() override {
    SetExceptionTimes({});
    UseStream(Base());
  }
  void Handle(Exception &object, bool canContinue = true, TExceptType type = TExceptType::etNormal) {
    KXCaughtException c;
    c.threadId = 9;
    c.exceptType = type;
    c.exceptObject = KXExceptObject::Of(object);
    c.exceptAddr = 0x401000;
    c.canContinue = canContinue;
    c.source = TExceptSource::esApplicationHandleException;
    ProcessCaughtException(c);
  }
};

namespace {
std::vector<std::string> *gEvents = nullptr;
void QuickHandler(IKXException &e, bool &handled) {
  gEvents->push_back("quick " + e.GetExceptMessage());
  handled = e.GetExceptMessage() == "handle me.";
}
void PostHandlerA(IKXException &, bool &handled) {
  gEvents->push_back("post A");
  handled = true;
}
void PostHandlerB(IKXException &, bool &) { gEvents->push_back("post B"); }
void Throwing(IKXException &, bool &) {
  gEvents->push_back("throwing");
  throw std::runtime_error("handler failure");
}
void ActionHandler(TExceptAction action, IKXException &, bool &) {
  gEvents->push_back("action " + std::to_string(int(action)));
}
void HiddenHandler(IKXException &, bool &) { gEvents->push_back("hidden"); }
void CloseRefuser(TExceptAction action, IKXException &, bool &handled) {
  handled = action == TExceptAction::eaCloseApplication;
}
} // namespace

namespace {
KXHandlerEntry Event(TExceptPhase phase, TExceptEvent event, TSyncType sync = TSyncType::stDontSync) {
  KXHandlerEntry h;
  h.sync = sync;
  h.phase = phase;
  h.event = event;
  return h;
}
KXHandlerEntry Action(TExceptActionEvent action) {
  KXHandlerEntry h;
  h.action = action;
  return h;
}
} // namespace

TEST_F(SequenceTest, FullBoxShowsTheDialogAndLeavesTheChoiceToIt) {
  EConvertError convert("x");
  Handle(convert);
  EXPECT_EQ(host->boxes, (std::vector<TExceptionBoxForm>{TExceptionBoxForm::fullBox}));
  EXPECT_EQ(host->calls.front(), "empty temp");
  EXPECT_EQ(host->Count("close process"), 0);
  EXPECT_EQ(host->Count("reset freeze"), 1);
  EXPECT_EQ(host->screenshots, 1);
  EXPECT_EQ(host->composer.builds, 1);
  EXPECT_NE(ExceptionTimes()[0], 0);
}

// Every correction of this host moves the address on, so a second one would show in the object.
TEST_F(SequenceTest, TheAddressIsCorrectedOnceAndPicksTheSettings) {
  host->correctionShift = 4;
  std::uintptr_t shown = 0;
  host->onShow = [&](IKXException &e) { shown = e.GetExceptAddr(); };
  EConvertError convert("x");
  Handle(convert);
  EXPECT_EQ(host->corrections, 1);
  EXPECT_EQ(host->settingsAddresses, (std::vector<std::uintptr_t>{0x401004}));
  EXPECT_EQ(shown, 0x401004u);
}

TEST_F(SequenceTest, MiniDumpIsWrittenWhenAskedForAndItsFailureIsInTheReport) {
  EConvertError convert("x");
  Handle(convert);
  EXPECT_EQ(host->Count("minidump"), 0); // off by default

  UseStream(Base().Bool("AttachMiniDump", true));
  host->miniDumpError = "dbghelp.dll cannot be loaded";
  std::string section;
  host->onShow = [&](IKXException &e) { section = e.GetBugReportSections()->GetContent("minidump"); };
  Handle(convert);
  EXPECT_EQ(host->Count("minidump"), 1);
  EXPECT_EQ(section, ">> internal error in minidump:\r\ndbghelp.dll cannot be loaded");

  host->miniDumpError.clear();
  Handle(convert);
  EXPECT_EQ(host->Count("minidump"), 2);
  EXPECT_EQ(section, "");
}

TEST_F(SequenceTest, DialogChoicesEndTheProcessWithTheirActions) {
  EConvertError convert("x");
  host->dialog = 0x777;
  host->onShow = [](IKXException &e) { e.CloseApplication(0); };
  Handle(convert);
  EXPECT_EQ(host->Count("send 1803"), 1);
  EXPECT_EQ(host->Count("close process"), 1);

  host->calls.clear();
  host->onShow = [](IKXException &e) { e.RestartApplication(0); };
  Handle(convert);
  EXPECT_EQ(host->Count("restart process"), 1);

  host->calls.clear();
  host->onShow = [](IKXException &e) { e.ContinueApplication(0); };
  Handle(convert);
  EXPECT_EQ(host->Count("send 1803"), 1);
  EXPECT_EQ(host->Count("close process") + host->Count("restart process"), 0);

  // A handler that takes over the close keeps the process alive.
  RegisterExceptionHandler(KXHandlerKind::action, Action(&CloseRefuser));
  host->calls.clear();
  host->onShow = [](IKXException &e) { e.CloseApplication(0); };
  Handle(convert);
  EXPECT_EQ(host->Count("close process"), 0);
}

TEST_F(SequenceTest, FilteredExceptionGetsTheSimpleBoxAndNothingElse) {
  std::vector<std::string> events;
  gEvents = &events;
  RegisterExceptionHandler(KXHandlerKind::exception, Event(TExceptPhase::epQuickFiltering, &QuickHandler));
  ChildOfDBEditError db("bad date");
  Handle(db);
  EXPECT_EQ(host->boxes, (std::vector<TExceptionBoxForm>{TExceptionBoxForm::simpleBox}));
  EXPECT_EQ(host->screenshots, 0);
  EXPECT_EQ(host->composer.builds, 0);
  EXPECT_TRUE(events.empty());
  gEvents = nullptr;
}

TEST_F(SequenceTest, NotShownAndNotContinuableCloses) {
  UseStream(Base().Int("GnShowCfg", 4));
  EConvertError convert("x");
  Handle(convert, true);
  EXPECT_TRUE(host->boxes.empty());
  EXPECT_EQ(host->Count("close process"), 0);
  Handle(convert, false);
  EXPECT_EQ(host->Count("close process"), 1);
}

TEST_F(SequenceTest, DetailAndAssistantForms) {
  UseStream(Base().Int("GnShowCfg", 2));
  EConvertError convert("x");
  Handle(convert);
  UseStream(Base().Int("GnShowCfg", 1).Text("GnAssis", "Missing"));
  Handle(convert);
  EXPECT_EQ(host->boxes, (std::vector<TExceptionBoxForm>{TExceptionBoxForm::fullBox}));
  EXPECT_EQ(host->Count("assistant Missing"), 1);
}

TEST_F(SequenceTest, TenExceptionsWithinTheWindowCloseAfterTheTenth) {
  UseStream(Base().Int("GnShowCfg", 4).Int("AutoClose", 60));
  EConvertError convert("x");
  for (int i = 0; i < 9; ++i) {
    host->now += 5;
    Handle(convert);
  }
  EXPECT_EQ(host->Count("close process"), 0);
  host->now += 5;
  Handle(convert);
  EXPECT_EQ(host->Count("close process"), 1);

  // Spread over more than the window: no close.
  SetExceptionTimes({});
  host->calls.clear();
  for (int i = 0; i < 10; ++i) {
    host->now += 7;
    Handle(convert);
  }
  EXPECT_EQ(host->Count("close process"), 0);
}

TEST(AutoActionDue, ZeroOneAndN) {
  TExceptionTimes none{};
  EXPECT_FALSE(AutoActionDue(0, none, 1000));
  EXPECT_TRUE(AutoActionDue(1, none, 1000));
  EXPECT_FALSE(AutoActionDue(60, none, 1000));
  TExceptionTimes ten;
  for (int i = 0; i < 10; ++i)
    ten[size_t(i)] = 1000 - 6 * i; // oldest 54 s ago
  EXPECT_TRUE(AutoActionDue(60, ten, 1000));
  EXPECT_TRUE(AutoActionDue(54, ten, 1000));
  EXPECT_FALSE(AutoActionDue(53, ten, 1000));
  ten[9] = 0;
  EXPECT_FALSE(AutoActionDue(60, ten, 1000));
}

TEST(ExceptionTimesRing, NewestFirstOldestDropsOut) {
  SetExceptionTimes({});
  for (int i = 1; i <= 11; ++i)
    RecordExceptionTime(i);
  TExceptionTimes t = ExceptionTimes();
  EXPECT_EQ(t[0], 11);
  EXPECT_EQ(t[9], 2);
  SetExceptionTimes({});
}

TEST_F(SequenceTest, AutoRestartOfANonContinuableException) {
  UseStream(Base().Int("GnShowCfg", 4).Int("AutoRestart", 1));
  EConvertError convert("x");
  Handle(convert, false);
  EXPECT_EQ(host->Count("restart process"), 1);
  EXPECT_EQ(host->Count("close process"), 0);
}

TEST_F(SequenceTest, HiddenExceptionsReachOnlyHiddenHandlers) {
  std::vector<std::string> events;
  gEvents = &events;
  RegisterExceptionHandler(KXHandlerKind::hidden, Event(TExceptPhase::epNotHandledYet, &HiddenHandler));
  RegisterExceptionHandler(KXHandlerKind::exception, Event(TExceptPhase::epQuickFiltering, &QuickHandler));
  EConvertError convert("x");
  Handle(convert, true, TExceptType::etHidden);
  EXPECT_EQ(events, (std::vector<std::string>{"hidden"}));
  EXPECT_TRUE(host->boxes.empty());
  EXPECT_EQ(ExceptionTimes()[0], 0); // not counted
  EXPECT_EQ(host->Count("pause"), 0);
  gEvents = nullptr;
}

TEST_F(SequenceTest, QuickFilteringHandlerEndsTheSequence) {
  std::vector<std::string> events;
  gEvents = &events;
  RegisterExceptionHandler(KXHandlerKind::exception, Event(TExceptPhase::epQuickFiltering, &QuickHandler));
  Exception handled("handle me");
  Handle(handled);
  EXPECT_TRUE(host->boxes.empty());
  EXPECT_EQ(host->composer.builds, 0);
  EXPECT_EQ(host->Count("reset freeze"), 0);
  Exception other("other");
  Handle(other);
  EXPECT_EQ(host->boxes.size(), 1u);
  EXPECT_EQ(events, (std::vector<std::string>{"quick handle me.", "quick other."}));
  gEvents = nullptr;
}

TEST_F(SequenceTest, PostProcessingCallsEveryHandlerAndSwallowsFailures) {
  std::vector<std::string> events;
  gEvents = &events;
  auto post = TExceptPhase::epPostProcessing;
  host->composer.completion = std::make_shared<FakeCompletion>(); // the report is not complete yet
  host->composer.completion->ended = true;
  RegisterExceptionHandler(KXHandlerKind::exception, Event(post, &Throwing));
  RegisterExceptionHandler(KXHandlerKind::exception, Event(post, &PostHandlerA));
  RegisterExceptionHandler(KXHandlerKind::exception, Event(post, &PostHandlerB));
  EConvertError convert("x");
  Handle(convert);
  EXPECT_EQ(events, (std::vector<std::string>{"throwing", "post A", "post B"}));
  EXPECT_EQ(host->boxes.size(), 1u); // handled was reset after the phase
  gEvents = nullptr;
}

TEST_F(SequenceTest, SynchronisedHandlersFallBackOnlyWhenAlwaysWanted) {
  std::vector<std::string> events;
  gEvents = &events;
  auto post = TExceptPhase::epPostProcessing;
  host->composer.completion = std::make_shared<FakeCompletion>();
  host->composer.completion->ended = true;
  RegisterExceptionHandler(KXHandlerKind::exception,
                           Event(post, &PostHandlerA, TSyncType::stTrySyncCallOnSuccess));
  RegisterExceptionHandler(KXHandlerKind::exception,
                           Event(post, &PostHandlerB, TSyncType::stTrySyncCallAlways));
  EConvertError convert("x");
  Handle(convert);
  EXPECT_EQ(events, (std::vector<std::string>{"post A", "post B"}));
  EXPECT_EQ(host->Count("main thread call"), 1);

  events.clear();
  host->mainThreadAnswers = false;
  Handle(convert);
  EXPECT_EQ(events, (std::vector<std::string>{"post B"}));
  gEvents = nullptr;
}

TEST_F(SequenceTest, PausingFollowsTheSettings) {
  EConvertError convert("x");
  Handle(convert);
  EXPECT_EQ(host->Count("pause"), 0);
  UseStream(Base().Bool("PauseThreads", true));
  Handle(convert);
  EXPECT_EQ(host->Count("pause"), 1);
  EXPECT_EQ(host->Count("resume"), 1);
  host->calls.clear();
  Handle(convert, true, TExceptType::etFrozen);
  EXPECT_EQ(host->Count("pause"), 0);
}

TEST_F(SequenceTest, AutomaticSendClipboardAndSaveHappenOnce) {
  UseStream(Base().Bool("AutoSend", true).Bool("AutoClip", true).Bool("AutoSave", true));
  std::vector<std::string> events;
  gEvents = &events;
  RegisterExceptionHandler(KXHandlerKind::action, Action(&ActionHandler));
  EConvertError convert("x");
  host->onShow = [](IKXException &e) {
    e.GetBugReport(true); // the dialog asks for the complete report twice
    e.GetBugReport(true);
  };
  host->composer.completion = nullptr;
  Handle(convert);
  ASSERT_EQ(host->sends.size(), 1u);
  EXPECT_EQ(host->sends[0].rfind("hidden:", 0), 0u);
  EXPECT_EQ(host->clipboard.size(), 1u);
  ASSERT_EQ(host->saves.size(), 1u);
  EXPECT_TRUE(host->saves[0].first);
  EXPECT_EQ(events, (std::vector<std::string>{"action 0", "action 1"}));
  gEvents = nullptr;
}

TEST_F(SequenceTest, FailingDialogStillSavesTheReportAndDecidesHowToGoOn) {
  UseStream(Base().Bool("AutoSave", true));
  EConvertError convert("x");
  host->onShow = [](IKXException &) { throw std::runtime_error("the dialog failed"); };
  Handle(convert);
  ASSERT_EQ(host->saves.size(), 1u) << "the report is saved although the dialog failed";
  EXPECT_TRUE(host->saves[0].first);
  EXPECT_EQ(host->Count("close process"), 0);
  EXPECT_EQ(host->Count("reset freeze"), 1) << "the sequence ran to its end";

  // Without continuing, the failed dialog leaves the automatic close to the sequence.
  host->saves.clear();
  host->calls.clear();
  Handle(convert, false);
  EXPECT_EQ(host->saves.size(), 1u);
  EXPECT_EQ(host->Count("close process"), 1);
  host->onShow = nullptr;
}

TEST_F(SequenceTest, SaveIfNotSentSkipsTheSaveAfterASend) {
  UseStream(Base().Bool("AutoSave", true).Bool("AutoSaveIfNotSent", true).Int("GnShowCfg", 4));
  EConvertError convert("x");
  host->onShow = nullptr;
  Handle(convert);
  EXPECT_EQ(host->saves.size(), 1u);
  // The same with a send that succeeded before the save.
  Exception x("x");
  auto e = Create(KXExceptObject::Of(x));
  e->SetMailWasSent(true);
  e->FinishAutoActions(false);
  EXPECT_EQ(host->saves.size(), 1u);
}

TEST_F(SequenceTest, CancelledSendAssistantAbandonsTheSend) {
  UseStream(Base().Text("SendAssis", "SendAssistant"));
  host->assistants["SendAssistant"] = false;
  Exception x("x");
  auto e = Create(KXExceptObject::Of(x));
  e->SendBugReport(0x55);
  EXPECT_TRUE(host->sends.empty());
  host->assistants["SendAssistant"] = true;
  e->SendBugReport(0x55);
  ASSERT_EQ(host->sends.size(), 1u);
  e->SendBugReport(0x55); // the earlier send thread's handle is closed
  ASSERT_EQ(host->closedThreads.size(), 1u);
  EXPECT_EQ(host->closedThreads[0].first, 100u);
}

} // namespace kx::test
