#include "crash/capture/exception/win32/KXHandlingThread.h"

#include <array>
#include <bit>

#include "crash/capture/threads/win32/ProcessLock.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"

namespace kx {

namespace {
HANDLE gReadEnd = nullptr;
HANDLE gWriteEnd = nullptr;
HANDLE gThread = nullptr;
DWORD gThreadId = 0;
CRITICAL_SECTION gWriteLock; // whole records, one writer at a time
bool gWriteLockMade = false;

// The pipe carries the record's bytes; they become the record again as a whole.
bool ReadRecord(KXHandOffRecord &record) {
  std::array<unsigned char, sizeof(KXHandOffRecord)> bytes;
  DWORD got = 0;
  while (got < bytes.size()) {
    DWORD n = 0;
    if (!ReadFile(gReadEnd, bytes.data() + got, DWORD(bytes.size() - got), &n, nullptr) || n == 0)
      return false;
    got += n;
  }
  record = std::bit_cast<KXHandOffRecord>(bytes);
  return true;
}

DWORD WINAPI HandlingThreadProc(void *) {
  KXHandOffRecord record;
  while (ReadRecord(record) && record.caught) {
    // Read before the event lets the catching thread go on and its record end.
    DWORD crashedThread = record.caught->threadId;
    ProcessCaughtException(*record.caught);
    SetEvent(record.event);
    // A message wait of the crashed thread returns and sees the event.
    PostThreadMessageW(crashedThread, WM_NULL, 0, 0);
  }
  return 0;
}
} // namespace

bool StartHandlingThread() {
  if (gThread)
    return true;
  if (!gWriteLockMade) {
    InitializeCriticalSection(&gWriteLock);
    gWriteLockMade = true;
  }
  if (!CreatePipe(&gReadEnd, &gWriteEnd, nullptr, 0))
    return false;
  gThread = CreateThread(nullptr, 0, &HandlingThreadProc, nullptr, CREATE_SUSPENDED, &gThreadId);
  if (!gThread) {
    CloseHandle(gReadEnd);
    CloseHandle(gWriteEnd);
    gReadEnd = gWriteEnd = nullptr;
    return false;
  }
  SetThreadPriority(gThread, THREAD_PRIORITY_TIME_CRITICAL);
  if (ThreadRegistryJoined())
    StoreThreadInfo(gThreadId, gThread, kHandlingThreadName);
  ResumeThread(gThread);
  return true;
}

void StopHandlingThread() {
  if (!gThread)
    return;
  ResumeThread(gThread);
  if (!ProcessLockHeld(0)) {
    KXHandOffRecord stop; // no exception: ends the thread
    WriteHandOffRecord(stop);
    CloseHandle(gWriteEnd);
    gWriteEnd = nullptr;
    WaitForSingleObject(gThread, 500);
  }
  CloseHandle(gReadEnd);
  gReadEnd = nullptr;
  if (WaitForSingleObject(gThread, 50) == WAIT_TIMEOUT)
    TerminateThread(gThread, 0);
  CloseHandle(gThread);
  if (ThreadRegistryJoined())
    StoreThreadInfo(gThreadId);
  if (gWriteEnd)
    CloseHandle(gWriteEnd);
  gWriteEnd = nullptr;
  gThread = nullptr;
  gThreadId = 0;
}

bool HandlingThreadRunning() { return gThread != nullptr; }
DWORD HandlingThreadId() { return gThreadId; }

bool WriteHandOffRecord(const KXHandOffRecord &record) {
  if (!gWriteEnd)
    return false;
  EnterCriticalSection(&gWriteLock);
  DWORD written = 0;
  BOOL ok = WriteFile(gWriteEnd, &record, sizeof record, &written, nullptr);
  LeaveCriticalSection(&gWriteLock);
  return ok && written == sizeof record;
}

} // namespace kx
