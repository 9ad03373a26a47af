#pragma once
// What the stack tracer needs to know about the process whose stacks it reads: its memory
// (through the guarded read), the kind of memory at an address, and the modules loaded in it.
#include <cstdint>
#include <memory>
#include <string>

#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/analysis/disasm/Decoder.h"

namespace tidewell::stacktrace {

struct MemoryRegion {
  bool committed = false;      // the address lies in committed memory
  uint32_t allocationBase = 0; // base of the allocation that holds it, 0 when none
  bool image = false;          // the allocation is a loaded module image (its base is the handle)
};

struct ModuleFacts {
  std::string fileName;        // file name of the module (a path is allowed)
  bool isExecutable = false;   // the process's executable
  bool isReporter = false;     // the module that contains the crash reporter
  std::shared_ptr<const TMapFile> debugInfo; // null (or invalid) when there is none
  // The image's unwind tables (.eh_frame section), absolute; 0, 0 when there are none. They
  // name the landing pads of C++ functions, code that no jump reaches.
  uint32_t ehFrameBegin = 0, ehFrameEnd = 0;
};

class ITraceTarget {
public:
  virtual ~ITraceTarget() = default;
  virtual const disasm::MemoryReader &Memory() const = 0;
  virtual MemoryRegion Query(uint32_t address) const = 0;
  // Facts about the module loaded at `handle` (an allocation base for which Query said image).
  virtual ModuleFacts DescribeModule(uint32_t handle) const = 0;
};

} // namespace tidewell::stacktrace
