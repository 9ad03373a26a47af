#pragma once
// A small program in synthetic memory whose true call chain is known:
//
//   Start -> Main -> A -> B -> C -> D, and D faults on a null pointer.
//
// Main, A and C keep frame pointers, Start, B and D do not. B calls C through a cell
// (call dword ptr [cell]), C calls D through a register (call eax). The stack also holds values
// that look like return addresses but are not on the chain: a stale return address of an
// earlier call in B (to Junk2), a return address into Junk1 in Main's locals, and a code address
// that does not follow a call.
#include "tests/crash/analysis/stacktrace/SyntheticProcess.h"

namespace tidewell::stacktrace::test {

struct Scenario {
  static constexpr uint32_t kBase = 0x00400000;
  static constexpr uint32_t kStackBase = 0x00100000;
  static constexpr uint32_t kStackTop = 0x00101000;

  SyntheticProcess process;
  uint32_t start = 0, mainFn = 0, a = 0, b = 0, c = 0, d = 0, junk1 = 0, junk2 = 0, cell = 0;
  // Call sites and the return addresses after them.
  uint32_t siteStart = 0, retStart = 0, siteMain = 0, retMain = 0, siteMainJunk1 = 0,
           retMainJunk1 = 0, siteA = 0, retA = 0, siteBJunk = 0, retBJunk = 0, siteB = 0, retB = 0,
           siteC = 0, retC = 0, siteJunk1 = 0, retJunk1 = 0, siteJunk2 = 0, retJunk2 = 0;
  uint32_t fault = 0;     // the faulting instruction in D
  uint32_t notAfterCall = 0;
  uint32_t ebp = 0, sp = 0;
  uint32_t slotOfRetC = 0;

  explicit Scenario(bool withDebugInfo, bool withExceptionCopy = false);
  void WriteStack(bool withExceptionCopy);
};

} // namespace tidewell::stacktrace::test
