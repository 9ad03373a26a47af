#pragma once
// The process-wide thread registry: a name, the creating thread, the creating code address and the
// class name of threads that have them, shared by every module of the process that carries the
// reporter through the named shared-memory object "KestrelixThreadNameBuf$<pid hex>".
//
// The shared record holds, in order: the freeze-watch mutex, the registry mutex, the head of the
// entry chain, the count of modules that joined and the shared-memory object's handle. In a 32-bit
// process every field is 32 bits wide (20 bytes); in a 64-bit build handles and the chain pointer
// are pointer-size (40 bytes with alignment). A thread entry is, in order: thread id, name, next,
// class name, creator address, creator thread id, thread handle (28 bytes in a 32-bit process;
// pointer-size pointers and handles in a 64-bit build). Entries and their texts live on the
// process heap, so any module can free what another allocated.
#include <windows.h>

#include <string>
#include <vector>

#include "crash/capture/threads/ThreadTitles.h"

namespace kx {

// Creates the shared record (first module of the process) or maps it (later modules) and
// determines the main thread. The creator takes the first thread of ThreadList() as the main thread
// and records it as "main thread"; a later module takes the oldest recorded thread, or the calling
// thread when nothing is recorded. When the record cannot be had the process shows a message box
// and exits with code 0. True once joined (also for a repeated call).
bool JoinThreadRegistry();
// Undoes JoinThreadRegistry for this module. The last module of the process removes its thread's
// entry, closes the record's handles and the mutexes; every module unmaps its view.
void LeaveThreadRegistry();
// True while this module has joined.
bool ThreadRegistryJoined();

// Records or removes a thread's entry. Called with only an id, the entry is removed. A name or a
// creator address stores information: values the call does not give are kept from an existing
// entry of a living thread; the entry owns a handle with synchronise and query rights, duplicated
// from threadHandle or opened by id (a thread whose handle cannot be had is not recorded). Each
// call also drops one entry of a thread that has ended (not while the reporter initialises).
void StoreThreadInfo(DWORD threadId, HANDLE threadHandle = nullptr, const char *name = nullptr,
                     DWORD creatorTid = 0, ULONG_PTR creatorAddr = 0, const char *className = nullptr);
// Names a thread; an empty name removes its entry. Under a debugger the thread-naming exception
// (0x406D1388) is raised as well, so that the debugger shows the name.
void SetThreadName(DWORD threadId, const std::string &name);

struct ThreadTitleInfo {
  std::string title;
  ULONG_PTR creatorAddr = 0;
  DWORD creatorTid = 0;
};
// The thread's title for reports (see FormatThreadTitle) and where it was created. Waits at most
// 50 ms for the registry; without it the title is "thread $<id>" with no creator.
ThreadTitleInfo ThreadTitle(DWORD threadId, bool always);

// What the registry records for a thread; false when there is no entry or the registry could not be
// taken within waitMs.
struct ThreadRecord {
  std::string name;
  std::string className;
  ULONG_PTR creatorAddr = 0;
  DWORD creatorTid = 0;
};
bool FindThreadRecord(DWORD threadId, ThreadRecord &record, DWORD waitMs);
// The creator address of a thread; false when none is recorded or the registry is busy for waitMs.
bool RegistryCreatorAddress(DWORD threadId, ULONG_PTR &creatorAddr, DWORD waitMs);
// Number of entries (for tests and diagnostics); -1 when the registry is not available.
int ThreadRegistryEntryCount();

// The ids of the threads of this process, in the order of the system's thread snapshot.
std::vector<DWORD> ThreadList();
// The main thread determined by JoinThreadRegistry (0 before).
DWORD MainThreadId();

// While the reporter initialises, entries of ended threads are not cleaned up.
void SetReporterInitialising(bool initialising);

// The freeze-watch mutex of the shared record (null when not joined). Only one freeze watch of the
// process holds it.
HANDLE FreezeWatchMutex();

} // namespace kx
