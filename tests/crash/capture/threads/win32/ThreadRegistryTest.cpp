#include "crash/capture/threads/win32/ThreadRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using kx::StoreThreadInfo;
using kx::ThreadTitle;

// A thread that waits until it is told to end (at most 20 s).
class Sleeper {
public:
  Sleeper() {
    FStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    FThread = CreateThread(nullptr, 0, Run, FStop, 0, &FId);
  }
  ~Sleeper() {
    End();
    CloseHandle(FThread);
    CloseHandle(FStop);
  }
  void End() {
    SetEvent(FStop);
    WaitForSingleObject(FThread, 20000);
  }
  DWORD Id() const { return FId; }
  HANDLE Handle() const { return FThread; }

private:
  static DWORD WINAPI Run(void *stop) {
    WaitForSingleObject(stop, 20000);
    return 0;
  }
  HANDLE FStop = nullptr;
  HANDLE FThread = nullptr;
  DWORD FId = 0;
};

std::string Hex(DWORD id) { return kx::ThreadIdHex(id); }

bool Recorded(DWORD id) {
  kx::ThreadRecord record;
  return kx::FindThreadRecord(id, record, 1000);
}

// Calls that only run the clean-up of ended threads (the id is not a thread of this process).
void CleanUpEndedThreads(int calls) {
  for (int i = 0; i < calls; ++i)
    StoreThreadInfo(0xfffffff0u);
}

class ThreadRegistry : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(kx::JoinThreadRegistry()); }
};

TEST_F(ThreadRegistry, MainThreadIsRecordedAndTitled) {
  // The registry was first joined on this test program's main thread.
  DWORD main = kx::MainThreadId();
  ASSERT_NE(main, 0u);
  std::vector<DWORD> threads = kx::ThreadList();
  ASSERT_FALSE(threads.empty());
  EXPECT_EQ(main, threads.front());
  EXPECT_EQ(main, GetCurrentThreadId());
  EXPECT_EQ(ThreadTitle(main, false).title, "main thread ($" + Hex(main) + ")");
}

TEST_F(ThreadRegistry, ThreadListHoldsCurrentAndNewThreadsOnly) {
  Sleeper sleeper;
  std::vector<DWORD> threads = kx::ThreadList();
  EXPECT_NE(std::find(threads.begin(), threads.end(), GetCurrentThreadId()), threads.end());
  EXPECT_NE(std::find(threads.begin(), threads.end(), sleeper.Id()), threads.end());
  sleeper.End();
  threads = kx::ThreadList();
  EXPECT_EQ(std::find(threads.begin(), threads.end(), sleeper.Id()), threads.end());
}

TEST_F(ThreadRegistry, TitlesFollowNameAndClassName) {
  Sleeper worker, hidden;
  DWORD me = GetCurrentThreadId();
  auto creator = reinterpret_cast<ULONG_PTR>(&CleanUpEndedThreads);

  // Unknown thread: plain title, no creator.
  kx::ThreadTitleInfo info = ThreadTitle(worker.Id(), false);
  EXPECT_EQ(info.title, "thread $" + Hex(worker.Id()));
  EXPECT_EQ(info.creatorAddr, 0u);

  // A runtime thread object: class name in parentheses, creator known.
  StoreThreadInfo(worker.Id(), worker.Handle(), nullptr, me, creator, "TWorkerThread");
  info = ThreadTitle(worker.Id(), false);
  EXPECT_EQ(info.title, "thread $" + Hex(worker.Id()) + " (TWorkerThread)");
  EXPECT_EQ(info.creatorAddr, creator);
  EXPECT_EQ(info.creatorTid, me);

  // A later name keeps what was recorded before.
  kx::SetThreadName(worker.Id(), "reader");
  info = ThreadTitle(worker.Id(), false);
  EXPECT_EQ(info.title, "reader ($" + Hex(worker.Id()) + ")");
  EXPECT_EQ(info.creatorAddr, creator);
  kx::ThreadRecord record;
  ASSERT_TRUE(kx::FindThreadRecord(worker.Id(), record, 1000));
  EXPECT_EQ(record.className, "TWorkerThread");

  // "-" and the reporter's names hide a thread unless the title is wanted always.
  kx::SetThreadName(worker.Id(), "-");
  EXPECT_EQ(ThreadTitle(worker.Id(), false).title, "");
  EXPECT_EQ(ThreadTitle(worker.Id(), true).title, "thread $" + Hex(worker.Id()) + " (TWorkerThread)");
  kx::SetThreadName(hidden.Id(), kx::kHandleExceptionThreadName);
  EXPECT_EQ(ThreadTitle(hidden.Id(), false).title, "");
  EXPECT_EQ(ThreadTitle(hidden.Id(), true).title, "Kestrelix - HandleExceptionThread ($" + Hex(hidden.Id()) + ")");

  // An empty name, and a call with only the id, remove the entry.
  kx::SetThreadName(worker.Id(), "");
  EXPECT_FALSE(Recorded(worker.Id()));
  info = ThreadTitle(worker.Id(), false);
  EXPECT_EQ(info.title, "thread $" + Hex(worker.Id()));
  EXPECT_EQ(info.creatorAddr, 0u);
  StoreThreadInfo(hidden.Id());
  EXPECT_FALSE(Recorded(hidden.Id()));
}

TEST_F(ThreadRegistry, ThreadWithoutHandleIsNotRecorded) {
  // No thread with this id exists and no handle is given.
  StoreThreadInfo(0xfffffff4u, nullptr, "ghost");
  EXPECT_FALSE(Recorded(0xfffffff4u));
}

