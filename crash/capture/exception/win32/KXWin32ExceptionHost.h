#pragma once
// The exception host of the live process: threads and locks from the thread bookkeeping, the
// settings, the stand-in window, the restart and the end of the process.
#include <windows.h>

#include <functional>

#include "crash/capture/exception/KXExceptionHost.h"

namespace kx {

// The capture layer's host: threads, settings, the report composition (KXHeaderOnlyComposer until
// the full one is installed), the windows it can make by itself (the stand-in box, window
// messages, the console) and the end of the process. What needs a higher layer is installed by
// the shell at start-up (crash/shell/win32: InstallShellWindows, InstallShellOutputs); until then
// the host behaves as before start-up completes:
//   please-wait window  none (nullptr: the object shows no progress)
//   screenshot          none (nullptr: the object drops CreateScreenShot)
//   assistant           none (false: the object shows the exception box instead)
//   exception box       the stand-in window (KXStandInBox)
//   outputs             KXStandInOutputs: no send (0), no save, no print, no clipboard, the
//                       minidump fails with a reason; thread handles are still closed
class KXWin32ExceptionHost final : public IKXExceptionHost,
                                   public IKXThreadHost,
                                   public IKXDataHost,
                                   public IKXWindowHost,
                                   public IKXProcessEndHost {
public:
  using PleaseWaitMaker = std::function<std::shared_ptr<IProgressAlert>(const std::string &title, KXModule module)>;
  using ScreenShotMaker = std::function<std::shared_ptr<INVBitmap>(IKXException &)>;
  using AssistantRunner = std::function<bool(IKXException &, const std::string &name, KXWindow parent, bool &ok)>;
  using ExceptionBox = std::function<void(IKXException &, TExceptionBoxForm)>;

  static KXWin32ExceptionHost &Instance();

  // Replaces the report composition (the host starts with KXHeaderOnlyComposer).
  void SetReportComposer(IKXReportComposer *composer) { FComposer = composer; }
  // Replaces the window that shows an exception (the host starts with the stand-in window).
  void SetExceptionBox(ExceptionBox show) { FShowBox = std::move(show); }
  // The progress window, the screenshot and the assistants (the host starts without them); an
  // empty function takes the part away again.
  void SetPleaseWaitWindow(PleaseWaitMaker make) { FPleaseWait = std::move(make); }
  void SetScreenShot(ScreenShotMaker capture) { FScreenShot = std::move(capture); }
  void SetAssistant(AssistantRunner run) { FAssistant = std::move(run); }
  // Replaces delivery and saving (the host starts with KXStandInOutputs); null restores it.
  void SetOutputs(IKXOutputHost *outputs);
  // Console detection is on from the start: a console program writes exceptions to standard
  // output instead of showing windows.
  void SetConsoleDetection(bool on) { FConsoleDetection = on; }

  // IKXExceptionHost
  IKXThreadHost &Threads() override { return *this; }
  IKXDataHost &Data() override { return *this; }
  IKXWindowHost &Windows() override { return *this; }
  IKXOutputHost &Outputs() override { return *FOutputs; }
  IKXProcessEndHost &ProcessEnd() override { return *this; }

  // IKXThreadHost
  int64_t NowSeconds() override;
  KXLocalTime LocalNow() override;
  uint32_t CurrentThreadId() override { return GetCurrentThreadId(); }
  uint32_t MainThreadId() override;
  bool IsHandlingThread() override;
  bool ProcessLockHeld(uint32_t waitMs) override;
  void PauseOtherThreads(bool pause, uint32_t exceptThreadId) override;
  bool ResumeMainThreadTemporarily() override;
  void PauseMainThreadAgain() override;
  void ResetFreezeMissCounter() override;
  bool ReporterInExecutable() override;
  bool CallOnMainThread(const std::function<void()> &call) override;

  // IKXDataHost
  std::shared_ptr<IKXModuleSettings> SettingsOfAddress(std::uintptr_t address) override;
  std::shared_ptr<IKXModuleSettings> CallerSettings() override;
  std::uintptr_t CorrectExceptAddress(std::uintptr_t address, const KXExceptObject &object) override;
  void CurrentStackPointers(std::uintptr_t &esp, std::uintptr_t &ebp) override;
  IKXReportComposer &ReportComposer() override { return *FComposer; }
  void EmptyTempDirectory() override;

  // IKXWindowHost
  std::shared_ptr<IProgressAlert> CreatePleaseWait(const std::string &title, KXModule module) override;
  std::shared_ptr<INVBitmap> CaptureScreenShot(IKXException &exception) override;
  void ShowExceptionBox(IKXException &exception, TExceptionBoxForm form) override;
  bool RunAssistant(IKXException &exception, const std::string &name, KXWindow parent, bool &ok) override;
  KXWindow DialogWindow() override;
  void PostWindowMessage(KXWindow window, uint32_t message) override;
  void SendWindowMessage(KXWindow window, uint32_t message) override;
  void SetArrowCursor() override;
  bool IsConsoleProgram() override;
  void WriteConsoleLine(const std::string &line) override;

  // IKXProcessEndHost
  void CloseProcess() override;
  void RestartProcess() override;

private:
  KXWin32ExceptionHost();
  IKXReportComposer *FComposer;
  IKXOutputHost *FOutputs;
  ExceptionBox FShowBox;
  PleaseWaitMaker FPleaseWait;
  ScreenShotMaker FScreenShot;
  AssistantRunner FAssistant;
  bool FConsoleDetection = true;
};

// The handler message: registered on the calling thread's message window (the main thread at
// start-up). wParam 1 is a no-op that only passes the pause check; wParam 0 with lParam pointing
// at a std::function<void()> runs it on that thread. The result is always 777.
bool InstallHandlerMessage();
void RemoveHandlerMessage();
// True on the main thread while it runs synchronised handlers.
bool RunningSynchronisedHandlers();

} // namespace kx
