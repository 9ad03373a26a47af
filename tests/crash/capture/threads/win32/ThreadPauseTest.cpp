#include "crash/capture/threads/win32/ThreadPause.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "crash/capture/threads/win32/ImportPatch.h"
#include "crash/capture/threads/win32/MsgWindows.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"

// What this module's import slot of a user32 function holds now. On x86 taking the address of an
// imported function reads the slot; on x86-64 it gives the module's own jump stub, which goes
// through the slot, so the slot is read by its name.
#if defined(__x86_64__)
extern "C" void *__imp_PeekMessageW, *__imp_GetMessageA;
#define IMPORT_SLOT(function) reinterpret_cast<FARPROC>(__imp_##function)
#else
#define IMPORT_SLOT(function) kx::AsFarProc(&function)
#endif

namespace {

// How a worker retrieves messages.
enum class Retrieval { PeekA, PeekW, GetA, GetW, None };

struct Worker {
  Retrieval retrieval;
  volatile LONG rounds = 0;
  volatile LONG stop = 0;
  HANDLE thread = nullptr;
  DWORD id = 0;
};

// Each retrieval goes through the import table as it is at that moment. The optimiser takes an
// import-table entry for constant and could load it once before the loop, so that a loop already
// running when the interception is put in would never see it.
__attribute__((noipa)) void RetrieveOnce(Retrieval retrieval, MSG &msg) {
  switch (retrieval) {
  case Retrieval::PeekA:
    PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
    break;
  case Retrieval::PeekW:
    PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
    break;
  case Retrieval::GetA:
    GetMessageA(&msg, nullptr, 0, 0);
    break;
  case Retrieval::GetW:
    GetMessageW(&msg, nullptr, 0, 0);
    break;
  case Retrieval::None:
    break;
  }
}

DWORD WINAPI WorkerLoop(void *object) {
  auto worker = static_cast<Worker *>(object);
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // a message queue for the posted messages
  while (!worker->stop) {
    RetrieveOnce(worker->retrieval, msg);
    InterlockedIncrement(&worker->rounds);
    Sleep(2);
  }
  return 0;
}

// Some code of this executable, which carries the debug-information resource.
void CreatorInThisProgram() {}

class Workers {
public:
  ~Workers() {
    for (auto &worker : FWorkers)
      worker->stop = 1;
    kx::PauseOtherThreads(false, 0);
    for (auto &worker : FWorkers) {
      PostThreadMessageW(worker->id, WM_USER, 0, 0);
      WaitForSingleObject(worker->thread, 10000);
      CloseHandle(worker->thread);
      kx::StoreThreadInfo(worker->id);
    }
  }
  // Starts a worker recorded with a creator address in this program (runtime) or in a system
  // library (not the program's own).
  Worker &Start(Retrieval retrieval, bool runtime) {
    FWorkers.push_back(std::make_unique<Worker>());
    Worker &worker = *FWorkers.back();
    worker.retrieval = retrieval;
    worker.thread = CreateThread(nullptr, 0, WorkerLoop, &worker, 0, &worker.id);
    auto creator = runtime ? reinterpret_cast<ULONG_PTR>(&CreatorInThisProgram)
                           : reinterpret_cast<ULONG_PTR>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "Sleep"));
    kx::StoreThreadInfo(worker.id, worker.thread, nullptr, GetCurrentThreadId(), creator, "TTestWorker");
    return worker;
  }
  // Keeps the blocking retrievals coming round.
  void Feed() {
    for (auto &worker : FWorkers)
      PostThreadMessageW(worker->id, WM_USER, 0, 0);
  }
  // Lets time pass while the workers are fed.
  void Run(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
      Feed();
      Sleep(10);
    }
  }

private:
  std::vector<std::unique_ptr<Worker>> FWorkers;
};

volatile LONG gNoOps = 0;

void HandlerMessage(HWND, UINT, WPARAM wParam, LPARAM, LRESULT &result) {
  if (wParam == 1)
    InterlockedIncrement(&gNoOps);
  result = 777;
}

class ThreadPause : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(kx::JoinThreadRegistry());
    ASSERT_EQ(kx::MainThreadId(), GetCurrentThreadId());
    FMsg = kx::AttachMsgHandler(HandlerMessage, 0);
    ASSERT_NE(FMsg, 0u);
    kx::SetHandlerMessageTarget(kx::ThreadMsgWindow(), FMsg);
  }
  void TearDown() override {
    kx::SetHandlerMessageTarget(nullptr, 0);
    kx::DetachMsgHandler(HandlerMessage, 0);
  }
  static void RunMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  }
  UINT FMsg = 0;
};

