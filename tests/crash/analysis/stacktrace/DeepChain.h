#pragma once
// A deep call chain for the tracer: Outer -> F1 -> F2 -> ... -> Fn, where every Fi is a function
// without a frame pointer ("call next; ret"), and the innermost faults. Only the outermost frame
// keeps a frame pointer, so the whole chain lies between two anchors and has to be scored.
// Between the real return addresses the stack holds stale return addresses of the same
// functions' second calls.
#include "tests/crash/analysis/stacktrace/SyntheticProcess.h"

namespace tidewell::stacktrace::test {

struct DeepChain {
  static constexpr uint32_t kBase = 0x00400000;
  static constexpr uint32_t kStackBase = 0x00100000;

  SyntheticProcess process;
  std::vector<uint32_t> sites; // call sites, innermost first (the fault first)
  uint32_t fault = 0, ebp = 0, sp = 0, stackTop = 0;

  DeepChain(int depth, bool withDebugInfo, bool withStaleValues = true);
};

} // namespace tidewell::stacktrace::test
