#pragma once
// Threads of the program. Synchronize runs a call on the main thread while the calling
// thread waits; the main thread runs queued calls whenever it dispatches messages, and while
// it waits for a thread in WaitFor.
#include <exception>
#include <functional>
#include <windows.h>

class TThread {
public:
  explicit TThread(bool createSuspended);
  virtual ~TThread();
  TThread(const TThread &) = delete;
  TThread &operator=(const TThread &) = delete;

  void Start();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  bool Finished() const { return FFinished; }
  // Waits until Execute has returned; on the main thread, queued synchronised calls keep
  // running meanwhile. Returns the thread's exit code.
  DWORD WaitFor();

  HANDLE Handle() const { return FHandle; }
  DWORD ThreadID() const { return FThreadID; }
  // The exception that escaped Execute, if any.
  std::exception_ptr FatalException() const { return FFatalException; }

  // Runs method on the main thread and returns when it has run. On the main thread itself
  // it runs at once. An exception of the method is handled on the main thread by the
  // application's handler; only EAbort travels back to the caller.
  static void Synchronize(const std::function<void()> &method);

  // Names a thread for an attached debugger (the thread-naming exception); id -1 is the
  // calling thread.
  static void NameThreadForDebugging(const char *name, DWORD threadId = DWORD(-1));

protected:
  virtual void Execute() = 0;

private:
  static DWORD WINAPI ThreadProc(void *self);

  HANDLE FHandle = nullptr;
  DWORD FThreadID = 0;
  volatile bool FTerminated = false;
  volatile bool FFinished = false;
  bool FStarted = false;
  std::exception_ptr FFatalException;
};

// The thread that initialised the runtime (see InitThreadSynchronization).
extern DWORD MainThreadID;
// Called once on the main thread before any TThread runs: records the main thread and makes
// the hidden window through which synchronised calls reach it.
void InitThreadSynchronization();
// Runs the synchronised calls waiting for the main thread; true when one ran.
bool CheckSynchronize();
// The event that is set while synchronised calls wait.
HANDLE SyncEvent();
