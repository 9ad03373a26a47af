#include "crash/report/composition/win32/CompletionThread.h"

namespace kx {

namespace {
DWORD WINAPI RunWork(void *parameter) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()> *>(parameter));
  try {
    (*work)();
  } catch (...) {
  }
  return 0;
}
} // namespace

std::shared_ptr<KXCompletionThread> KXCompletionThread::Start(std::function<void()> work) {
  auto *parameter = new std::function<void()>(std::move(work));
  DWORD id = 0;
  HANDLE handle = CreateThread(nullptr, 0, &RunWork, parameter, CREATE_SUSPENDED, &id);
  if (!handle) {
    delete parameter;
    return nullptr;
  }
  SetThreadPriority(handle, THREAD_PRIORITY_ABOVE_NORMAL);
  std::shared_ptr<KXCompletionThread> thread(new KXCompletionThread(handle, id));
  ResumeThread(handle);
  return thread;
}

KXCompletionThread::~KXCompletionThread() { CloseHandle(FHandle); }

bool KXCompletionThread::WaitFor(uint32_t waitMs) {
  if (FId == GetCurrentThreadId())
    return true; // asked from inside the completion (a report callback): waiting would never end
  return WaitForSingleObject(FHandle, waitMs == 0xFFFFFFFF ? INFINITE : waitMs) == WAIT_OBJECT_0;
}

void KXCompletionThread::RaisePriority() { SetThreadPriority(FHandle, THREAD_PRIORITY_HIGHEST); }

void KXCompletionThread::Terminate() {
  if (FId != GetCurrentThreadId())
    TerminateThread(FHandle, 1);
}

} // namespace kx
