// A program that starts the reporter first thing, as the tool does, says it is ready and exits:
// the process the start-up benchmark times. Built twice from this file, with the tool's settings
// stream as its resource (the reporter starts in full) and without (the reporter stays absent).
//   startup_probe READY-EVENT
// Sets the named event once StartReporter has returned; exits with kActive or kAbsent so that the
// benchmark can tell that each build started the reporter as meant.
#include <windows.h>

#include "crash/shell/win32/KXReporter.h"

namespace {
constexpr int kActive = 10, kAbsent = 11;
}

int main(int argc, char **argv) {
  const bool active = kx::StartReporter();
  if (argc > 1) {
    if (HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1])) {
      SetEvent(ready);
      CloseHandle(ready);
    }
  }
  kx::StopReporter();
  return active ? kActive : kAbsent;
}
