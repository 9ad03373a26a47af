#include "crash/capture/threads/win32/ProcessLock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

double MillisecondsSince(LARGE_INTEGER start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now;
}

HANDLE ProbeEvent(const char *prefix) {
  char name[64];
  std::snprintf(name, sizeof name, "%s$%lx", prefix, static_cast<unsigned long>(GetCurrentProcessId()));
  return CreateEventA(nullptr, TRUE, FALSE, name);
}

std::wstring ProbeLibraryPath() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder + L"loader_lock_probe.dll";
}

DWORD WINAPI LoadProbe(void *path) {
  HMODULE module = LoadLibraryW(static_cast<const wchar_t *>(path));
  if (module)
    FreeLibrary(module);
  return module ? 0 : 1;
}

TEST(ProcessLock, FreeLockIsReportedFreeWithoutWaiting) {
  LARGE_INTEGER start = Now();
  for (int i = 0; i < 100; ++i)
    ASSERT_FALSE(kx::ProcessLockHeld(0));
  ASSERT_FALSE(kx::ProcessLockHeld(500));
  EXPECT_LT(MillisecondsSince(start), 100.0);
}

TEST(ProcessLock, ThreadInsideLibraryInitialisationHoldsTheLoaderLock) {
  HANDLE entered = ProbeEvent("TidewellLoaderLockEntered");
  HANDLE release = ProbeEvent("TidewellLoaderLockRelease");
  ASSERT_TRUE(entered && release);
  std::wstring path = ProbeLibraryPath();
  ASSERT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  HANDLE loader = CreateThread(nullptr, 0, LoadProbe, const_cast<wchar_t *>(path.c_str()), 0, nullptr);
  ASSERT_TRUE(loader);
  bool inside = WaitForSingleObject(entered, 10000) == WAIT_OBJECT_0;

  // While the loader thread sits in DllMain: a single test answers at once, a longer one waits
  // for its whole time and still finds the lock held.
  LARGE_INTEGER start = Now();
  bool heldOnce = inside && kx::ProcessLockHeld(0);
  double onceMs = MillisecondsSince(start);
  start = Now();
  bool heldLong = inside && kx::ProcessLockHeld(300);
  double longMs = MillisecondsSince(start);

  SetEvent(release);
  EXPECT_EQ(WaitForSingleObject(loader, 15000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeThread(loader, &exitCode);
  CloseHandle(loader);
  CloseHandle(entered);
  CloseHandle(release);

  ASSERT_TRUE(inside) << "the probe library's initialisation did not run";
  EXPECT_TRUE(heldOnce);
  EXPECT_LT(onceMs, 8.0); // no 10 ms sleep
  EXPECT_TRUE(heldLong);
  EXPECT_GE(longMs, 280.0);
  EXPECT_EQ(exitCode, 0u);
  // Once the library is loaded, the lock is free again.
  EXPECT_FALSE(kx::ProcessLockHeld(2000));
}

} // namespace