TEST_F(ThreadRegistry, EndedThreadsAreCleanedUpOnePerCall) {
  CleanUpEndedThreads(64);
  int before = kx::ThreadRegistryEntryCount();
  Sleeper first, second;
  kx::SetThreadName(first.Id(), "first");
  kx::SetThreadName(second.Id(), "second");
  first.End();
  second.End();
  EXPECT_EQ(kx::ThreadRegistryEntryCount(), before + 2);

  // While the reporter initialises nothing is cleaned up.
  kx::SetReporterInitialising(true);
  CleanUpEndedThreads(3);
  kx::SetReporterInitialising(false);
  EXPECT_EQ(kx::ThreadRegistryEntryCount(), before + 2);

  CleanUpEndedThreads(1);
  EXPECT_EQ(kx::ThreadRegistryEntryCount(), before + 1);
  CleanUpEndedThreads(1);
  EXPECT_EQ(kx::ThreadRegistryEntryCount(), before);
  EXPECT_FALSE(Recorded(first.Id()));
  EXPECT_FALSE(Recorded(second.Id()));
}

TEST_F(ThreadRegistry, EntryOfAnEndedThreadIsNotInheritedBySameId) {
  Sleeper old;
  StoreThreadInfo(old.Id(), old.Handle(), nullptr, GetCurrentThreadId(), 0x1234, "TOldThread");
  old.End();
  kx::SetReporterInitialising(true); // keep the ended entry for this test
  kx::SetThreadName(old.Id(), "fresh");
  kx::ThreadRecord record;
  bool found = kx::FindThreadRecord(old.Id(), record, 1000);
  kx::SetReporterInitialising(false);
  // Either the fresh name is recorded without the old thread's values, or (when the ended thread
  // can no longer be opened) nothing is.
  if (found) {
    EXPECT_EQ(record.name, "fresh");
    EXPECT_EQ(record.className, "");
    EXPECT_EQ(record.creatorAddr, 0u);
  }
  StoreThreadInfo(old.Id());
  EXPECT_FALSE(Recorded(old.Id()));
}

std::wstring BesideThisProgram(const wchar_t *file) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder + file;
}

TEST_F(ThreadRegistry, SecondModuleSharesTheRecord) {
  HMODULE probe = LoadLibraryW(BesideThisProgram(L"thread_registry_probe.dll").c_str());
  ASSERT_TRUE(probe);
  auto join = reinterpret_cast<BOOL (*)()>(reinterpret_cast<void *>(GetProcAddress(probe, "ProbeJoin")));
  auto leave = reinterpret_cast<void (*)()>(reinterpret_cast<void *>(GetProcAddress(probe, "ProbeLeave")));
  auto mainThread = reinterpret_cast<DWORD (*)()>(reinterpret_cast<void *>(GetProcAddress(probe, "ProbeMainThread")));
  auto name = reinterpret_cast<void (*)(DWORD, const char *)>(reinterpret_cast<void *>(GetProcAddress(probe, "ProbeName")));
  auto title = reinterpret_cast<void (*)(DWORD, char *, size_t)>(reinterpret_cast<void *>(GetProcAddress(probe, "ProbeTitle")));
  ASSERT_TRUE(join && leave && mainThread && name && title);

  Sleeper ours, theirs;
  kx::SetThreadName(ours.Id(), "named here");
  ASSERT_TRUE(join());
  // The later module takes the oldest recorded thread as the main thread.
  EXPECT_EQ(mainThread(), kx::MainThreadId());
  char text[128];
  title(ours.Id(), text, sizeof text);
  EXPECT_STREQ(text, ("named here ($" + Hex(ours.Id()) + ")").c_str());
  // An entry made there is seen here, and one replaced here was allocated there.
  name(theirs.Id(), "named there");
  EXPECT_EQ(ThreadTitle(theirs.Id(), false).title, "named there ($" + Hex(theirs.Id()) + ")");
  kx::SetThreadName(theirs.Id(), "renamed here");
  title(theirs.Id(), text, sizeof text);
  EXPECT_STREQ(text, ("renamed here ($" + Hex(theirs.Id()) + ")").c_str());

  // The creating module leaving first keeps the record for the other one; the last one to leave
  // frees it, and joining again starts afresh.
  kx::LeaveThreadRegistry();
  title(ours.Id(), text, sizeof text);
  EXPECT_STREQ(text, ("named here ($" + Hex(ours.Id()) + ")").c_str());
  leave();
  FreeLibrary(probe);
  ASSERT_TRUE(kx::JoinThreadRegistry());
  EXPECT_EQ(ThreadTitle(ours.Id(), false).title, "thread $" + Hex(ours.Id()));
  EXPECT_EQ(ThreadTitle(kx::MainThreadId(), false).title, "main thread ($" + Hex(GetCurrentThreadId()) + ")");
}

TEST_F(ThreadRegistry, LeavingAndJoiningAgainStartsAFreshRecord) {
  Sleeper worker;
  kx::SetThreadName(worker.Id(), "worker");
  DWORD main = kx::MainThreadId();
  kx::LeaveThreadRegistry();
  EXPECT_FALSE(kx::ThreadRegistryJoined());
  EXPECT_EQ(ThreadTitle(worker.Id(), false).title, "thread $" + Hex(worker.Id()));
  EXPECT_EQ(kx::ThreadRegistryEntryCount(), -1);
  StoreThreadInfo(worker.Id(), nullptr, "ignored"); // no record: nothing happens

  ASSERT_TRUE(kx::JoinThreadRegistry());
  EXPECT_EQ(kx::MainThreadId(), main);
  EXPECT_FALSE(Recorded(worker.Id()));
  EXPECT_EQ(ThreadTitle(main, false).title, "main thread ($" + Hex(main) + ")");
}

} // namespace
