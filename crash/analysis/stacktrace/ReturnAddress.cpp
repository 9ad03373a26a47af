#include "crash/analysis/stacktrace/ReturnAddress.h"

#include <algorithm>

namespace tidewell::stacktrace {

bool CouldBeReturnAddress(const disasm::MemoryReader &memory, uint64_t value) {
  if (value < 8 || value > UINT32_MAX)
    return false;
  uint8_t b[8]; // b[i] is the byte at value - 8 + i
  if (!memory.Read(value - 8, b, sizeof b))
    return false;
  if (b[3] == 0xE8) // call rel32
    return true;
  auto indirectCallAt = [&](int back) { // FF with reg field 2 or 3 at value - back
    const int i = 8 - back;
    return b[i] == 0xFF && ((b[i + 1] >> 4) & 3) == 1;
  };
  for (int back : {2, 3, 4, 6, 7})
    if (indirectCallAt(back))
      return true;
  return b[1] == 0x9A; // far call ptr16:32
}

bool CouldBeReturnAddress64(const disasm::MemoryReader &memory, uint64_t value) {
  constexpr int kLongest = 9; // REX, FF, ModR/M, SIB, disp32, and one more prefix
  if (value < kLongest)
    return false;
  uint8_t b[kLongest]; // b[i] is the byte at value - kLongest + i
  if (!memory.Read(value - kLongest, b, sizeof b))
    return false;
  if (b[kLongest - 5] == 0xE8) // call rel32
    return true;
  for (int back = 2; back <= kLongest; ++back) {
    const int i = kLongest - back;
    // The opcode byte, or a REX prefix right before it.
    const bool ff = b[i] == 0xFF && i + 1 < kLongest && ((b[i + 1] >> 4) & 3) == 1;
    const bool rexFf = (b[i] & 0xF0) == 0x40 && i + 2 < kLongest && b[i + 1] == 0xFF && ((b[i + 2] >> 4) & 3) == 1;
    if (!ff && !rexFf)
      continue;
    const disasm::DecodedInstruction d = disasm::ParseCode(memory, value - uint64_t(back), false, disasm::CpuMode::X64);
    if (d.IsValid && d.Call && d.Next == value)
      return true;
  }
  return false;
}

bool CouldBeReturnAddress(const disasm::MemoryReader &memory, uint64_t value, disasm::CpuMode mode) {
  return mode == disasm::CpuMode::X64 ? CouldBeReturnAddress64(memory, value) : CouldBeReturnAddress(memory, value);
}

std::vector<uint32_t> FramePointerSlots(const disasm::MemoryReader &memory, uint32_t ebp,
                                        uint32_t stackBottom, uint32_t stackTop) {
  std::vector<uint32_t> slots;
  const uint64_t top = stackTop;
  if (uint64_t(ebp) + 4 > stackBottom && uint64_t(ebp) + 4 < top)
    slots.push_back(ebp + 4);
  uint64_t current = ebp;
  while (current + 4 < top) {
    uint32_t next = 0;
    if (!memory.Read(current, &next, 4) || next <= current)
      break;
    // A saved frame pointer outside the stack ends the chain: its slot could not be scanned.
    if (uint64_t(next) + 4 >= top)
      break;
    if (uint64_t(next) + 4 > stackBottom)
      slots.push_back(next + 4);
    current = next;
  }
  return slots;
}

std::vector<PreStackItem> PrepareStack(const disasm::MemoryReader &memory, uint64_t ebp,
                                       uint64_t stackTop, uint64_t stackBottom, bool isException,
                                       uint64_t exceptAddr) {
  std::vector<PreStackItem> items;
  if (stackTop < 4 || stackBottom >= stackTop || stackTop > UINT32_MAX)
    return items;
  std::vector<uint32_t> chain =
      ebp <= UINT32_MAX ? FramePointerSlots(memory, uint32_t(ebp), uint32_t(stackBottom), uint32_t(stackTop))
                        : std::vector<uint32_t>();
  items.reserve(64);
  bool skipNext = false;
  for (uint64_t slot = stackTop - 4; slot >= stackBottom && slot + 4 <= stackTop; slot -= 4) {
    if (skipNext) {
      skipNext = false;
      continue;
    }
    uint32_t value = 0;
    if (!memory.Read(slot, &value, 4))
      return {};
    if (isException && value == exceptAddr)
      break;
    while (!chain.empty() && chain.back() > slot)
      chain.pop_back();
    if (value > 7 && CouldBeReturnAddress(memory, value)) {
      const bool anchor = !chain.empty() && chain.back() == slot;
      items.push_back({anchor, value});
      skipNext = anchor;
    }
    if (slot < 4)
      break;
  }
  return items;
}

} // namespace tidewell::stacktrace
