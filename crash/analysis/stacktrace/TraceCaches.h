#pragma once
// The module and function caches of the stack tracer. They live as long as the process (or,
// in tests, as long as the object) and grow across traces; approvals and disproved functions
// persist between traces.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/analysis/disasm/FunctionAnalysis.h"
#include "crash/analysis/disasm/UnwindTables.h"
#include "crash/analysis/stacktrace/ExportTable.h"
#include "crash/analysis/stacktrace/RuntimeNames.h"
#include "crash/analysis/stacktrace/TraceTarget.h"

namespace tidewell::stacktrace {

// Whether the debug information can hold the address (its model keeps addresses of its own
// width; an address it cannot hold must not be looked up cut short).
inline bool FitsModel(uint64_t address) {
  using ModelAddress = decltype(TMfPublic::Address);
  return uint64_t(ModelAddress(address)) == address;
}

struct ModuleEntry {
  uint64_t handle = 0;
  std::string name; // file name without path
  uint64_t codeBegin = 0, codeEnd = 0;
  uint64_t dataBegin = 0, dataEnd = 0;
  uint64_t entryPoint = 0; // 0 when none
  bool isExecutable = false;
  bool isReporter = false;
  disasm::CpuMode mode = disasm::CpuMode::X86; // X64 for a PE32+ x86-64 image
  std::shared_ptr<const TMapFile> mapFile; // null when the module has no valid debug information
  std::vector<ExportEntry> exports;        // by address
  disasm::RuntimeHelpers helpers;          // from the debug information
  std::vector<uint64_t> noReturn;          // from the debug information
  uint64_t ehFrameBegin = 0, ehFrameEnd = 0;
  bool framesRead = false;
  std::vector<disasm::FrameDescription> frames; // by start address, read on first need
  bool HasDebugInfo() const { return mapFile != nullptr; }
  // start < address <= end: the test for candidate values.
  bool InCode(uint64_t a) const { return codeBegin < a && a <= codeEnd; }
  bool InData(uint64_t a) const { return dataBegin < a && a <= dataEnd; }
};

struct FunctionEntry {
  int32_t module = -1;
  std::string name;
  disasm::FunctionInfo fi;
  bool approved = false; // known from a symbol, an export, or a jump from an approved function
  bool invalid = false;  // disproved by the tracer
  bool Usable() const { return fi.IsValid && !invalid; }
  bool IsPseudo() const { return fi.IsValid && fi.CodeLen == 0; }
  // Whether one of the function's code areas holds the address (start < a <= end + 1); a
  // pseudo function holds only its entry point; an unusable function holds nothing.
  bool Contains(uint64_t a) const;
};

class TraceCaches {
public:
  TraceCaches();

  // The cache index of the module loaded at `handle`, created on first need; -1 when none.
  int32_t AddModule(const ITraceTarget &target, uint64_t handle, const RuntimeNames &names);
  // The module whose code or data range holds the address strictly inside; -1 when none.
  int32_t ModuleOf(uint64_t address) const;

  // The function entered at `entry`, analysed on first need. An existing entry is returned
  // (approved when asked). `name` empty: the public or export named at the entry. A forced
  // function whose analysis fails becomes a pseudo function of length 0. -1 for address 0.
  int32_t AddFunction(const ITraceTarget &target, uint64_t entry, const std::string &name,
                      int32_t module, bool approve, bool forceValid, const RuntimeNames &names);
  // Marks the function and, through far jumps, every function it reaches as approved.
  void Approve(int32_t function);
  int32_t FindFunction(uint64_t entry) const;
  // Public of the debug information starting exactly at the address, else the export there.
  std::string NameAt(const ITraceTarget &target, uint64_t address, const RuntimeNames &names);

  const std::vector<ModuleEntry> &Modules() const { return modules_; }
  const std::vector<FunctionEntry> &Functions() const { return functions_; }
  FunctionEntry &Function(int32_t i) { return functions_[size_t(i)]; }
  const ModuleEntry &Module(int32_t i) const { return modules_[size_t(i)]; }

  // The code of functions that lie in no known module is read in this mode; the tracer sets
  // it to the mode of each trace.
  disasm::CpuMode defaultMode = disasm::CpuMode::X86;

  // Held for the whole of a trace: traces that share the caches run one after the other.
  std::mutex &TraceLock() { return traceLock_; }
  // The return address inside the try-finally exit helper: computed once, 0 when none.
  bool tryFinallyKnown = false;
  uint64_t tryFinallyReturn = 0;

  // The caches of this process.
  static TraceCaches &Process();

private:
  int32_t AnalyseAndStore(const ITraceTarget &target, uint64_t entry, const std::string &name,
                          int32_t module, bool forceValid, const RuntimeNames &names);

  std::vector<ModuleEntry> modules_;
  std::vector<FunctionEntry> functions_;
  std::unordered_map<uint64_t, int32_t> byEntry_;
  std::mutex traceLock_;
};

} // namespace tidewell::stacktrace
