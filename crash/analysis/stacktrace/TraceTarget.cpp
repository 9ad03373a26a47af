#include "crash/analysis/stacktrace/TraceTarget.h"

namespace tidewell::stacktrace {

X64UnwindResult ITraceTarget::UnwindX64(X64Context &context) const {
  const MemoryRegion region = Query(context.rip);
  const uint64_t base = region.committed && region.image ? region.allocationBase : 0;
  return UnwindX64Frame(MemoryPeSource(Memory()), base, context);
}

} // namespace tidewell::stacktrace
