#include "crash/capture/exception/KXHandlingSequence.h"

#include "crash/capture/exception/KXExceptionObject.h"
#include "crash/capture/exception/KXExceptionTimes.h"
#include "crash/capture/exception/KXHandlers.h"

namespace kx {

namespace {
// Lets the paused threads run again however the sequence ends.
class PausedThreads {
public:
  explicit PausedThreads(IKXExceptionHost &host) : FHost(host) {}
  ~PausedThreads() {
    if (FPaused)
      try {
        FHost.Threads().PauseOtherThreads(false, 0);
      } catch (...) {
      }
  }
  void Pause(uint32_t exceptThreadId) {
    FHost.Threads().PauseOtherThreads(true, exceptThreadId);
    FPaused = true;
  }

private:
  IKXExceptionHost &FHost;
  bool FPaused = false;
};

// One step of the sequence whose failure must not cost the steps after it: a dialog or
// screenshot that fails still leaves the report to be saved and the program to go on.
template <class Step> void Guarded(Step step) {
  try {
    step();
  } catch (...) {
  }
}

void Sequence(const KXCaughtException &handed, IKXExceptionHost &host) {
  // 1, 2: a fresh temporary folder; the corrected address decides the module's settings. This is
  // the exception's one address correction: the object stores the address as given.
  host.Data().EmptyTempDirectory();
  KXCaughtException caught = handed;
  caught.exceptAddr = host.Data().CorrectExceptAddress(handed.exceptAddr, handed.exceptObject);
  caught.moduleSettings = host.Data().SettingsOfAddress(caught.exceptAddr);

  // 3: the object.
  std::shared_ptr<TIKXException> e = CreateExceptionObject(caught);
  if (!e)
    return;

  // 4, 5: quick filtering.
  e->SetPhase(TExceptPhase::epQuickFiltering);
  bool handled;
  if (e->GetExceptType() == TExceptType::etHidden) {
    handled = true;
    FireExceptionEvent(0, 2, TExceptAction::eaContinueApplication, handled, *e);
  } else {
    handled = false;
    RecordExceptionTime(host.Threads().NowSeconds());
  }
  if (!handled)
    FireExceptionEvent(0, 0, TExceptAction::eaContinueApplication, handled, *e);

  // 6: main phase.
  e->SetPhase(TExceptPhase::epMainPhase);
  if (handled)
    return;

  // 7: pause the other threads; they run again however the sequence ends.
  PausedThreads paused(host);
  if (e->GetExceptType() != TExceptType::etFrozen && e->GetSuspendThreads() && host.Threads().ReporterInExecutable())
    paused.Pause(e->GetCompleteThreadId());

  // 8: screenshot and report, then the main-phase event.
  if (e->GetCreateScreenShot())
    Guarded([&] { e->GetScreenShot(); });
  if (e->GetCreateBugReport())
    Guarded([&] { e->GetBugReport(false); });
  // The minidump for the developer's debugger, while the other threads still stand; when it
  // cannot be written the report says why.
  if (e->GetAttachMiniDump())
    Guarded([&] {
      std::string error = host.Outputs().WriteMiniDump(*e);
      if (!error.empty() && e->GetCreateBugReport())
        e->GetBugReportSections()->Add("minidump", ">> internal error in minidump:\r\n" + error);
    });
  FireExceptionEvent(0, 0, TExceptAction::eaContinueApplication, handled, *e);

  // 9: post-processing.
  e->SetPhase(TExceptPhase::epPostProcessing);
  if (!handled)
    FireExceptionEvent(0, 0, TExceptAction::eaContinueApplication, handled, *e);

  bool console = host.Windows().IsConsoleProgram();
  bool serverMode = false; // no web-server integration in this program
  if (handled && e->GetCanContinue()) {
    // 10: straight to the end
  } else {
    if (!handled) {
      // 11: automatic actions and showing.
      if (e->GetAutoSave() || e->GetAutoSend() || e->GetAutoClipboard())
        Guarded([&] { e->RegisterAutoActions(); });
      if (serverMode || console) {
        if (e->GetShowSetting() != TKXShowSetting::ssNothing) {
          if (console)
            Guarded([&] { e->Show(); });
          else if (caught.bugReportOut)
            Guarded([&] { *caught.bugReportOut = e->GetBugReport(true); });
        }
      } else {
        Guarded([&] { e->Show(); });
      }
    }
    // 12: how the program goes on.
    if (e->GetCanContinue() && e->GetShowSetting() != TKXShowSetting::ssNothing && !serverMode && !console) {
      // the dialog offered the choice already
    } else {
      TExceptionTimes times = ExceptionTimes();
      int64_t now = host.Threads().NowSeconds();
      bool closeDue = AutoActionDue(e->GetAutoClose(), times, now);
      bool restartDue = AutoActionDue(e->GetAutoRestart(), times, now);
      bool ignored = false;
      if (closeDue || (!e->GetCanContinue() && !restartDue)) {
        FireExceptionEvent(0, 1, TExceptAction::eaCloseApplication, ignored, *e);
        Guarded([&] { e->FinishAutoActions(true); });
        host.ProcessEnd().CloseProcess();
        return;
      }
      if (restartDue) {
        FireExceptionEvent(0, 1, TExceptAction::eaRestartApplication, ignored, *e);
        Guarded([&] { e->FinishAutoActions(true); });
        host.ProcessEnd().RestartProcess();
        return;
      }
      FireExceptionEvent(0, 1, TExceptAction::eaContinueApplication, handled, *e);
    }
    // 13
    if (!handled)
      e->FinishAutoActions(false);
  }
  // 14
  host.Threads().ResetFreezeMissCounter();
}
} // namespace

void ProcessCaughtException(const KXCaughtException &caught) {
  try {
    Sequence(caught, ExceptionHost());
  } catch (...) {
  }
}

} // namespace kx
