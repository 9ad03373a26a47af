#include "crash/capture/threads/win32/ThreadRegistry.h"

#include <tlhelp32.h>

#include <atomic>
#include <cstring>

#include "crash/base/settings/KXSettingsObject.h"

namespace kx {

namespace {

struct ThreadEntry {
  DWORD threadId;
  char *name;
  ThreadEntry *next;
  char *className;
  ULONG_PTR creatorAddr;
  DWORD creatorTid;
  HANDLE handle;
};

struct SharedThreadRecord {
  HANDLE freezeMutex;
  HANDLE registryMutex;
  ThreadEntry *head;
  volatile LONG refCount;
  HANDLE mapping;
};

// Every module of the process that carries the reporter reads the same records: their layout is
// fixed per architecture.
static_assert(sizeof(ThreadEntry) == (sizeof(void *) == 4 ? 28 : 56), "thread entry layout");
static_assert(sizeof(SharedThreadRecord) == (sizeof(void *) == 4 ? 20 : 40), "shared thread record layout");

constexpr char kSupportAddress[] = "support@example.com";
constexpr DWORD kThreadRights = SYNCHRONIZE | THREAD_QUERY_INFORMATION;

SharedThreadRecord *gRecord = nullptr;
DWORD gMainThreadId = 0;
std::atomic<bool> gInitialising{false};

char *HeapText(const char *text) {
  if (!text)
    return nullptr;
  size_t length = std::strlen(text);
  auto copy = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, length + 1));
  if (copy)
    std::memcpy(copy, text, length + 1);
  return copy;
}

void HeapFreeIf(void *block) {
  if (block)
    HeapFree(GetProcessHeap(), 0, block);
}

void FreeEntry(ThreadEntry *entry, bool closeHandle) {
  if (closeHandle && entry->handle)
    CloseHandle(entry->handle);
  HeapFreeIf(entry->name);
  HeapFreeIf(entry->className);
  HeapFreeIf(entry);
}

// Unlinks and returns the entry of a thread (null when there is none). Registry mutex held.
ThreadEntry *Unlink(DWORD threadId) {
  for (ThreadEntry **link = &gRecord->head; *link; link = &(*link)->next)
    if ((*link)->threadId == threadId) {
      ThreadEntry *entry = *link;
      *link = entry->next;
      entry->next = nullptr;
      return entry;
    }
  return nullptr;
}

