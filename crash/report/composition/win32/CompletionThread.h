#pragma once
// A report completion running on a thread of its own (priority above normal).
#include <windows.h>

#include <functional>
#include <memory>

#include "crash/capture/exception/KXExceptionHost.h"

namespace kx {

class KXCompletionThread final : public IKXCompletionThread {
public:
  // Starts work on a new thread; null when the thread cannot be created.
  static std::shared_ptr<KXCompletionThread> Start(std::function<void()> work);
  ~KXCompletionThread() override;

  uint32_t ThreadId() override { return FId; }
  bool WaitFor(uint32_t waitMs) override;
  void RaisePriority() override;
  void Terminate() override;

private:
  KXCompletionThread(HANDLE handle, DWORD id) : FHandle(handle), FId(id) {}
  HANDLE FHandle;
  DWORD FId;
};

} // namespace kx
