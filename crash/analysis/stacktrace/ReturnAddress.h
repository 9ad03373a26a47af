#pragma once
// The cheap tests on raw stack values: could a value be a return address, and which stack
// slots hold return addresses of the frame-pointer chain.
#include <cstdint>
#include <vector>

#include "crash/analysis/disasm/Decoder.h"

namespace tidewell::stacktrace {

// True when one of the call forms ends right at `value`: call rel32 (E8 at value-5), an
// indirect near or far call (FF /2, FF /3) of 2, 3, 4, 6 or 7 bytes, or a far call (9A at
// value-7). The 8 bytes before the value must be readable.
bool CouldBeReturnAddress(const disasm::MemoryReader &memory, uint32_t value);

// The return-address slots of the frame chain that starts at `ebp`, ascending: ebp+4 when it
// lies strictly inside (stackBottom, stackTop), then the slot above each saved frame pointer
// while the chain climbs inside the stack.
std::vector<uint32_t> FramePointerSlots(const disasm::MemoryReader &memory, uint32_t ebp,
                                        uint32_t stackBottom, uint32_t stackTop);

// One item of the list prepared at catch time.
struct PreStackItem {
  bool dontKill = false; // the slot belongs to the frame-pointer chain
  uint32_t afterInstr = 0;
};

// The quick collection made while the thread's stack is still intact: every stack value from
// the top down to the bottom that could be a return address, anchors flagged; for an exception
// the scan stops at a slot holding the exception address. Empty when the stack cannot be read.
std::vector<PreStackItem> PrepareStack(const disasm::MemoryReader &memory, uint32_t ebp,
                                       uint32_t stackTop, uint32_t stackBottom, bool isException,
                                       uint32_t exceptAddr);

} // namespace tidewell::stacktrace
