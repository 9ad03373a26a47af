#pragma once
// What the stack tracer needs to know about the process whose stacks it reads: its memory
// (through the guarded read), the kind of memory at an address, the modules loaded in it, and
// (for x86-64 processes) one unwind step of a frame.
#include <cstdint>
#include <memory>
#include <string>

#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/analysis/disasm/Decoder.h"
#include "crash/analysis/stacktrace/X64Unwinder.h"

namespace tidewell::stacktrace {

struct MemoryRegion {
  bool committed = false;      // the address lies in committed memory
  uint64_t allocationBase = 0; // base of the allocation that holds it, 0 when none
  bool image = false;          // the allocation is a loaded module image (its base is the handle)
};

struct ModuleFacts {
  std::string fileName;        // file name of the module (a path is allowed)
  bool isExecutable = false;   // the process's executable
  bool isReporter = false;     // the module that contains the crash reporter
  std::shared_ptr<const TMapFile> debugInfo; // null (or invalid) when there is none
  // The image's unwind tables (.eh_frame section), absolute; 0, 0 when there are none. They
  // name the landing pads of C++ functions, code that no jump reaches.
  uint64_t ehFrameBegin = 0, ehFrameEnd = 0;
};

// A disasm::MemoryReader seen as the PE reader's source (offset = absolute address).
class MemoryPeSource final : public debuginfo::PeSource {
public:
  explicit MemoryPeSource(const disasm::MemoryReader &memory) : memory_(memory) {}
  bool Read(uint64_t offset, void *out, size_t size) const override {
    return size <= UINT32_MAX && (size == 0 || size - 1 <= UINT64_MAX - offset) &&
           memory_.Read(offset, out, uint32_t(size));
  }

private:
  const disasm::MemoryReader &memory_;
};

class ITraceTarget {
public:
  virtual ~ITraceTarget() = default;
  virtual const disasm::MemoryReader &Memory() const = 0;
  virtual MemoryRegion Query(uint64_t address) const = 0;
  // Facts about the module loaded at `handle` (an allocation base for which Query said image).
  virtual ModuleFacts DescribeModule(uint64_t handle) const = 0;
  // One unwind step of an x86-64 frame (see UnwindX64Frame). The default reads the unwind
  // information of the module that Query names for RIP through Memory(); with RIP in no image
  // it gives NoModule (the leaf guess).
  virtual X64UnwindResult UnwindX64(X64Context &context) const;
};

} // namespace tidewell::stacktrace
