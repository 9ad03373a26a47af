#pragma once
// The one-line description of a code address used for exception locations and internal-error
// texts: "0045a1f3 +1b Tidewell.exe MainUnit 131 +5 TForm1.btnSetClick" (16 address digits for
// x86-64 code).
#include <cstdint>
#include <string>

#include "crash/analysis/stacktrace/RuntimeNames.h"
#include "crash/analysis/stacktrace/TraceCaches.h"
#include "crash/analysis/stacktrace/TraceTarget.h"

namespace tidewell::stacktrace {

// Takes the caches' trace lock: do not call it from inside a trace.
std::string LocationLine(TraceCaches &caches, const ITraceTarget &target, uint64_t address,
                         bool showRelativeAddrs, bool showRelativeLines,
                         const RuntimeNames &names = RuntimeNames::Default(),
                         disasm::CpuMode mode = disasm::CpuMode::X86);
// The same for a caller that holds the lock (the tracer itself).
std::string LocationLineLocked(TraceCaches &caches, const ITraceTarget &target, uint64_t address,
                               bool showRelativeAddrs, bool showRelativeLines,
                               const RuntimeNames &names, disasm::CpuMode mode = disasm::CpuMode::X86);

} // namespace tidewell::stacktrace
