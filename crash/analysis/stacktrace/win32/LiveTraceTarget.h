#pragma once
// The traced process is this process: memory through the guarded live read, regions from
// VirtualQuery, modules from the loader, debug information from the process-wide model cache.
#include "crash/analysis/disasm/win32/LiveMemory.h"
#include "crash/analysis/stacktrace/TraceTarget.h"

namespace tidewell::stacktrace {

class LiveTraceTarget final : public ITraceTarget {
public:
  const disasm::MemoryReader &Memory() const override { return memory_; }
  MemoryRegion Query(uint32_t address) const override;
  ModuleFacts DescribeModule(uint32_t handle) const override;
  static LiveTraceTarget &Instance();

private:
  disasm::LiveMemory memory_;
};

} // namespace tidewell::stacktrace
