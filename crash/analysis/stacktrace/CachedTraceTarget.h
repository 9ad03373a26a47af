#pragma once
// One look at a process's memory through a page cache: a trace reads every stack slot and the
// bytes before every candidate return address, and asks the kind of memory of every candidate,
// mostly on the same few pages. Made anew for each trace or preparation, so that what it keeps
// is never older than the look itself.
#include <cstdint>
#include <unordered_map>

#include "crash/analysis/disasm/PageCachedMemory.h"
#include "crash/analysis/stacktrace/TraceTarget.h"

namespace tidewell::stacktrace {

class CachedTraceTarget final : public ITraceTarget {
public:
  explicit CachedTraceTarget(const ITraceTarget &target, uint32_t pages = 32);
  const disasm::MemoryReader &Memory() const override { return memory_; }
  MemoryRegion Query(uint64_t address) const override;
  ModuleFacts DescribeModule(uint64_t handle) const override { return target_.DescribeModule(handle); }
  // The target's own step (a live target asks the system), not the portable default.
  X64UnwindResult UnwindX64(X64Context &context) const override { return target_.UnwindX64(context); }

private:
  const ITraceTarget &target_;
  disasm::PageCachedMemory memory_;
  mutable std::unordered_map<uint64_t, MemoryRegion> regions_; // by page number
};

} // namespace tidewell::stacktrace
