#pragma once
// The exception host of the live process: threads and locks from the thread bookkeeping, the
// reporter's windows, the restart and the end of the process.
#include <windows.h>

#include <functional>

#include "crash/capture/exception/KXExceptionHost.h"

namespace kx {

class KXWin32ExceptionHost : public IKXExceptionHost {
public:
  static KXWin32ExceptionHost &Instance();

  // Replaces the report composition (the host starts with KXHeaderOnlyComposer).
  void SetReportComposer(IKXReportComposer *composer) { FComposer = composer; }
  // Replaces the window that shows an exception (the host starts with the stand-in window).
  void SetExceptionBox(std::function<void(IKXException &, TExceptionBoxForm)> show) { FShowBox = std::move(show); }
  // Console detection is on from the start: a console program writes exceptions to standard
  // output instead of showing windows.
  void SetConsoleDetection(bool on) { FConsoleDetection = on; }

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

  std::shared_ptr<IKXModuleSettings> SettingsOfAddress(std::uintptr_t address) override;
  std::shared_ptr<IKXModuleSettings> CallerSettings() override;
  std::uintptr_t CorrectExceptAddress(std::uintptr_t address, const KXExceptObject &object) override;
  void CompleteParameters(KXExceptObject &object, std::uintptr_t &address, KXRegisterContext &context,
                          bool &hasContext) override;
  void CurrentStackPointers(std::uintptr_t &esp, std::uintptr_t &ebp) override;
  IKXReportComposer &ReportComposer() override { return *FComposer; }
  void EmptyTempDirectory() override;

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

  std::uintptr_t StartSend(IKXException &exception, const std::string &report, bool withScreenShot, KXWindow window,
                           bool hidden, bool background, bool progressBox) override;
  void CloseThreadHandle(std::uintptr_t thread, bool wait) override;
  void SaveBugReportFile(IKXException &exception, const std::string &report, bool automatic,
                         KXWindow window) override;
  void PrintBugReport(IKXException &exception, const std::string &report, KXWindow window) override;
  void CopyToClipboard(const std::string &text) override;
  std::string WriteMiniDump(IKXException &exception) override;

  void CloseProcess() override;
  void RestartProcess() override;

private:
  KXWin32ExceptionHost();
  IKXReportComposer *FComposer;
  std::function<void(IKXException &, TExceptionBoxForm)> FShowBox;
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
