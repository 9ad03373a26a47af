#include "crash/analysis/stacktrace/ReturnAddress.h"

#include <algorithm>

namespace tidewell::stacktrace {

bool CouldBeReturnAddress(const disasm::MemoryReader &memory, uint32_t value) {
  if (value < 8)
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

std::vector<uint32_t> FramePointerSlots(const disasm::MemoryReader &memory, uint32_t ebp,
                                        uint32_t stackBottom, uint32_t stackTop) {
  std::vector<uint32_t> slots;
  const uint64_t top = stackTop;
  if (uint64_t(ebp) + 4 > stackBottom && uint64_t(ebp) + 4 < top)
    slots.push_back(ebp + 4);
  uint64_t current = ebp;
  while (current + 4 < top) {
    uint32_t next = 0;
    if (!memory.Read(uint32_t(current), &next, 4) || next <= current)
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

std::vector<PreStackItem> PrepareStack(const disasm::MemoryReader &memory, uint32_t ebp,
                                       uint32_t stackTop, uint32_t stackBottom, bool isException,
                                       uint32_t exceptAddr) {
  std::vector<PreStackItem> items;
  if (stackTop < 4 || stackBottom >= stackTop)
    return items;
  std::vector<uint32_t> chain = FramePointerSlots(memory, ebp, stackBottom, stackTop);
  items.reserve(64);
  bool skipNext = false;
  for (uint64_t slot = stackTop - 4; slot >= stackBottom && slot + 4 <= stackTop; slot -= 4) {
    if (skipNext) {
      skipNext = false;
      continue;
    }
    uint32_t value = 0;
    if (!memory.Read(uint32_t(slot), &value, 4))
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
