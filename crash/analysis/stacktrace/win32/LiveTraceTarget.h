#pragma once
// The traced process is this process: memory through the guarded live read, regions from
// VirtualQuery, modules from the loader, debug information from the process-wide model cache,
// and (x86-64 builds) unwind steps by the system's unwinder.
#include "crash/analysis/disasm/win32/LiveMemory.h"
#include "crash/analysis/stacktrace/TraceTarget.h"

namespace tidewell::stacktrace {

class LiveTraceTarget final : public ITraceTarget {
public:
  const disasm::MemoryReader &Memory() const override { return memory_; }
  MemoryRegion Query(uint64_t address) const override;
  ModuleFacts DescribeModule(uint64_t handle) const override;
  // x86-64 builds: RtlLookupFunctionEntry and RtlVirtualUnwind, once the portable step over the
  // guarded read has shown that the memory the step reads can be read; where the system knows
  // no function (a leaf, RIP in no module) the portable step. Elsewhere the portable step.
  X64UnwindResult UnwindX64(X64Context &context) const override;
  static LiveTraceTarget &Instance();

private:
  disasm::LiveMemory memory_;
};

} // namespace tidewell::stacktrace
