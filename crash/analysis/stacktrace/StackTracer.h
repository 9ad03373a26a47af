#pragma once
// The stack tracer: turns the raw stack memory of one thread into its call stack. Every stack
// value that lies just behind a call instruction is a candidate return address; the decoder
// tells which function made each call and where it went; candidates whose calls reach the
// function holding a deeper candidate are linked, and the best-scoring chain of links between
// fixed anchors (frame-pointer slots, the exception address, the thread's creator) is kept.
#include <atomic>
#include <cstdint>
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
  uint32_t currentAddr = 0;   // exception address or the thread's current position; 0: none
  bool isException = false;   // the thread is the one in which the exception happened
  bool extException = false;  // a processor or operating-system exception
  uint32_t stackBottom = 0;   // lowest address to scan (the stack pointer)
  uint32_t stackTop = 0;      // end of the stack's memory region
  uint32_t creator = 0;       // code address at which the thread was created, 0 when unknown
  uint32_t ebp = 0;           // frame pointer, 0 when unknown
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
  uint32_t exceptAddr = 0;   // code address of the innermost frame
  uint32_t exceptFunc = 0;   // start of the innermost frame's function, 0 when unknown
  uint32_t exceptFuncAddr = 0;
  CallStackChecksum checksum;
  std::string failedPhase;   // the phase that raised an internal error, else empty
  bool aborted = false;
};

// Traces one stack. The caches are shared between traces and locked for the duration.
TraceResult StackTrace(const ITraceTarget &target, TraceCaches &caches,
                       const TraceRequest &request,
                       const RuntimeNames &names = RuntimeNames::Default());

} // namespace tidewell::stacktrace
