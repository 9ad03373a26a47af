// A library with its own copy of the thread registry code, as a second module of the process that
// carries the reporter.
#include <windows.h>

#include <cstring>

#include "crash/capture/threads/win32/ThreadRegistry.h"

extern "C" {

__attribute__((dllexport)) BOOL ProbeJoin() { return kx::JoinThreadRegistry(); }
__attribute__((dllexport)) void ProbeLeave() { kx::LeaveThreadRegistry(); }
__attribute__((dllexport)) DWORD ProbeMainThread() { return kx::MainThreadId(); }
__attribute__((dllexport)) void ProbeName(DWORD threadId, const char *name) { kx::SetThreadName(threadId, name); }
__attribute__((dllexport)) void ProbeTitle(DWORD threadId, char *buffer, size_t size) {
  std::string title = kx::ThreadTitle(threadId, true).title;
  std::strncpy(buffer, title.c_str(), size - 1);
  buffer[size - 1] = 0;
}
}
