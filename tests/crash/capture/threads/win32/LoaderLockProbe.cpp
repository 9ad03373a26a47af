// A library whose initialisation holds the thread that loads it (and with it the loader lock) until
// the test lets it go: it sets "TidewellLoaderLockEntered$<pid>" and waits up to 10 s for
// "TidewellLoaderLockRelease$<pid>".
#include <windows.h>

#include <cstdio>

namespace {

HANDLE OpenProbeEvent(const char *prefix) {
  char name[64];
  std::snprintf(name, sizeof name, "%s$%lx", prefix, static_cast<unsigned long>(GetCurrentProcessId()));
  return OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH)
    return TRUE;
  HANDLE entered = OpenProbeEvent("TidewellLoaderLockEntered");
  HANDLE release = OpenProbeEvent("TidewellLoaderLockRelease");
  if (entered && release) {
    SetEvent(entered);
    WaitForSingleObject(release, 10000);
  }
  if (entered)
    CloseHandle(entered);
  if (release)
    CloseHandle(release);
  return TRUE;
}
