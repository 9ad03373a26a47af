// Moving an exception address that lies 4 bytes before an instruction boundary onto it.
#include <gtest/gtest.h>

#include <vector>

#include "crash/capture/exception/KXAddressCorrection.h"

namespace kx {

TEST(AddressCorrection, FourBytesBeforeABoundaryMovesForwardABoundaryStays) {
  // 1000 push ebp / 1001 mov ebp,esp / 1003 call 1020 / 1008 mov eax,1 / 100d pop ebp / 100e ret
  // 1020 ret
  std::vector<uint8_t> code(0x30, 0x90);
  const uint8_t body[] = {0x55, 0x89, 0xE5, 0xE8, 0x18, 0x00, 0x00, 0x00, 0xB8, 0x01, 0x00, 0x00, 0x00, 0x5D, 0xC3};
  std::copy(std::begin(body), std::end(body), code.begin());
  code[0x20] = 0xC3;
  tidewell::disasm::BufferMemory memory(0x1000, code);

  EXPECT_TRUE(IsInstructionBoundary(memory, 0x1000, 0x1008)) << "after the call";
  EXPECT_TRUE(IsInstructionBoundary(memory, 0x1000, 0x100D));
  EXPECT_FALSE(IsInstructionBoundary(memory, 0x1000, 0x1004)) << "inside the call";

  EXPECT_EQ(CorrectedExceptAddress(memory, 0x1000, 0x1008), 0x1008u);
  EXPECT_EQ(CorrectedExceptAddress(memory, 0x1000, 0x1004), 0x1008u);
  EXPECT_EQ(CorrectedExceptAddress(memory, 0x1000, 0x1009), 0x100Du);
  EXPECT_EQ(CorrectedExceptAddress(memory, 0x1000, 0x1005), 0x1005u) << "neither is a boundary";
  EXPECT_EQ(CorrectedExceptAddress(memory, 0x1000, 0x1003), 0x1003u);
}

TEST(AddressCorrection, UnreadableCodeChangesNothing) {
  std::vector<uint8_t> none;
  tidewell::disasm::BufferMemory memory(0x1000, none);
  EXPECT_EQ(CorrectedExceptAddress(memory, 0x1000, 0x1004), 0x1004u);
}

} // namespace kx
