#include "crash/analysis/stacktrace/CachedTraceTarget.h"

namespace tidewell::stacktrace {

CachedTraceTarget::CachedTraceTarget(const ITraceTarget &target, uint32_t pages)
    : target_(target), memory_(target.Memory(), pages) {}

MemoryRegion CachedTraceTarget::Query(uint64_t address) const {
  const uint64_t page = address / disasm::PageCachedMemory::kPageSize;
  auto found = regions_.find(page);
  if (found != regions_.end())
    return found->second;
  MemoryRegion region = target_.Query(address);
  // Protection and kind are the same over a whole page; the map stays small even for a deep
  // stack, as candidates point into few pages of code.
  if (regions_.size() < 4096)
    regions_.emplace(page, region);
  return region;
}

} // namespace tidewell::stacktrace
