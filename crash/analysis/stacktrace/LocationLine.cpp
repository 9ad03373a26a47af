#include "crash/analysis/stacktrace/LocationLine.h"

#include <cstdio>

namespace tidewell::stacktrace {

namespace {
std::string Hex(uint64_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*llx", digits, static_cast<unsigned long long>(v));
  return buf;
}
} // namespace

std::string LocationLine(TraceCaches &caches, const ITraceTarget &target, uint64_t address,
                         bool showRelativeAddrs, bool showRelativeLines,
                         const RuntimeNames &names, disasm::CpuMode mode) {
  std::lock_guard<std::mutex> lock(caches.TraceLock());
  return LocationLineLocked(caches, target, address, showRelativeAddrs, showRelativeLines, names, mode);
}

std::string LocationLineLocked(TraceCaches &caches, const ITraceTarget &target, uint64_t address,
                               bool showRelativeAddrs, bool showRelativeLines,
                               const RuntimeNames &names, disasm::CpuMode mode) {
  std::string line = Hex(address, mode == disasm::CpuMode::X64 ? 16 : 8);
  int32_t mi = caches.ModuleOf(address);
  if (mi < 0) {
    const MemoryRegion r = target.Query(address);
    if (r.committed && r.image)
      mi = caches.AddModule(target, r.allocationBase, names);
  }
  if (mi < 0 || !caches.Module(mi).HasDebugInfo() || !FitsModel(address)) {
    if (showRelativeAddrs)
      line += " +0";
    return line + " ???";
  }
  const ModuleEntry &m = caches.Module(mi);
  const TMapFile &model = *m.mapFile;
  const TMfPublic p = model.FindPublic(address);
  const TMfSegment seg = model.FindSegment(true, address);
  int32_t number = model.FindLine(address);
  if (number < 0)
    number = 0;
  if (showRelativeAddrs)
    line += " +" + Hex(p.IsValid && address > p.Address ? address - p.Address : 0, 1);
  line += " " + m.name + " " + (seg.IsValid ? seg.Unit_ : std::string()) + " ";
  if (number > 0)
    line += std::to_string(number) + " ";
  if (showRelativeLines) {
    const int32_t start = p.IsValid ? model.FindLine(p.Address) : 0;
    line += start > 0 && number > 0 ? "+" + std::to_string(number - start) + " " : "+0 ";
  }
  return line + (p.IsValid ? p.Name : std::string());
}

} // namespace tidewell::stacktrace
