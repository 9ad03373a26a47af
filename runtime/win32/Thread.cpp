#include "runtime/win32/Thread.h"

#include "runtime/Exception.h"
#include "runtime/win32/Application.h"
#include "runtime/win32/RuntimeHooks.h"

#include <deque>
#include <mutex>

DWORD MainThreadID = 0;

namespace {

struct SyncRequest {
  const std::function<void()> *method;
  HANDLE done;
  std::exception_ptr passBack;
};

std::mutex SyncLock;
std::deque<SyncRequest *> SyncQueue;
HANDLE SyncPending = nullptr; // manual-reset: set while SyncQueue is not empty
HWND SyncWindow = nullptr;
const UINT WM_SYNCHRONIZE = WM_APP + 0x3A1;

LRESULT CALLBACK SyncWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_SYNCHRONIZE) {
    CheckSynchronize();
    return 0;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

void RunOnMainThread(SyncRequest &request) {
  try {
    (*request.method)();
  } catch (const EAbort &) {
    request.passBack = std::current_exception();
  } catch (...) {
    // Reported here, on the main thread; the waiting thread's request returns normally.
    if (RuntimeHooks().synchronizeException && RuntimeHooks().synchronizeException())
      return;
    if (Application)
      Application->HandleException(nullptr);
  }
}

} // namespace

void InitThreadSynchronization() {
  if (SyncWindow)
    return;
  MainThreadID = GetCurrentThreadId();
  SyncPending = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = SyncWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TThreadSyncWindow";
  RegisterClassW(&wc);
  SyncWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

HANDLE SyncEvent() { return SyncPending; }

bool CheckSynchronize() {
  if (GetCurrentThreadId() != MainThreadID)
    return false;
  bool ran = false;
  for (;;) {
    SyncRequest *request;
    {
      std::lock_guard<std::mutex> lock(SyncLock);
      if (SyncQueue.empty()) {
        ResetEvent(SyncPending);
        return ran;
      }
      request = SyncQueue.front();
      SyncQueue.pop_front();
    }
    RunOnMainThread(*request);
    ran = true;
    SetEvent(request->done);
  }
}

void TThread::Synchronize(const std::function<void()> &method) {
  if (GetCurrentThreadId() == MainThreadID || !SyncWindow) {
    method();
    return;
  }
  SyncRequest request{&method, CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr};
  {
    std::lock_guard<std::mutex> lock(SyncLock);
    SyncQueue.push_back(&request);
    SetEvent(SyncPending);
  }
  PostMessageW(SyncWindow, WM_SYNCHRONIZE, 0, 0);
  WaitForSingleObject(request.done, INFINITE);
  CloseHandle(request.done);
  if (request.passBack)
    std::rethrow_exception(request.passBack);
}

TThread::TThread(bool createSuspended) {
  FHandle = CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &FThreadID);
  if (!FHandle)
    throw Exception("Thread creation error: " + std::to_string(GetLastError()));
  if (!createSuspended)
    Start();
}

TThread::~TThread() {
  if (FHandle) {
    if (!FStarted)
      Start(); // a never-started thread ends at once: Execute sees Terminated
    Terminate();
    WaitFor();
    CloseHandle(FHandle);
  }
}

void TThread::Start() {
  if (!FStarted) {
    FStarted = true;
    ResumeThread(FHandle);
  }
}

DWORD WINAPI TThread::ThreadProc(void *param) {
  auto self = static_cast<TThread *>(param);
  if (!self->FTerminated) {
    try {
      self->Execute();
    } catch (...) {
      self->FFatalException = std::current_exception();
      if (RuntimeHooks().topLevelException)
        RuntimeHooks().topLevelException();
    }
  }
  self->FFinished = true;
  return 0;
}

DWORD TThread::WaitFor() {
  if (GetCurrentThreadId() == MainThreadID && SyncPending) {
    HANDLE handles[2] = {FHandle, SyncPending};
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
      CheckSynchronize();
  } else {
    WaitForSingleObject(FHandle, INFINITE);
  }
  DWORD code = 0;
  GetExitCodeThread(FHandle, &code);
  return code;
}

void TThread::NameThreadForDebugging(const char *name, DWORD threadId) {
  if (!IsDebuggerPresent())
    return;
  struct {
    DWORD type;
    const char *name;
    DWORD threadId;
    DWORD flags;
  } info{0x1000, name, threadId, 0};
  RaiseException(0x406D1388, 0, sizeof(info) / sizeof(ULONG_PTR), reinterpret_cast<const ULONG_PTR *>(&info));
}
