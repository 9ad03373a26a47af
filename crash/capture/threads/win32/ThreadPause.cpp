#include "crash/capture/threads/win32/ThreadPause.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/capture/threads/win32/ImportPatch.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"

namespace kx {

namespace {

using GetMessageFn = BOOL(WINAPI *)(LPMSG, HWND, UINT, UINT);
using PeekMessageFn = BOOL(WINAPI *)(LPMSG, HWND, UINT, UINT, UINT);

GetMessageFn gGetMessageA = nullptr;
GetMessageFn gGetMessageW = nullptr;
PeekMessageFn gPeekMessageA = nullptr;
PeekMessageFn gPeekMessageW = nullptr;

// The pause lock guards the list and the events. A slim lock needs no creation or deletion, so an
// interceptor that runs while the pause state is released finds it intact.
SRWLOCK gLock = SRWLOCK_INIT;
std::atomic<bool> gSetUp{false};
HANDLE gMainEvent = nullptr;
HANDLE gOthersEvent = nullptr;
std::vector<DWORD> *gPausing = nullptr;
// Guards installing and removing the interceptions.
SRWLOCK gInterceptLock = SRWLOCK_INIT;
ImportPatcher *gPatcher = nullptr;
bool gIntercepted = false;
HWND gHandlerWindow = nullptr;
UINT gHandlerMessage = 0;

BOOL WINAPI InterceptGetMessageA(LPMSG msg, HWND window, UINT first, UINT last) {
  PauseIfRequested();
  return gGetMessageA(msg, window, first, last);
}

BOOL WINAPI InterceptGetMessageW(LPMSG msg, HWND window, UINT first, UINT last) {
  PauseIfRequested();
  return gGetMessageW(msg, window, first, last);
}

BOOL WINAPI InterceptPeekMessageA(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
  PauseIfRequested();
  return gPeekMessageA(msg, window, first, last, remove);
}

BOOL WINAPI InterceptPeekMessageW(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
  PauseIfRequested();
  return gPeekMessageW(msg, window, first, last, remove);
}

template <typename Fn> Fn User32Function(const char *name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&OwnModule), &module);
  return module;
}

void InstallInterceptions() {
  AcquireSRWLockExclusive(&gInterceptLock);
  if (gIntercepted) {
    ReleaseSRWLockExclusive(&gInterceptLock);
    return;
  }
  gGetMessageA = User32Function<GetMessageFn>("GetMessageA");
  gGetMessageW = User32Function<GetMessageFn>("GetMessageW");
  gPeekMessageA = User32Function<PeekMessageFn>("PeekMessageA");
  gPeekMessageW = User32Function<PeekMessageFn>("PeekMessageW");
  if (!gPatcher)
    gPatcher = new ImportPatcher();
  HMODULE own = OwnModule();
  bool allModules = own == GetModuleHandleW(nullptr);
  auto replace = [&](auto original, auto interceptor) {
    if (original)
      gPatcher->Replace(AsFarProc(original), AsFarProc(interceptor), allModules, own);
  };
  replace(gGetMessageA, InterceptGetMessageA);
  replace(gGetMessageW, InterceptGetMessageW);
  replace(gPeekMessageA, InterceptPeekMessageA);
  replace(gPeekMessageW, InterceptPeekMessageW);
  gIntercepted = true;
  ReleaseSRWLockExclusive(&gInterceptLock);
}

void PostNoOp() {
  AcquireSRWLockShared(&gLock);
  HWND window = gHandlerWindow;
  UINT message = gHandlerMessage;
  ReleaseSRWLockShared(&gLock);
  if (window && message)
    PostMessageW(window, message, 1, 0);
}

std::vector<DWORD> ThreadsToPause(DWORD exceptThreadId) {
  std::vector<DWORD> threads;
  DWORD current = GetCurrentThreadId();
  DWORD main = MainThreadId();
  for (DWORD thread : ThreadList())
    if (thread != current && thread != main && thread != exceptThreadId && IsRuntimeThread(thread))
      threads.push_back(thread);
  return threads;
}

} // namespace

