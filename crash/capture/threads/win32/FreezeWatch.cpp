#include "crash/capture/threads/win32/FreezeWatch.h"

#include <atomic>

#include "crash/capture/threads/FreezeMissCounter.h"
#include "crash/capture/threads/win32/MsgWindows.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"

namespace kx {

namespace {

constexpr WPARAM kAnswerValue = 777;

using PeekMessageFn = BOOL(WINAPI *)(LPMSG, HWND, UINT, UINT, UINT);

struct WatchState {
  HWND window = nullptr;
  DWORD watchedThreadId = 0;
  UINT message = 0;
  HANDLE thread = nullptr;
  std::atomic<DWORD> threadId{0};
  HANDLE stopEvent = nullptr;
  // Set while the watch may count, reset while it is paused.
  HANDLE runEvent = nullptr;
  LONG pauseCount = -1;
  FreezeMissCounter counter;
  FreezeReporter report;
  // The message retrieval reached directly, so that the watch thread never passes an interceptor.
  PeekMessageFn peek = nullptr;
};

WatchState gWatch;
// Guards the pause count and the run event, and the start and stop of the watch.
SRWLOCK gPauseLock = SRWLOCK_INIT;

class PauseGuard {
public:
  PauseGuard() { AcquireSRWLockExclusive(&gPauseLock); }
  ~PauseGuard() { ReleaseSRWLockExclusive(&gPauseLock); }
  PauseGuard(const PauseGuard &) = delete;
  PauseGuard &operator=(const PauseGuard &) = delete;
};

// On the watched thread: answer the probe.
void WatchHandler(HWND, UINT, WPARAM wParam, LPARAM, LRESULT &) {
  if (wParam)
    PostMessageW(reinterpret_cast<HWND>(wParam), WM_NULL, kAnswerValue, kAnswerValue);
  else if (DWORD watcher = gWatch.threadId.load())
    PostThreadMessageW(watcher, WM_NULL, kAnswerValue, kAnswerValue);
}

bool TakeAnswers() {
  bool answered = false;
  MSG msg;
  while (gWatch.peek(&msg, nullptr, 0, 0, PM_REMOVE))
    if (!msg.hwnd && msg.message == WM_NULL && msg.wParam == kAnswerValue && msg.lParam == LPARAM(kAnswerValue))
      answered = true;
  return answered;
}

DWORD WINAPI WatchThread(void *) {
  MSG msg;
  gWatch.peek(&msg, nullptr, 0, 0, PM_NOREMOVE); // the thread's message queue
  // Only one watch of the process works at a time.
  HANDLE mutex = FreezeWatchMutex();
  if (mutex) {
    HANDLE waits[2] = {gWatch.stopEvent, mutex};
    DWORD wait = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (wait != WAIT_OBJECT_0 + 1 && wait != WAIT_ABANDONED_0 + 1)
      return 0;
  }
  for (;;) {
    HANDLE running[2] = {gWatch.stopEvent, gWatch.runEvent};
    if (WaitForMultipleObjects(2, running, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
      break;
    PostMessageW(gWatch.window, gWatch.message, 0, 0);
    if (WaitForSingleObject(gWatch.stopEvent, gWatch.counter.Interval()) != WAIT_TIMEOUT)
      break;
    if (TakeAnswers()) {
      gWatch.counter.Answered();
    } else if (WaitForSingleObject(gWatch.runEvent, 0) == WAIT_OBJECT_0 && gWatch.counter.Missed()) {
      if (gWatch.report)
        gWatch.report();
      gWatch.counter.Reported();
    }
  }
  if (mutex)
    ReleaseMutex(mutex);
  return 0;
}

} // namespace

bool StartFreezeWatch(DWORD timeoutMs, FreezeReporter reportFreeze) {
  if (gWatch.window)
    return true;
  HWND window = ThreadMsgWindow(0);
  if (!window)
    return false;
  if (!gWatch.peek)
    gWatch.peek = reinterpret_cast<PeekMessageFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "PeekMessageW")));
  if (!gWatch.peek)
    return false;
  UINT message = AttachMsgHandler(WatchHandler, 0);
  if (!message)
    return false;
  gWatch.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  gWatch.runEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  gWatch.pauseCount = -1;
  gWatch.counter.Restart(timeoutMs);
  gWatch.report = std::move(reportFreeze);
  gWatch.window = window;
  gWatch.watchedThreadId = GetCurrentThreadId();
  gWatch.message = message;
  DWORD threadId = 0;
  gWatch.thread = gWatch.stopEvent && gWatch.runEvent
                      ? CreateThread(nullptr, 0, WatchThread, nullptr, CREATE_SUSPENDED, &threadId)
                      : nullptr;
  if (!gWatch.thread) {
    DetachMsgHandler(WatchHandler, message);
    if (gWatch.stopEvent)
      CloseHandle(gWatch.stopEvent);
    if (gWatch.runEvent)
      CloseHandle(gWatch.runEvent);
    gWatch.stopEvent = gWatch.runEvent = nullptr;
    gWatch.window = nullptr;
    gWatch.message = 0;
    gWatch.report = nullptr;
    return false;
  }
  gWatch.threadId = threadId;
  if (ThreadRegistryJoined())
    SetThreadName(threadId, kAntiFreezeThreadName);
  SetThreadPriority(gWatch.thread, THREAD_PRIORITY_HIGHEST);
  ResumeThread(gWatch.thread);
  return true;
}

void StopFreezeWatch() {
  if (!gWatch.thread)
    return;
  DWORD threadId = gWatch.threadId;
  SetEvent(gWatch.stopEvent);
  // The thread ends at its next wait; only a thread stuck in the report is cut off.
  if (GetCurrentThreadId() != threadId && WaitForSingleObject(gWatch.thread, 5000) == WAIT_TIMEOUT)
    TerminateThread(gWatch.thread, 0);
  CloseHandle(gWatch.thread);
  gWatch.thread = nullptr;
  // Possibly from another thread than the watched one: its window is closed by a posted WM_CLOSE.
  DetachMsgHandler(WatchHandler, gWatch.message, gWatch.watchedThreadId);
  {
    PauseGuard guard;
    gWatch.pauseCount = -1;
    CloseHandle(gWatch.runEvent);
    gWatch.runEvent = nullptr;
  }
  CloseHandle(gWatch.stopEvent);
  gWatch.stopEvent = nullptr;
  gWatch.threadId = 0;
  gWatch.window = nullptr;
  gWatch.watchedThreadId = 0;
  gWatch.message = 0;
  gWatch.report = nullptr;
  if (ThreadRegistryJoined())
    StoreThreadInfo(threadId);
}

void PauseFreezeWatch(bool pause) {
  PauseGuard guard;
  if (!gWatch.thread || !gWatch.runEvent || GetCurrentThreadId() == gWatch.threadId)
    return;
  gWatch.counter.ResetMisses();
  if (pause) {
    if (++gWatch.pauseCount == 0)
      ResetEvent(gWatch.runEvent);
  } else if (gWatch.pauseCount >= 0) {
    if (--gWatch.pauseCount < 0)
      SetEvent(gWatch.runEvent);
  }
}

void ResetFreezeMissCounter() { gWatch.counter.ResetMisses(); }

UINT FreezeWatchMessage() { return gWatch.message; }
HWND FreezeWatchWindow() { return gWatch.window; }
DWORD FreezeWatchThreadId() { return gWatch.threadId; }

} // namespace kx
