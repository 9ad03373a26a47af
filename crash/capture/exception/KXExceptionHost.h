#pragma once
// What an exception object and the handling sequence need from the process around them, in five
// parts: threads and time, settings and the exception's data (with the report composition),
// windows, delivery and saving, the end of the process. The capture layer's Win32 host implements
// what it can by itself; the shell installs the windows and outputs of the higher layers at
// start-up (crash/shell/win32). Tests implement all of it with fakes.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "crash/capture/exception/KXException.h"
#include "crash/capture/exception/ProgressAlert.h"

namespace kx {

class TIKXException;

// The report completion running in the background for one exception object.
class IKXCompletionThread {
public:
  virtual ~IKXCompletionThread() = default;
  virtual uint32_t ThreadId() = 0;
  // True when the thread has ended within waitMs milliseconds (0xFFFFFFFF: no limit).
  virtual bool WaitFor(uint32_t waitMs) = 0;
  virtual void RaisePriority() = 0;
  virtual void Terminate() = 0;
};

// The bug report composition as the exception object uses it. It reads the exception's snapshot
// and settings and hands every change back through TIKXException::ApplyComposition
// (KXComposition.h).
class IKXReportComposer {
public:
  virtual ~IKXReportComposer() = default;
  // Fills the header and section lists of the exception when they are empty; starts the
  // completion in the background when startCompletion is set (a result with the thread).
  virtual void BuildLists(TIKXException &exception, bool startCompletion) = 0;
  // Runs the completion on the calling thread.
  virtual void CompleteHere(TIKXException &exception) = 0;
  // Joins the lists into the report text.
  virtual std::string Compose(TIKXException &exception) = 0;
};

// The window forms the crash dialog can take.
enum class TExceptionBoxForm { fullBox, detailBox, simpleBox };

// --- the host's five parts, one per group; IKXExceptionHost hands each out ---

// Time and threads.
class IKXThreadHost {
public:
  virtual ~IKXThreadHost() = default;
  // The system time in whole seconds since 1601-01-01 UTC.
  virtual int64_t NowSeconds() = 0;
  virtual KXLocalTime LocalNow() = 0;
  virtual uint32_t CurrentThreadId() = 0;
  virtual uint32_t MainThreadId() = 0;
  virtual bool IsHandlingThread() = 0;
  // True while the loader or process-environment lock is held (tested for up to waitMs).
  virtual bool ProcessLockHeld(uint32_t waitMs) = 0;
  virtual void PauseOtherThreads(bool pause, uint32_t exceptThreadId) = 0;
  virtual bool ResumeMainThreadTemporarily() = 0;
  virtual void PauseMainThreadAgain() = 0;
  virtual void ResetFreezeMissCounter() = 0;
  // Whether the reporter lives in the executable (only then are other threads paused).
  virtual bool ReporterInExecutable() = 0;
  // Runs call on the main thread through the reporter's handler message: a probe that must be
  // answered within 1500 ms, then the call itself. False when the main thread did not answer.
  virtual bool CallOnMainThread(const std::function<void()> &call) = 0;
};

// Settings and the exception's data.
class IKXDataHost {
public:
  virtual ~IKXDataHost() = default;
  // The settings of the module that contains the address, or of the main module.
  virtual std::shared_ptr<IKXModuleSettings> SettingsOfAddress(std::uintptr_t address) = 0;
  // The settings of the module that called into the reporter.
  virtual std::shared_ptr<IKXModuleSettings> CallerSettings() = 0;
  // Moves an address that lies 4 bytes before an instruction boundary onto it. The handling
  // sequence calls it once per exception (KXHandlingSequence.cpp); nothing else does.
  virtual std::uintptr_t CorrectExceptAddress(std::uintptr_t address, const KXExceptObject &object) = 0;
  // The stack and frame pointer of the calling code.
  virtual void CurrentStackPointers(std::uintptr_t &esp, std::uintptr_t &ebp) = 0;
  virtual IKXReportComposer &ReportComposer() = 0;
  virtual void EmptyTempDirectory() = 0;
};

// Windows.
class IKXWindowHost {
public:
  virtual ~IKXWindowHost() = default;
  virtual std::shared_ptr<IProgressAlert> CreatePleaseWait(const std::string &title, KXModule module) = 0;
  virtual std::shared_ptr<INVBitmap> CaptureScreenShot(IKXException &exception) = 0;
  // Shows the crash dialog in the given form; runs its message loop on the calling thread.
  virtual void ShowExceptionBox(IKXException &exception, TExceptionBoxForm form) = 0;
  // Runs the named assistant modally over the window; false when no such assistant exists.
  // ok receives whether it ended with OK; its outputs are added and its values cached.
  virtual bool RunAssistant(IKXException &exception, const std::string &name, KXWindow parent, bool &ok) = 0;
  // The reporter's dialog window (class kDialogWindowClass) of this process, or 0.
  virtual KXWindow DialogWindow() = 0;
  virtual void PostWindowMessage(KXWindow window, uint32_t message) = 0;
  virtual void SendWindowMessage(KXWindow window, uint32_t message) = 0;
  virtual void SetArrowCursor() = 0;
  // True in a console program (console detection is always on).
  virtual bool IsConsoleProgram() = 0;
  virtual void WriteConsoleLine(const std::string &line) = 0;
};

// Delivery and saving.
class IKXOutputHost {
public:
  virtual ~IKXOutputHost() = default;
  // Starts the send of the report; returns the send thread's handle (0 when none was started).
  virtual std::uintptr_t StartSend(IKXException &exception, const std::string &report, bool withScreenShot,
                                   KXWindow window, bool hidden, bool background, bool progressBox) = 0;
  // Waits without limit for the thread to end (when wait is set) and closes its handle.
  virtual void CloseThreadHandle(std::uintptr_t thread, bool wait) = 0;
  // Writes the report into the bug report file; automatic saves apply the duplicate rules.
  virtual void SaveBugReportFile(IKXException &exception, const std::string &report, bool automatic,
                                 KXWindow window) = 0;
  virtual void PrintBugReport(IKXException &exception, const std::string &report, KXWindow window) = 0;
  virtual void CopyToClipboard(const std::string &text) = 0;
  // Writes a minidump of the process at the exception into the temporary folder, where the send
  // finds it as an attachment; the reason on failure, empty on success.
  virtual std::string WriteMiniDump(IKXException &exception) = 0;
};

// The end of the process; neither call returns on the real platform.
class IKXProcessEndHost {
public:
  virtual ~IKXProcessEndHost() = default;
  // Ends the process at once with exit code 1.
  virtual void CloseProcess() = 0;
  // Starts the program again, hands it the exception times and ends with exit code 2.
  virtual void RestartProcess() = 0;
};

// What an exception object and the handling sequence need from the process: one part per group.
class IKXExceptionHost {
public:
  virtual ~IKXExceptionHost() = default;
  virtual IKXThreadHost &Threads() = 0;
  virtual IKXDataHost &Data() = 0;
  virtual IKXWindowHost &Windows() = 0;
  virtual IKXOutputHost &Outputs() = 0;
  virtual IKXProcessEndHost &ProcessEnd() = 0;
};

// The process's host; set once at start-up.
IKXExceptionHost &ExceptionHost();
void SetExceptionHost(IKXExceptionHost *host);
// False before the host is set and after it is taken away again.
bool HasExceptionHost();

} // namespace kx