bool HasEnded(HANDLE thread) { return thread && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

// Removes at most one entry whose thread has ended. Registry mutex held.
void DropOneEndedThread() {
  for (ThreadEntry **link = &gRecord->head; *link; link = &(*link)->next)
    if (HasEnded((*link)->handle)) {
      ThreadEntry *entry = *link;
      *link = entry->next;
      FreeEntry(entry, true);
      return;
    }
}

bool LockRegistry(DWORD waitMs) {
  if (!gRecord || !gRecord->registryMutex)
    return false;
  DWORD wait = WaitForSingleObject(gRecord->registryMutex, waitMs);
  return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

void UnlockRegistry() { ReleaseMutex(gRecord->registryMutex); }

HANDLE ThreadHandleFor(DWORD threadId, HANDLE given) {
  HANDLE handle = nullptr;
  if (given &&
      DuplicateHandle(GetCurrentProcess(), given, GetCurrentProcess(), &handle, kThreadRights, FALSE, 0))
    return handle;
  return OpenThread(kThreadRights, FALSE, threadId);
}

[[noreturn]] void FailJoin(const std::string &text) {
  MessageBoxA(nullptr, text.c_str(), "Kestrelix", MB_OK);
  ExitProcess(0);
}

// Continues the thread-naming exception raised by SetThreadName once a debugger has seen it.
LONG CALLBACK ContinueNamingException(EXCEPTION_POINTERS *info) {
  const EXCEPTION_RECORD *record = info->ExceptionRecord;
  if (record->ExceptionCode == 0x406D1388 && record->NumberParameters >= 1 &&
      record->ExceptionInformation[0] == 0x1000)
    return EXCEPTION_CONTINUE_EXECUTION;
  return EXCEPTION_CONTINUE_SEARCH;
}

void RaiseNamingException(DWORD threadId, const std::string &name) {
  PVOID handler = AddVectoredExceptionHandler(1, ContinueNamingException);
  if (!handler)
    return; // without a way to catch it, the exception would end the process
  ULONG_PTR arguments[4] = {0x1000, reinterpret_cast<ULONG_PTR>(name.c_str()), threadId, 0};
  RaiseException(0x406D1388, 0, 4, arguments);
  RemoveVectoredExceptionHandler(handler);
}

} // namespace

bool JoinThreadRegistry() {
  if (gRecord)
    return true;
  std::string name = "KestrelixThreadNameBuf" + KXProcessSuffix(GetCurrentProcessId());
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedThreadRecord), name.c_str());
  bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  if (!mapping)
    FailJoin("internal error (opening global buffer)");
  auto record = static_cast<SharedThreadRecord *>(
      MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedThreadRecord)));
  if (!record)
    FailJoin(std::string("internal error. please notify ") + kSupportAddress);

  if (created) {
    record->freezeMutex = CreateMutexA(nullptr, FALSE, nullptr);
    record->registryMutex = CreateMutexA(nullptr, FALSE, nullptr);
    record->head = nullptr;
    record->mapping = mapping;
    MemoryBarrier();
    InterlockedExchange(&record->refCount, 1);
    gRecord = record;
    std::vector<DWORD> threads = ThreadList();
    gMainThreadId = threads.empty() ? GetCurrentThreadId() : threads.front();
    StoreThreadInfo(gMainThreadId, nullptr, kMainThreadName);
    return true;
  }

  // A later module: the creator fills the record before it publishes the count.
  for (int i = 0; i < 5000 && InterlockedCompareExchange(&record->refCount, 0, 0) == 0; ++i)
    Sleep(1);
  InterlockedIncrement(&record->refCount);
  CloseHandle(mapping); // the creator's handle, kept in the record, keeps the object named
  gRecord = record;
  gMainThreadId = 0;
  if (LockRegistry(INFINITE)) {
    for (ThreadEntry *entry = gRecord->head; entry; entry = entry->next)
      gMainThreadId = entry->threadId; // the last of the chain is the oldest
    UnlockRegistry();
  }
  if (!gMainThreadId)
    gMainThreadId = GetCurrentThreadId();
  return true;
}

void LeaveThreadRegistry() {
  if (!gRecord)
    return;
  SharedThreadRecord *record = gRecord;
  if (InterlockedDecrement(&record->refCount) == 0) {
    StoreThreadInfo(GetCurrentThreadId());
    gRecord = nullptr;
    // Entries of other threads that are still recorded go with the record.
    for (ThreadEntry *entry = record->head; entry;) {
      ThreadEntry *next = entry->next;
      FreeEntry(entry, true);
      entry = next;
    }
    record->head = nullptr;
    CloseHandle(record->registryMutex);
    CloseHandle(record->freezeMutex);
    HANDLE mapping = record->mapping;
    record->registryMutex = record->freezeMutex = record->mapping = nullptr;
    UnmapViewOfFile(record);
    CloseHandle(mapping);
  } else {
    gRecord = nullptr;
    UnmapViewOfFile(record);
  }
  gMainThreadId = 0;
}

bool ThreadRegistryJoined() { return gRecord != nullptr; }

