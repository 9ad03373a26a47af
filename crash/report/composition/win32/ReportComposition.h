#pragma once
// Plugs the bug report composition over this process into the exception host.
#include <cstdint>

namespace kx {

// Replaces the host's stand-in composition. startTime gives the program's start in milliseconds
// of the performance counter (for the "program up time" field); it is asked when a report is made.
void InstallReportComposition(int64_t (*startTime)() = nullptr);

} // namespace kx
