#pragma once
// What the crash dialog needs from the exception it shows. The dialog reads texts and switches
// through the exception's settings view and calls the user actions here; it never builds,
// sends, saves or prints a report itself. The exception object is wired to it by a small
// adapter (see ShowExceptionBox).
#include <cstdint>
#include <string>

#include "crash/base/settings/KXSettings.h"
#include "crash/ui/dialog/DetailsTabs.h"

struct HWND__;

namespace kx {

// The platform's window handle (HWND with the Windows headers).
using KXBoxWindow = HWND__ *;

// The actions whose handlers the dialog fires itself (the others go through the user actions).
enum class TExceptionBoxEvent { showBugReport, help };

class IExceptionBoxSubject {
public:
  virtual ~IExceptionBoxSubject() = default;

  // The exception's settings: reads answer from its own overrides, then its module's settings;
  // writes change this exception only.
  virtual IKXSettings &Settings() = 0;

  virtual bool IsFrozen() = 0; // a freeze of the main thread
  virtual bool CanContinue() = 0;
  virtual std::string ExceptMessage() = 0;
  virtual std::string ExceptClass() = 0;
  // The dialog's text: FrozenMsg (frozen) or ExceptMsg with its variables expanded against the
  // module, the class and the given message.
  virtual std::string DialogText(bool frozen, const std::string &message) = 0;
  // The automatic close or restart condition for an AutoClose/AutoRestart value.
  virtual bool AutoActionDue(uint32_t value) = 0;
  // The bug report as far as it is built, as text and as header fields and sections.
  virtual std::string BugReportSoFar() = 0;
  virtual TReportSnapshot ReportSnapshot() = 0;

  // The user actions, each given the dialog as parent. Continue, restart and close end the
  // dialog by sending it the close message (kBoxCloseMessage).
  virtual void SendBugReport(KXBoxWindow parent) = 0;
  virtual void SaveBugReport(KXBoxWindow parent) = 0;
  virtual void PrintBugReport(KXBoxWindow parent) = 0;
  virtual void ContinueApplication(KXBoxWindow parent) = 0;
  virtual void RestartApplication(KXBoxWindow parent) = 0;
  virtual void CloseApplication(KXBoxWindow parent) = 0;
  // Fires the exception-action handlers of the event; true when one handled it.
  virtual bool FireEvent(TExceptionBoxEvent event, KXBoxWindow parent) = 0;

  // Report change notification: every change of the report (from any thread, and once at once)
  // posts kBoxReportChangedMessage with wParam kBoxReportChangedW and lParam kBoxReportChangedL
  // to the window, until it is unregistered.
  virtual void RegisterBugReportCallback(KXBoxWindow dialog) = 0;
  virtual void UnregisterBugReportCallback(KXBoxWindow dialog) = 0;

  // Hands the dialog of a freeze to the freeze watch, which closes it when the main thread
  // answers again.
  virtual void PostFreezeDialog(KXBoxWindow dialog) = 0;
  virtual void CopyToClipboard(const std::string &text) = 0;
};

// Messages the dialog understands from the exception object and the freeze watch.
inline constexpr unsigned kBoxReportChangedMessage = 1801;
inline constexpr unsigned kBoxReportChangedW = 1357;
inline constexpr unsigned kBoxReportChangedL = 2468;
inline constexpr unsigned kBoxShowReportMessage = 1802;
inline constexpr unsigned kBoxCloseMessage = 1803;
inline constexpr unsigned kBoxFreezeAnswer = 777; // WM_NULL with wParam = lParam = 777

inline constexpr const char *kExceptionBoxClass = "KestrelixWndClass";

} // namespace kx
