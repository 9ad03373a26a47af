#pragma once
// A small x86-64 program in synthetic memory whose true call chain is known:
//
//   Start -> Main -> A -> B, and B faults on a null pointer (mov rax, [rax]).
//
// Start, Main and A have unwind data (Start: sub rsp; Main: push rbx, sub rsp; A: push rbp,
// sub rsp, lea rbp as frame register); B is a leaf without any. A calls B through a cell
// (call [rip + disp32]). Main called Junk before A; a copy of that stale return address lies in
// A's locals. The image is PE32+ with an exception directory, unwind records and exports of the
// four functions; the stack is written as the code would have left it.
#include <cstdint>
#include <string>
#include <vector>

#include "crash/analysis/stacktrace/StackTracer.h"
#include "tests/crash/analysis/stacktrace/SyntheticProcess.h"

namespace tidewell::stacktrace::test {

struct X64Program {
  static constexpr uint64_t kStackBase = 0x000000E1'00000000ull;
  static constexpr uint64_t kStackTop = kStackBase + 0x10000;

  // With debug information (an image below 4 GiB), B is named `leafName`.
  explicit X64Program(uint64_t base, bool withDebugInfo = false, const std::string &leafName = "B");

  SyntheticProcess process;
  uint64_t base = 0;
  uint64_t start = 0, mainFn = 0, a = 0, b = 0, junk = 0, cell = 0;
  uint64_t siteStart = 0, retStart = 0, siteMainJunk = 0, retMainJunk = 0, siteMain = 0, retMain = 0,
           siteA = 0, retA = 0;
  uint64_t fault = 0;
  uint64_t mainUnwindInfo = 0; // the address of Main's unwind record

  // The registers at the fault.
  X64Context FaultContext() const;
  // The registers after A called through a null cell: RIP 0, the return address at RSP.
  X64Context NullCallContext() const;
  // The request for the fault with its context.
  TraceRequest Request() const;
};

} // namespace tidewell::stacktrace::test
