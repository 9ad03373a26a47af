#include "crash/capture/exception/KXAddressCorrection.h"

#include "crash/analysis/disasm/FunctionAnalysis.h"

namespace kx {

namespace {
bool Boundary(const tidewell::disasm::FunctionInfo &f, const tidewell::disasm::MemoryReader &memory, uint64_t address,
              tidewell::disasm::CpuMode mode) {
  for (const auto &call : f.FarCalls)
    if (call.Call && call.CodeAddr2 == address)
      return true;
  for (const auto &call : f.UnknownTargets)
    if (call.Call && call.CodeAddr2 == address)
      return true;
  for (const auto &area : f.CodeAreas) {
    if (address < area.AreaBegin || address > area.AreaEnd)
      continue;
    uint64_t at = area.AreaBegin;
    while (at < address) {
      tidewell::disasm::DecodedInstruction i = tidewell::disasm::ParseCode(memory, at, true, mode);
      if (!i.IsValid || i.Next <= at)
        return false;
      at = i.Next;
    }
    return at == address;
  }
  return false;
}
} // namespace

namespace {
tidewell::disasm::FunctionInfo Function(const tidewell::disasm::MemoryReader &memory, uint64_t entry,
                                        tidewell::disasm::CpuMode mode) {
  tidewell::disasm::AnalysisOptions options;
  options.mode = mode;
  return tidewell::disasm::ParseFunction(memory, entry, options);
}
} // namespace

bool IsInstructionBoundary(const tidewell::disasm::MemoryReader &memory, uint64_t functionEntry, uint64_t address,
                           tidewell::disasm::CpuMode mode) {
  return Boundary(Function(memory, functionEntry, mode), memory, address, mode);
}

uint64_t CorrectedExceptAddress(const tidewell::disasm::MemoryReader &memory, uint64_t functionEntry, uint64_t address,
                                tidewell::disasm::CpuMode mode) {
  tidewell::disasm::FunctionInfo f = Function(memory, functionEntry, mode);
  if (!Boundary(f, memory, address, mode) && Boundary(f, memory, address + 4, mode))
    return address + 4;
  return address;
}

} // namespace kx
