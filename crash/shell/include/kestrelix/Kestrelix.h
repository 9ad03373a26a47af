#pragma once
// Kestrelix: the crash reporter for MinGW-w64 C++ programs.
//
// A program that links Kestrelix::Kestrelix has the reporter running before its main (or
// WinMain) starts and stopped after it returns; it needs no call of its own. From then on every
// exception that escapes the program's code, every fault, a stack overflow, std::terminate and
// (with CheckFreeze on) a main thread that stops answering become a bug report, shown in the
// crash dialog and handled as the settings say (kestrelix_add_reporter compiles them into the
// exe). What is here is for a program that wants to take part itself.
//
// Every function may be called from any thread. While the reporter is not running (the module
// has no settings, or Enabled is false) they do nothing and return false or 0.
#include <exception>
#include <functional>
#include <string>

namespace kestrelix {

// True while the reporter is running in this process.
bool Running();

// Reports an exception the program caught itself, as an application's own handler does: the
// dialog shows it and, when the user chooses Continue, the call returns true and the program goes
// on. Call it inside the catch block with std::current_exception(): the report then shows where
// the exception was raised. A stored exception_ptr may be reported later, also from another
// thread; when the raise is not known, the report shows the place of this call. False when there
// is nothing to report (a null pointer), the reporter is not running, or the call comes from an
// exception handler (the reporter handles one exception at a time, on its own thread).
bool ReportException(std::exception_ptr exception);

// Writes a report of the program's state right now, without an exception: every thread's call
// stack, the registers of the calling thread, the lists, with `message` in the exception-message
// field (the class shows as KesException). Shown and handled like an exception the program may
// continue after; the call returns when the handling ends. False when the reporter is not
// running or the call comes from an exception handler.
bool ReportState(const std::string &message);

// One exception as a handler sees it, valid during the handler's call only.
class Exception {
public:
  // The exception's class, demangled ("std::runtime_error", "EAccessViolation"), and its message
  // (what() for a class derived from std::exception, else the text the report shows).
  virtual std::string ClassName() const = 0;
  virtual std::string Message() const = 0;
  // Whether the program can go on after this exception.
  virtual bool CanContinue() const = 0;
  // The report's text as far as it is written.
  virtual std::string ReportText() const = 0;
  // Changes a setting for this exception only. The name and the value are those of a settings
  // file ("AutoSave", "MailAddr", "BugRepFile", ...): the value's type must be the setting's
  // (true/false, a decimal integer, a text in the system's code page). False for an unknown name
  // or a value of the wrong type; the setting then stays as it was. The change counts for what
  // the handling does after the handlers: the dialog and its texts, saving, sending, the
  // automatic actions; the filter's decisions and the report's contents are taken before.
  virtual bool SetSetting(const std::string &name, bool value) = 0;
  virtual bool SetSetting(const std::string &name, int value) = 0;
  virtual bool SetSetting(const std::string &name, const std::string &value) = 0;
  bool SetSetting(const std::string &name, const char *value) { return SetSetting(name, std::string(value)); }

protected:
  ~Exception() = default;
};

// Called on the reporter's handling thread for every exception and every freeze (a freeze has no
// exception object: its class reads "Unknown") unless the settings' filter for the class turns
// handlers off, before the report is shown or saved; handlers are called in the order they were
// added. Setting `handled` to true ends the handling there: no dialog, no automatic actions, no
// further handler (an exception after which the program cannot go on still ends it). A handler
// must not throw; what escapes it is caught and ignored.
using ExceptionHandler = std::function<void(Exception &exception, bool &handled)>;

// Registers a handler; the result identifies it for RemoveExceptionHandler (0: not registered,
// also for an empty handler).
int AddExceptionHandler(ExceptionHandler handler);
// Unregisters that one handler; a call of it already under way finishes. A handler may remove
// itself. An unknown id changes nothing.
void RemoveExceptionHandler(int id);

// A sign of life for the freeze watch (CheckFreeze on), for a program whose main thread does not
// run a Win32 message loop: call it from the main loop at least once per FreezeTimeout / 10.
// Only the main thread's calls count. Programs with a message loop need not call it; the watch
// probes the loop itself. The call answers the probes waiting for the main thread; without the
// watch it does nothing.
void Heartbeat();

} // namespace kestrelix
