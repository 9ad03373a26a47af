#pragma once
// Hook points through which a crash reporter takes over the runtime's exception paths. Each hook
// is empty until someone installs it; the runtime then behaves as without a reporter.
#include <exception>
#include <functional>

struct TRuntimeHooks {
  // The application-level handler (TApplication::HandleException), called inside the catch block
  // with the sender of the failed event; takes the place of OnException and the display.
  std::function<void(void *sender)> applicationException;
  // The application's display of an exception (TApplication::ShowException).
  std::function<void(std::exception_ptr exception)> applicationShowException;
  // The runtime's display of an exception given as object and address (ShowException below).
  std::function<void(std::exception_ptr exception, const void *address)> showException;
  // Called on the main thread inside the catch block of a synchronised call that raised (other
  // than EAbort). True: the exception was dealt with and nothing travels back to the caller.
  std::function<bool()> synchronizeException;
  // Called inside the outermost catch block of the program's main code and of every TThread.
  std::function<void()> topLevelException;
};

TRuntimeHooks &RuntimeHooks();

// The runtime's display of an exception: the hook when installed, else a message box.
void ShowException(std::exception_ptr exception, const void *address);