void StoreThreadInfo(DWORD threadId, HANDLE threadHandle, const char *name, DWORD creatorTid,
                     ULONG_PTR creatorAddr, const char *className) {
  if (!LockRegistry(INFINITE))
    return;
  bool storing = (name && *name) || creatorAddr;
  ThreadEntry *old = Unlink(threadId);
  bool closeOldHandle = true;
  if (storing) {
    HANDLE reused = nullptr;
    // An entry of a thread that has ended belongs to an earlier thread with the same id: nothing
    // of it carries over to the new one.
    if (old && !HasEnded(old->handle)) {
      name = name ? name : old->name;
      className = className ? className : old->className;
      creatorAddr = creatorAddr ? creatorAddr : old->creatorAddr;
      creatorTid = creatorTid ? creatorTid : old->creatorTid;
      reused = old->handle;
    }
    HANDLE handle = reused ? reused : ThreadHandleFor(threadId, threadHandle);
    auto entry =
        handle ? static_cast<ThreadEntry *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ThreadEntry)))
               : nullptr;
    if (entry) {
      // The texts may be the old entry's: they are copied before it is freed.
      entry->threadId = threadId;
      entry->name = HeapText(name);
      entry->className = HeapText(className);
      entry->creatorAddr = creatorAddr;
      entry->creatorTid = creatorTid;
      entry->handle = handle;
      entry->next = gRecord->head;
      gRecord->head = entry;
      closeOldHandle = handle != reused;
    } else if (handle && handle != reused) {
      CloseHandle(handle);
    }
  }
  if (old)
    FreeEntry(old, closeOldHandle);
  if (!gInitialising.load())
    DropOneEndedThread();
  UnlockRegistry();
}

void SetThreadName(DWORD threadId, const std::string &name) {
  StoreThreadInfo(threadId, nullptr, name.c_str());
  if (!name.empty() && IsDebuggerPresent())
    RaiseNamingException(threadId, name);
}

namespace {
enum class Lookup { Busy, Missing, Found };

Lookup LookUp(DWORD threadId, ThreadRecord &record, DWORD waitMs) {
  if (!LockRegistry(waitMs))
    return Lookup::Busy;
  Lookup result = Lookup::Missing;
  for (ThreadEntry *entry = gRecord->head; entry; entry = entry->next)
    if (entry->threadId == threadId) {
      record.name = entry->name ? entry->name : "";
      record.className = entry->className ? entry->className : "";
      record.creatorAddr = entry->creatorAddr;
      record.creatorTid = entry->creatorTid;
      result = Lookup::Found;
      break;
    }
  UnlockRegistry();
  return result;
}
} // namespace

bool FindThreadRecord(DWORD threadId, ThreadRecord &record, DWORD waitMs) {
  return LookUp(threadId, record, waitMs) == Lookup::Found;
}

ThreadTitleInfo ThreadTitle(DWORD threadId, bool always) {
  ThreadTitleInfo info;
  ThreadRecord record;
  if (LookUp(threadId, record, 50) == Lookup::Busy) {
    info.title = PlainThreadTitle(threadId);
    return info;
  }
  info.title = FormatThreadTitle(threadId, record.name, record.className, always);
  info.creatorAddr = record.creatorAddr;
  info.creatorTid = record.creatorTid;
  return info;
}

bool RegistryCreatorAddress(DWORD threadId, ULONG_PTR &creatorAddr, DWORD waitMs) {
  ThreadRecord record;
  if (!FindThreadRecord(threadId, record, waitMs) || !record.creatorAddr)
    return false;
  creatorAddr = record.creatorAddr;
  return true;
}

int ThreadRegistryEntryCount() {
  if (!LockRegistry(INFINITE))
    return -1;
  int count = 0;
  for (ThreadEntry *entry = gRecord->head; entry; entry = entry->next)
    ++count;
  UnlockRegistry();
  return count;
}

std::vector<DWORD> ThreadList() {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return ids;
  DWORD process = GetCurrentProcessId();
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == process)
      ids.push_back(entry.th32ThreadID);
    entry.dwSize = sizeof entry;
  }
  CloseHandle(snapshot);
  return ids;
}

DWORD MainThreadId() { return gMainThreadId; }

void SetReporterInitialising(bool initialising) { gInitialising = initialising; }

HANDLE FreezeWatchMutex() { return gRecord ? gRecord->freezeMutex : nullptr; }

} // namespace kx