bool ModuleCarriesDebugInfo(HMODULE module) {
  return module && FindResourceA(module, kDebugInfoResourceName, MAKEINTRESOURCEA(10)) != nullptr; // RT_RCDATA
}

bool IsRuntimeThread(DWORD threadId) {
  ULONG_PTR creator = 0;
  if (!RegistryCreatorAddress(threadId, creator, 50))
    return false;
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(creator), &module))
    return false;
  return ModuleCarriesDebugInfo(module);
}

void SetHandlerMessageTarget(HWND window, UINT msg) {
  AcquireSRWLockExclusive(&gLock);
  gHandlerWindow = window;
  gHandlerMessage = msg;
  ReleaseSRWLockExclusive(&gLock);
}

void PauseOtherThreads(bool pause, DWORD exceptThreadId) {
  AcquireSRWLockExclusive(&gLock);
  bool setUp = gSetUp;
  if (pause && !setUp) {
    gMainEvent = gMainEvent ? gMainEvent : CreateEventW(nullptr, TRUE, TRUE, nullptr);
    gOthersEvent = gOthersEvent ? gOthersEvent : CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (!gPausing)
      gPausing = new std::vector<DWORD>();
    gSetUp = setUp = gMainEvent && gOthersEvent;
  }
  if (setUp) {
    gPausing->clear();
    if (pause) {
      // The thread that asks for the pause goes on, also when it is the main thread.
      if (GetCurrentThreadId() != MainThreadId())
        ResetEvent(gMainEvent);
      ResetEvent(gOthersEvent);
    } else {
      SetEvent(gMainEvent);
      SetEvent(gOthersEvent);
    }
  }
  ReleaseSRWLockExclusive(&gLock);

  if (pause && setUp) {
    InstallInterceptions();
    // The registry lookups wait up to 50 ms each: collected outside the pause lock.
    std::vector<DWORD> threads = ThreadsToPause(exceptThreadId);
    AcquireSRWLockExclusive(&gLock);
    if (gSetUp && WaitForSingleObject(gOthersEvent, 0) == WAIT_TIMEOUT) // still pausing
      *gPausing = std::move(threads);
    ReleaseSRWLockExclusive(&gLock);
  }
  PostNoOp();
}

void PauseIfRequested() {
  if (!gSetUp)
    return;
  DWORD lastError = GetLastError();
  DWORD current = GetCurrentThreadId();
  HANDLE wait = nullptr;
  AcquireSRWLockShared(&gLock);
  if (gSetUp) {
    if (current == MainThreadId())
      wait = gMainEvent;
    else if (std::find(gPausing->begin(), gPausing->end(), current) != gPausing->end())
      wait = gOthersEvent;
  }
  ReleaseSRWLockShared(&gLock);
  if (wait)
    WaitForSingleObject(wait, INFINITE);
  SetLastError(lastError);
}

bool ResumeMainThreadTemporarily() {
  AcquireSRWLockShared(&gLock);
  bool resumed = gMainEvent && WaitForSingleObject(gMainEvent, 0) == WAIT_TIMEOUT;
  if (resumed)
    SetEvent(gMainEvent);
  ReleaseSRWLockShared(&gLock);
  return resumed;
}

void PauseMainThreadAgain() {
  AcquireSRWLockShared(&gLock);
  if (gMainEvent)
    ResetEvent(gMainEvent);
  ReleaseSRWLockShared(&gLock);
  PostNoOp();
}

void RemovePauseInterceptions() {
  AcquireSRWLockExclusive(&gInterceptLock);
  if (gPatcher)
    gPatcher->UndoAll();
  gIntercepted = false;
  ReleaseSRWLockExclusive(&gInterceptLock);
}

void ReleasePauseState() {
  AcquireSRWLockExclusive(&gLock);
  gSetUp = false;
  for (HANDLE *event : {&gMainEvent, &gOthersEvent})
    if (*event) {
      SetEvent(*event);
      CloseHandle(*event);
      *event = nullptr;
    }
  if (gPausing)
    gPausing->clear();
  ReleaseSRWLockExclusive(&gLock);
}

} // namespace kx
