#include "crash/capture/exception/KXAddressCorrection.h"

#include "crash/analysis/disasm/FunctionAnalysis.h"

namespace kx {

namespace {
bool Boundary(const tidewell::disasm::FunctionInfo &f, const tidewell::disasm::MemoryReader &memory, uint32_t address) {
  for (const auto &call : f.FarCalls)
    if (call.Call && call.CodeAddr2 == address)
      return true;
  for (const auto &call : f.UnknownTargets)
    if (call.Call && call.CodeAddr2 == address)
      return true;
  for (const auto &area : f.CodeAreas) {
    if (address < area.AreaBegin || address > area.AreaEnd)
      continue;
    uint32_t at = area.AreaBegin;
    while (at < address) {
      tidewell::disasm::DecodedInstruction i = tidewell::disasm::ParseCode(memory, at);
      if (!i.IsValid || i.Next <= at)
        return false;
      at = i.Next;
    }
    return at == address;
  }
  return false;
}
} // namespace

bool IsInstructionBoundary(const tidewell::disasm::MemoryReader &memory, uint32_t functionEntry, uint32_t address) {
  return Boundary(tidewell::disasm::ParseFunction(memory, functionEntry), memory, address);
}

uint32_t CorrectedExceptAddress(const tidewell::disasm::MemoryReader &memory, uint32_t functionEntry, uint32_t address) {
  tidewell::disasm::FunctionInfo f = tidewell::disasm::ParseFunction(memory, functionEntry);
  if (!Boundary(f, memory, address) && Boundary(f, memory, address + 4))
    return address + 4;
  return address;
}

} // namespace kx
