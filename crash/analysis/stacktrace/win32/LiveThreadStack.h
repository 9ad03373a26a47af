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
};

// The range from a stack pointer to the end of its memory region (VirtualQuery). False when
// the pointer lies in no committed region.
bool StackRangeOf(uintptr_t stackPointer, StackRange &range);

// Base (highest address) and limit of a thread's stack from its thread information block.
// `thread` needs THREAD_QUERY_INFORMATION (or limited information) rights.
bool ThreadStackBounds(void *thread, uintptr_t &base, uintptr_t &limit);

// Registers and stack range of a thread. Another thread is suspended for the moment of reading
// (it needs THREAD_GET_CONTEXT and THREAD_SUSPEND_RESUME); the calling thread reads its own
// context. `context` may instead point to a CONTEXT recorded earlier (an exception's).
bool CaptureThread(void *thread, ThreadSnapshot &snapshot, const void *context = nullptr);

// The addresses of a snapshot fit the tracer (an x86-32 process, or everything below 4 GiB).
bool Traceable(const ThreadSnapshot &snapshot);

// The list prepared at catch time over the live stack; empty when it cannot be made.
std::vector<PreStackItem> PrepareLiveStack(const ThreadSnapshot &snapshot, bool isException,
                                           uint32_t exceptAddr);
// The same over the calling thread's own stack at a raise (the snapshot's range lies between the
// caller's stack pointer and the stack's end): the stack is read in place, other memory through
// the guarded read.
std::vector<PreStackItem> PrepareOwnStack(const ThreadSnapshot &snapshot, uint32_t exceptAddr);

// Traces the snapshot with the process-wide caches. The request's stack range, frame pointer
// and (when 0) current address are taken from the snapshot. False when the process is not an
// x86-32 process: the tracer reads x86-32 code and stacks only.
bool TraceLiveThread(const ThreadSnapshot &snapshot, TraceRequest request, TraceResult &result);

} // namespace tidewell::stacktrace
