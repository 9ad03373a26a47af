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
bool CouldBeReturnAddress(const disasm::MemoryReader &memory, uint64_t value);
// The same test for x86-64 code: call rel32 (E8 at value-5), or an indirect call (FF /2 or
// FF /3, with or without a REX prefix) of 2 to 9 bytes that decodes in 64-bit mode to end right
// at the value. The 9 bytes before the value must be readable.
bool CouldBeReturnAddress64(const disasm::MemoryReader &memory, uint64_t value);
// The test of the given mode.
bool CouldBeReturnAddress(const disasm::MemoryReader &memory, uint64_t value, disasm::CpuMode mode);

// The return-address slots of the frame chain that starts at `ebp`, ascending: ebp+4 when it
// lies strictly inside (stackBottom, stackTop), then the slot above each saved frame pointer
// while the chain climbs inside the stack (an x86-32 chain).
std::vector<uint32_t> FramePointerSlots(const disasm::MemoryReader &memory, uint32_t ebp,
                                        uint32_t stackBottom, uint32_t stackTop);

// One item of the list prepared at catch time.
struct PreStackItem {
  bool dontKill = false; // the slot belongs to the frame-pointer chain (x86-64: an unwound frame)
  uint64_t afterInstr = 0;
};

// The quick collection made while the thread's stack is still intact: every stack value from
// the top down to the bottom that could be a return address, anchors flagged; for an exception
// the scan stops at a slot holding the exception address. Empty when the stack cannot be read.
// An x86-32 stack (4-byte slots below 4 GiB); PrepareStackX64 (StackTracer.h) makes the list
// of an x86-64 thread.
std::vector<PreStackItem> PrepareStack(const disasm::MemoryReader &memory, uint64_t ebp,
                                       uint64_t stackTop, uint64_t stackBottom, bool isException,
                                       uint64_t exceptAddr);

} // namespace tidewell::stacktrace
