// The return-address test, the frame-pointer chain and the list prepared at catch time.
#include <gtest/gtest.h>

#include <cstring>

#include "crash/analysis/stacktrace/ReturnAddress.h"
#include "tests/crash/analysis/stacktrace/SyntheticProcess.h"

namespace tidewell::stacktrace::test {
namespace {

// Writes `bytes` so that they end right before `after` and asks the test.
bool EndsWithCall(std::vector<uint8_t> bytes) {
  SyntheticProcess p;
  p.AddPlain(0x1000, 0x100);
  const uint32_t after = 0x1080;
  std::memcpy(p.At(after - uint32_t(bytes.size()), uint32_t(bytes.size())), bytes.data(), bytes.size());
  return CouldBeReturnAddress(p, after);
}

TEST(ReturnAddress, RecognisesEveryCallFormThatEndsAtTheValue) {
  EXPECT_TRUE(EndsWithCall({0xE8, 0x10, 0x20, 0x30, 0x40}));             // call rel32
  EXPECT_TRUE(EndsWithCall({0xFF, 0xD0}));                               // call eax
  EXPECT_TRUE(EndsWithCall({0xFF, 0x55, 0x08}));                         // call [ebp+8]
  EXPECT_TRUE(EndsWithCall({0xFF, 0x54, 0x24, 0x08}));                   // call [esp+8]
  EXPECT_TRUE(EndsWithCall({0xFF, 0x15, 0x00, 0x30, 0x40, 0x00}));       // call [abs32]
  EXPECT_TRUE(EndsWithCall({0xFF, 0x94, 0x24, 0x00, 0x01, 0x00, 0x00})); // call [esp+disp32]
  EXPECT_TRUE(EndsWithCall({0xFF, 0x1D, 0x00, 0x30, 0x40, 0x00}));       // far call [abs32]
  EXPECT_TRUE(EndsWithCall({0x9A, 0x00, 0x10, 0x40, 0x00, 0x1B, 0x00})); // call far ptr16:32
}

TEST(ReturnAddress, RejectsJumpsFiveByteFormsAndPlainCode) {
  // An indirect call that would end 5 bytes on (FF 15 at value-5) is not one of the tested forms.
  EXPECT_FALSE(EndsWithCall({0x90, 0x90, 0x90, 0xFF, 0x15, 0x00, 0x00, 0x00}));
  EXPECT_FALSE(EndsWithCall({0xFF, 0x25, 0x00, 0x30, 0x40, 0x00}));      // jmp [abs32]
  EXPECT_FALSE(EndsWithCall({0xFF, 0xE0}));                              // jmp eax
  EXPECT_FALSE(EndsWithCall({0xE9, 0x10, 0x20, 0x30, 0x40}));            // jmp rel32
  EXPECT_FALSE(EndsWithCall({0x55, 0x8B, 0xEC}));                        // push ebp; mov ebp, esp
}

TEST(ReturnAddress, NeedsTheEightBytesBeforeTheValue) {
  SyntheticProcess p;
  p.AddPlain(0x1000, 0x100);
  p.At(0x1000)[0] = 0xE8; // a call whose return address would be 0x1005
  EXPECT_FALSE(CouldBeReturnAddress(p, 0x1005)); // 0x0FFD..0x0FFF are not mapped
  EXPECT_FALSE(CouldBeReturnAddress(p, 5));
  EXPECT_FALSE(CouldBeReturnAddress(p, 0));
}

TEST(ReturnAddress, FrameChainClimbsInsideTheStackOnly) {
  SyntheticProcess p;
  p.AddPlain(0x2000, 0x1000);
  // Frames at 0x2100 -> 0x2200 -> 0x2300 -> 0x2280 (goes back down: the chain ends).
  p.Put32(0x2100, 0x2200);
  p.Put32(0x2200, 0x2300);
  p.Put32(0x2300, 0x2280);
  EXPECT_EQ(FramePointerSlots(p, 0x2100, 0x2000, 0x3000), (std::vector<uint32_t>{0x2104, 0x2204, 0x2304}));
  // A saved frame pointer beyond the stack's end is not followed.
  p.Put32(0x2300, 0x5000);
  EXPECT_EQ(FramePointerSlots(p, 0x2100, 0x2000, 0x3000), (std::vector<uint32_t>{0x2104, 0x2204, 0x2304}));
  // Slots below the stack bottom are not taken, the chain is still followed.
  EXPECT_EQ(FramePointerSlots(p, 0x2100, 0x2150, 0x3000), (std::vector<uint32_t>{0x2204, 0x2304}));
  // An unknown or unreadable frame pointer gives nothing.
  EXPECT_TRUE(FramePointerSlots(p, 0, 0x2000, 0x3000).empty());
  EXPECT_TRUE(FramePointerSlots(p, 0x9000, 0x2000, 0x3000).empty());
  // A frame pointer near the top of the address space does not wrap.
  EXPECT_TRUE(FramePointerSlots(p, 0xFFFFFFFE, 0x2000, 0xFFFFFFFF).empty());
}

TEST(ReturnAddress, PreparedListSkipsTheSavedFramePointerBelowAnAnchor) {
  SyntheticProcess p;
  p.AddPlain(0x1000, 0x100);   // code
  p.AddPlain(0x2000, 0x100);   // stack
  p.At(0x1010)[0] = 0xE8;      // return address 0x1015
  p.At(0x1020)[0] = 0xE8;      // return address 0x1025
  p.Put32(0x20FC, 0x1015);     // a candidate outside the chain
  p.Put32(0x20F8, 0x1025);     // return slot of the frame at 0x20F4
  p.Put32(0x20F4, 0x1025);     // saved frame pointer slot, holding a look-alike: skipped
  p.Put32(0x20F0, 0x1015);
  auto items = PrepareStack(p, 0x20F4, 0x2100, 0x20F0, false, 0);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_FALSE(items[0].dontKill);
  EXPECT_TRUE(items[1].dontKill);
  EXPECT_EQ(items[1].afterInstr, 0x1025u);
  EXPECT_EQ(items[2].afterInstr, 0x1015u);
  // For an exception the scan stops at the slot holding the exception address.
  items = PrepareStack(p, 0x20F4, 0x2100, 0x20F0, true, 0x1025);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].afterInstr, 0x1015u);
  // A stack that cannot be read gives an empty list.
  EXPECT_TRUE(PrepareStack(p, 0, 0x3100, 0x3000, false, 0).empty());
  EXPECT_TRUE(PrepareStack(p, 0, 0x2000, 0x2100, false, 0).empty());
}

} // namespace
} // namespace tidewell::stacktrace::test