TEST_F(ThreadPause, ProgramThreadsPauseInMessageRetrievalOthersRunOn) {
  Workers workers;
  Worker &peekA = workers.Start(Retrieval::PeekA, true);
  Worker &peekW = workers.Start(Retrieval::PeekW, true);
  Worker &getA = workers.Start(Retrieval::GetA, true);
  Worker &getW = workers.Start(Retrieval::GetW, true);
  Worker &noRetrieval = workers.Start(Retrieval::None, true);
  Worker &foreign = workers.Start(Retrieval::PeekW, false);
  Worker &excepted = workers.Start(Retrieval::PeekW, true);
  std::vector<Worker *> pausing = {&peekA, &peekW, &getA, &getW};
  std::vector<Worker *> running = {&noRetrieval, &foreign, &excepted};
  workers.Run(200);

  EXPECT_TRUE(kx::IsRuntimeThread(peekA.id));
  EXPECT_FALSE(kx::IsRuntimeThread(foreign.id));
  LONG noOps = gNoOps;
  kx::PauseOtherThreads(true, excepted.id);
  workers.Run(300); // each pausing worker reaches its next retrieval
  std::vector<LONG> paused;
  for (Worker *worker : pausing)
    paused.push_back(LONG(worker->rounds));
  std::vector<LONG> before;
  for (Worker *worker : running)
    before.push_back(LONG(worker->rounds));
  workers.Run(500);
  for (size_t i = 0; i < pausing.size(); ++i)
    EXPECT_EQ(pausing[i]->rounds, paused[i]) << "worker " << i << " did not pause";
  for (size_t i = 0; i < running.size(); ++i)
    EXPECT_GT(running[i]->rounds, before[i] + 10) << "worker " << i << " should have run on";
  // The calling thread, here also the main thread, is not held up by its own retrieval.
  RunMessages();

  kx::PauseOtherThreads(false, 0);
  workers.Run(500);
  for (size_t i = 0; i < pausing.size(); ++i)
    EXPECT_GT(pausing[i]->rounds, paused[i] + 5) << "worker " << i << " did not continue";
  RunMessages();
  EXPECT_EQ(gNoOps - noOps, 2); // the no-op of the pause and of the resume
}

struct MainThreadCheck {
  HANDLE paused = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE pausedAgain = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  volatile LONG passed = 0;
  LONG passedWhilePaused = -1;
  LONG passedAfterResume = -1;
  bool resumed = false;
  bool resumedWhenRunning = true;
  LONG passedWhilePausedAgain = -1;
};

DWORD WINAPI PauseMainThread(void *object) {
  auto check = static_cast<MainThreadCheck *>(object);
  check->resumedWhenRunning = kx::ResumeMainThreadTemporarily();
  kx::PauseOtherThreads(true, 0);
  SetEvent(check->paused);
  Sleep(400);
  check->passedWhilePaused = check->passed;
  check->resumed = kx::ResumeMainThreadTemporarily();
  for (int i = 0; i < 200 && check->passed < 1; ++i)
    Sleep(10);
  check->passedAfterResume = check->passed;
  kx::PauseMainThreadAgain();
  SetEvent(check->pausedAgain);
  Sleep(400);
  check->passedWhilePausedAgain = check->passed;
  kx::PauseOtherThreads(false, 0);
  return 0;
}

TEST_F(ThreadPause, MainThreadPausesAndCanBeLetRunForAWhile) {
  MainThreadCheck check;
  HANDLE controller = CreateThread(nullptr, 0, PauseMainThread, &check, 0, nullptr);
  ASSERT_TRUE(controller);
  ASSERT_EQ(WaitForSingleObject(check.paused, 10000), WAIT_OBJECT_0);
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // waits until let run
  InterlockedIncrement(&check.passed);
  WaitForSingleObject(check.pausedAgain, 10000);
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // waits until the pause ends
  InterlockedIncrement(&check.passed);
  ASSERT_EQ(WaitForSingleObject(controller, 20000), WAIT_OBJECT_0);
  CloseHandle(controller);
  CloseHandle(check.paused);
  CloseHandle(check.pausedAgain);
  RunMessages();

  EXPECT_FALSE(check.resumedWhenRunning);
  EXPECT_EQ(check.passedWhilePaused, 0);
  EXPECT_TRUE(check.resumed);
  EXPECT_EQ(check.passedAfterResume, 1);
  EXPECT_EQ(check.passedWhilePausedAgain, 1);
  EXPECT_EQ(check.passed, 2);
  EXPECT_FALSE(kx::ResumeMainThreadTemporarily());
}

TEST_F(ThreadPause, CheckKeepsLastErrorAndInterceptionsCanBeRemoved) {
  kx::PauseOtherThreads(true, 0);
  kx::PauseOtherThreads(false, 0);
  SetLastError(1234);
  kx::PauseIfRequested();
  EXPECT_EQ(GetLastError(), 1234u);

  FARPROC peek = GetProcAddress(GetModuleHandleW(L"user32.dll"), "PeekMessageW");
  FARPROC get = GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetMessageA");
  EXPECT_NE(IMPORT_SLOT(PeekMessageW), peek);
  EXPECT_NE(IMPORT_SLOT(GetMessageA), get);
  kx::RemovePauseInterceptions();
  EXPECT_EQ(IMPORT_SLOT(PeekMessageW), peek);
  EXPECT_EQ(IMPORT_SLOT(GetMessageA), get);
  // Pausing again puts them back.
  kx::PauseOtherThreads(true, 0);
  kx::PauseOtherThreads(false, 0);
  EXPECT_NE(IMPORT_SLOT(PeekMessageW), peek);
  kx::RemovePauseInterceptions();
  kx::ReleasePauseState();
  EXPECT_FALSE(kx::ResumeMainThreadTemporarily());
}

} // namespace
