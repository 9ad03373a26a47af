#pragma once
// The export directory of a module loaded in the traced process, read through the guarded read.
#include <cstdint>
#include <string>
#include <vector>

#include "crash/analysis/disasm/Decoder.h"

namespace tidewell::stacktrace {

struct ExportEntry {
  uint64_t address = 0;
  std::string name;
};

// The named exports of the image loaded at `handle` whose export directory lies at `dirRva`
// (size `dirSize`), sorted by address; forwarders are left out. PE32 and PE32+ images alike
// (the directory holds RVAs). Unreadable or implausible
// tables give what could be read (at most 65536 names, names cut at 255 characters).
std::vector<ExportEntry> ReadExports(const disasm::MemoryReader &memory, uint64_t handle,
                                     uint32_t dirRva, uint32_t dirSize);

} // namespace tidewell::stacktrace
