#pragma once
// Tracing threads of this process: the stack range of a thread, its registers (from a given
// context or from the suspended thread), the quick list made at catch time and the trace.
#include <cstdint>
#include <string>
#include <vector>

#include "crash/analysis/stacktrace/StackTracer.h"

namespace tidewell::stacktrace {

struct StackRange {
  uintptr_t bottom = 0; // the stack pointer
  uintptr_t top = 0;    // end of the memory region that holds it
};

struct ThreadSnapshot {
  uintptr_t ip = 0, sp = 0, fp = 0;
  StackRange stack;
  bool wasSuspended = false; // the thread was already suspended before we looked
  // x86-64 builds: all the general registers and RIP, the start of the unwind walk.
  bool hasX64 = false;
  X64Context x64;
};

// The range from a stack pointer to the end of its memory region (VirtualQuery). False when
// the pointer lies in no committed region.
bool StackRangeOf(uintptr_t stackPointer, StackRange &range);

// Base (highest address) and limit of a thread's stack from its thread information block.
// `thread` needs THREAD_QUERY_INFORMATION (or limited information) rights.
bool ThreadStackBounds(void *thread, uintptr_t &base, uintptr_t &limit);

// Registers and stack range of a thread. Another thread is suspended for the moment of reading
// (it needs THREAD_GET_CONTEXT and THREAD_SUSPEND_RESUME); the calling thread reads its own
// context, as it will be when this function has returned. `context` may instead point to a
// CONTEXT recorded earlier (an exception's). x86-64 builds keep the full registers (hasX64).
bool CaptureThread(void *thread, ThreadSnapshot &snapshot, const void *context = nullptr);

#if defined(_WIN64)
// Replaces the registers of a frame of this process with its caller's, by one step of the
// system's unwind (the leaf rule for code without unwind information). False when no caller was
// found.
bool UnwindToCaller(struct _CONTEXT &context);
#endif

// The snapshot has a stack range to trace.
bool Traceable(const ThreadSnapshot &snapshot);

// The list prepared at catch time over the live stack; empty when it cannot be made. x86-64
// builds unwind from the snapshot's registers (PrepareStackX64).
std::vector<PreStackItem> PrepareLiveStack(const ThreadSnapshot &snapshot, bool isException,
                                           uint64_t exceptAddr);
// The same over the calling thread's own stack at a raise (the snapshot's range lies between the
// caller's stack pointer and the stack's end): the stack is read in place, other memory through
// the guarded read.
std::vector<PreStackItem> PrepareOwnStack(const ThreadSnapshot &snapshot, uint64_t exceptAddr);

// Traces the snapshot with the process-wide caches. The request's stack range, frame pointer
// and (when 0) current address are taken from the snapshot; x86-64 builds trace in x86-64 mode
// from the snapshot's registers. False when the snapshot has no stack range.
bool TraceLiveThread(const ThreadSnapshot &snapshot, TraceRequest request, TraceResult &result);

} // namespace tidewell::stacktrace
