#include "runtime/win32/RuntimeHooks.h"

#include "runtime/win32/Application.h"

TRuntimeHooks &RuntimeHooks() {
  static TRuntimeHooks hooks;
  return hooks;
}

void ShowException(std::exception_ptr exception, const void *address) {
  if (RuntimeHooks().showException) {
    RuntimeHooks().showException(exception, address);
    return;
  }
  if (Application)
    Application->ShowException(exception);
}
