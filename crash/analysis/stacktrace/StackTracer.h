#pragma once
// The stack tracer: turns the raw stack memory of one thread into its call stack. Every stack
// value that lies just behind a call instruction is a candidate return address; the decoder
// tells which function made each call and where it went; candidates whose calls reach the
// function holding a deeper candidate are linked, and the best-scoring chain of links between
// fixed anchors (frame-pointer slots, the exception address, the thread's creator) is kept.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "crash/analysis/stacktrace/CallStackText.h"
#include "crash/analysis/stacktrace/ReturnAddress.h"
#include "crash/analysis/stacktrace/RuntimeNames.h"
#include "crash/analysis/stacktrace/StackItem.h"
#include "crash/analysis/stacktrace/TraceCaches.h"
#include "crash/analysis/stacktrace/TraceTarget.h"

namespace tidewell::stacktrace {

// Receives the progress of a trace in thousandths.
class ITraceProgress {
public:
  virtual ~ITraceProgress() = default;
  virtual void SetProgress(int perMille) = 0;
};

struct TraceRequest {
  bool hideUglyItems = false;
  bool showRelativeAddrs = false;
  bool showRelativeLines = false;
  uint64_t currentAddr = 0;   // exception address or the thread's current position; 0: none
  bool isException = false;   // the thread is the one in which the exception happened
  bool extException = false;  // a processor or operating-system exception
  uint64_t stackBottom = 0;   // lowest address to scan (the stack pointer)
  uint64_t stackTop = 0;      // end of the stack's memory region
  uint64_t creator = 0;       // code address at which the thread was created, 0 when unknown
  uint64_t ebp = 0;           // frame pointer, 0 when unknown (x86-32 only)
  // The code and stacks of the thread: x86-32 (4-byte slots, frame-pointer chain) or x86-64
  // (frames unwound from the start registers, 8-byte slots scanned where that fails).
  disasm::CpuMode mode = disasm::CpuMode::X86;
  // x86-64: the registers of the start frame. Without them the walk starts from RIP =
  // currentAddr and RSP = stackBottom only.
  std::optional<X64Context> x64Context;
  bool dumbTrace = false;     // skip chain selection (keeps every candidate)
  bool bcbTermination = false;// abnormal termination: the throw routines' frames are dropped
  const std::vector<PreStackItem> *preparedStack = nullptr; // list made at catch time
  const std::atomic<bool> *abort = nullptr;
  ITraceProgress *progress = nullptr;
  std::vector<std::string> *minDebugInfos = nullptr; // receives "module|text", no duplicates
  bool dontAddTopItem = false;
};

struct TraceResult {
  std::string text;          // the call-stack lines; the internal-error text on failure
  StackTraceItems items;     // the frames, innermost first (the creator last)
  uint64_t exceptAddr = 0;   // code address of the innermost frame
  uint64_t exceptFunc = 0;   // start of the innermost frame's function, 0 when unknown
  uint64_t exceptFuncAddr = 0;
  CallStackChecksum checksum;
  std::string failedPhase;   // the phase that raised an internal error, else empty
  bool aborted = false;
};

// The list prepared at catch time for an x86-64 thread whose registers are `context` and whose
// stack ends at `stackTop`: the return addresses of the frames the target unwinds
// (ITraceTarget::UnwindX64) from RIP outwards, flagged; where a step fails (RIP in no module,
// bad unwind information, unreadable memory) every 8-byte slot from that frame's RSP up to the
// stack's end that could be a return address, unflagged; only when RIP lies in no module (a call
// through a bad pointer) is the value at RSP flagged when it could be a return address (the
// likeliest frame, which the scan's chain then ends at). Ordered like PrepareStack's list,
// outermost first. Empty when RSP lies outside the stack or cannot be read, or on an abort.
// `progress` receives the part of the stack done (0..1000).
std::vector<PreStackItem> PrepareStackX64(const ITraceTarget &target, const X64Context &context, uint64_t stackTop,
                                          const std::atomic<bool> *abort = nullptr,
                                          const std::function<void(int)> &progress = {});

// Traces one stack. The caches are shared between traces and locked for the duration.
TraceResult StackTrace(const ITraceTarget &target, TraceCaches &caches,
                       const TraceRequest &request,
                       const RuntimeNames &names = RuntimeNames::Default());

} // namespace tidewell::stacktrace
