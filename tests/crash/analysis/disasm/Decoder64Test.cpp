// The decoder's 64-bit mode (x86-64), and the function analysis and disassembly text over
// 64-bit code: lengths, REX registers, RIP-relative addresses, targets, invalid opcodes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crash/analysis/disasm/Decoder.h"
#include "crash/analysis/disasm/Disassembly.h"
#include "crash/analysis/disasm/FunctionAnalysis.h"

using namespace tidewell::disasm;

namespace {

constexpr uint64_t kBase = 0x140001000;  // above 4 GiB, as 64-bit images are

DecodedInstruction Decode64(const std::vector<uint8_t>& code, bool tryRead = true) {
    BufferMemory mem(kBase, code);
    return ParseCode(mem, kBase, tryRead, CpuMode::X64);
}

std::string Text64(const std::vector<uint8_t>& code) {
    BufferMemory mem(kBase, code);
    InstructionText text;
    DecodedInstruction d = ParseCode(mem, kBase, nullptr, text, false, CpuMode::X64);
    return d.IsValid ? text.Plain() : "invalid";
}

int Length64(const std::vector<uint8_t>& code) {
    DecodedInstruction d = Decode64(code, false);
    return d.IsValid ? d.Length() : -1;
}

TEST(Decoder64, RexRegistersAndOperandSizes) {
    EXPECT_EQ(Text64({0x48, 0x89, 0xE5}), "mov rbp, rsp");
    EXPECT_EQ(Text64({0x45, 0x31, 0xC0}), "xor r8d, r8d");
    EXPECT_EQ(Text64({0x66, 0x41, 0x89, 0xC0}), "mov r8w, ax");
    EXPECT_EQ(Text64({0x41, 0x50}), "push r8");
    EXPECT_EQ(Text64({0x50}), "push rax");
    EXPECT_EQ(Text64({0x66, 0x50}), "push ax");
    EXPECT_EQ(Text64({0x48, 0x63, 0xC1}), "movsxd rax, ecx");
    // Any REX turns ah/ch/dh/bh into spl/bpl/sil/dil.
    EXPECT_EQ(Text64({0x40, 0x88, 0xF7}), "mov dil, sil");
    EXPECT_EQ(Text64({0x88, 0xF7}), "mov bh, dh");
    EXPECT_EQ(Text64({0x44, 0x88, 0xC0}), "mov al, r8b");
    // Index r12 (REX.X) is a real index; base r12 (REX.B) still needs the SIB byte.
    EXPECT_EQ(Text64({0x4A, 0x8B, 0x04, 0x20}), "mov rax, [rax+r12]");
    EXPECT_EQ(Text64({0x41, 0x8B, 0x04, 0x24}), "mov eax, [r12]");
    EXPECT_EQ(Text64({0x48, 0x83, 0xEC, 0x28}), "sub rsp, +$28");
    EXPECT_EQ(Text64({0x48, 0xC7, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF}), "mov rax, $ffffffffffffffff");
    EXPECT_EQ(Text64({0x48, 0x98}), "cdqe");
    EXPECT_EQ(Text64({0x48, 0xA5}), "movsq");
    EXPECT_EQ(Text64({0x9C}), "pushfq");
    EXPECT_EQ(Text64({0xFF, 0x34, 0x24}), "push qword ptr [rsp]");
    // A REX prefix followed by another prefix is ignored.
    EXPECT_EQ(Text64({0x48, 0x66, 0x89, 0xC0}), "mov ax, ax");
    EXPECT_EQ(Length64({0x48, 0x66, 0x89, 0xC0}), 4);
    // 0x40..0x4F are not inc/dec: alone they are a prefix without an instruction.
    EXPECT_EQ(Length64({0x40}), -1);
}

TEST(Decoder64, ImmediatesAndOffsets) {
    DecodedInstruction d = Decode64({0x48, 0xB8, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11});
    ASSERT_TRUE(d.IsValid);
    EXPECT_EQ(d.Length(), 10);
    EXPECT_TRUE(d.HasImm64);
    EXPECT_EQ(d.Imm64, 0x1122334455667788u);
    EXPECT_EQ(Text64({0x48, 0xB8, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}), "mov rax, $1122334455667788");
    EXPECT_EQ(Length64({0xB8, 1, 2, 3, 4}), 5);  // without REX.W: imm32
    // moffs: an 8-byte address, 4 bytes under 0x67.
    d = Decode64({0xA1, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11});
    ASSERT_TRUE(d.IsValid);
    EXPECT_EQ(d.Length(), 9);
    EXPECT_TRUE(d.MemAbsolute);
    EXPECT_EQ(d.MemAddress, 0x1122334455667788u);
    EXPECT_EQ(d.MemAddressField, kBase + 1);
    d = Decode64({0x67, 0xA1, 0x44, 0x33, 0x22, 0x11});
    EXPECT_EQ(d.Length(), 6);
    EXPECT_EQ(d.MemAddress, 0x11223344u);
    // push imm32 stays 5 bytes (sign-extended to 64 bits).
    EXPECT_EQ(Length64({0x68, 1, 2, 3, 4}), 5);
}

TEST(Decoder64, RelativeTargetsAre64Bit) {
    DecodedInstruction d = Decode64({0xE8, 0x10, 0x00, 0x00, 0x00});
    ASSERT_TRUE(d.IsValid);
    EXPECT_TRUE(d.Call && d.RelTarget);
    EXPECT_EQ(d.Target, kBase + 5 + 0x10);
    EXPECT_EQ(d.PTarget, kBase + 1);
    EXPECT_EQ(d.TargetSize, 4);
    // A negative displacement does not wrap at 32 bits.
    d = Decode64({0xE9, 0x00, 0x00, 0x00, 0x80});
    EXPECT_EQ(d.Target, kBase + 5 - 0x80000000u);
    d = Decode64({0x0F, 0x84, 0xFA, 0xFF, 0xFF, 0xFF});
    EXPECT_TRUE(d.Jmp);
    EXPECT_EQ(d.Target, kBase);
    // 0x66 does not shorten a near branch in 64-bit mode.
    d = Decode64({0x66, 0xE8, 0x10, 0x00, 0x00, 0x00});
    EXPECT_EQ(d.Length(), 6);
    EXPECT_EQ(d.Target, kBase + 6 + 0x10);
    EXPECT_EQ(Text64({0xE8, 0x10, 0x00, 0x00, 0x00}), "call +$10 ($0000000140001015)");
    EXPECT_EQ(Text64({0xFF, 0xD0}), "call rax");
    EXPECT_EQ(Text64({0x41, 0xFF, 0xE3}), "jmp r11");
    EXPECT_EQ(Text64({0xFF, 0x20}), "jmp qword ptr [rax]");
}

TEST(Decoder64, RipRelativeOperands) {
    // lea rax, [rip-7]: the address is that of the instruction itself.
    DecodedInstruction d = Decode64({0x48, 0x8D, 0x05, 0xF9, 0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(d.IsValid);
    EXPECT_TRUE(d.MemAbsolute && d.RipRelative);
    EXPECT_EQ(d.MemAddress, kBase);
    EXPECT_EQ(d.MemAddressField, kBase + 3);
    EXPECT_EQ(Text64({0x48, 0x8D, 0x05, 0xF9, 0xFF, 0xFF, 0xFF}), "lea rax, [rip-7] ($0000000140001000)");
    // The address counts from the end of the instruction, after the immediate.
    d = Decode64({0xC7, 0x05, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00});
    EXPECT_EQ(d.Length(), 10);
    EXPECT_EQ(d.MemAddress, kBase + 10 + 0x10);
    EXPECT_EQ(Text64({0xC7, 0x05, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}),
              "mov dword ptr [rip+$10] ($000000014000101a), 1");
    // r/m 101 with REX.B is still RIP-relative; with a SIB byte it is an absolute disp32.
    d = Decode64({0x41, 0x8B, 0x05, 0x00, 0x00, 0x00, 0x00});
    EXPECT_TRUE(d.RipRelative);
    EXPECT_EQ(d.MemAddress, kBase + 7);
    d = Decode64({0x8B, 0x04, 0x25, 0x00, 0x10, 0x00, 0x00});
    EXPECT_TRUE(d.MemAbsolute);
    EXPECT_FALSE(d.RipRelative);
    EXPECT_EQ(d.MemAddress, 0x1000u);

    // call [rip+2] through a cell of 8 bytes right after the instruction (and 2 bytes of gap).
    std::vector<uint8_t> code = {0xFF, 0x15, 0x02, 0x00, 0x00, 0x00, 0xCC, 0xCC,
                                 0x78, 0x56, 0x34, 0x12, 0xF8, 0x7F, 0x00, 0x00};
    d = Decode64(code);
    ASSERT_TRUE(d.IsValid);
    EXPECT_TRUE(d.Call);
    EXPECT_FALSE(d.RelTarget);
    EXPECT_EQ(d.Target, 0x7FF812345678u);
    EXPECT_EQ(d.PPTarget, kBase + 2);
    EXPECT_EQ(d.TargetSize, 8);
    EXPECT_EQ(d.MemAddress, kBase + 8);
    // An unreadable cell: unknown without reading, invalid when read (as in 32-bit mode).
    std::vector<uint8_t> shortCode(code.begin(), code.begin() + 6);
    EXPECT_TRUE(Decode64(shortCode, false).IsValid);
    EXPECT_EQ(Decode64(shortCode, false).Target, 0u);
    EXPECT_FALSE(Decode64(shortCode, true).IsValid);
}

TEST(Decoder64, OpcodesInvalidIn64BitMode) {
    for (uint8_t op : {0x06, 0x07, 0x0E, 0x16, 0x17, 0x1E, 0x1F, 0x27, 0x2F, 0x37, 0x3F, 0x60, 0x61, 0x82, 0x9A,
                       0xCE, 0xD4, 0xD5, 0xD6, 0xEA}) {
        const std::vector<uint8_t> code = {op, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
        EXPECT_FALSE(Decode64(code, false).IsValid) << std::hex << int(op);
        BufferMemory mem(0x401000, code);
        if (op != 0x82 && op != 0x9A && op != 0xEA) {  // plainly valid in 32-bit mode
            EXPECT_TRUE(ParseCode(mem, 0x401000, false).IsValid) << std::hex << int(op);
        }
    }
    EXPECT_EQ(Text64({0x0F, 0x05}), "syscall");
    EXPECT_EQ(Text64({0x48, 0x0F, 0x07}), "sysretq");
    EXPECT_EQ(Text64({0x0F, 0x01, 0xF8}), "swapgs");
    const std::vector<uint8_t> swapgs = {0x0F, 0x01, 0xF8};
    BufferMemory mem(0x401000, swapgs);
    EXPECT_FALSE(ParseCode(mem, 0x401000, false).IsValid);  // no swapgs in 32-bit mode
}

TEST(Decoder64, VexAndEvexLengths) {
    EXPECT_EQ(Length64({0xC5, 0xF8, 0x77}), 3);                    // vzeroupper
    EXPECT_EQ(Length64({0xC5, 0xFC, 0x28, 0xC1}), 4);              // vmovaps ymm0, ymm1
    EXPECT_EQ(Length64({0xC4, 0xE3, 0x79, 0x0F, 0xC1, 0x08}), 6);  // vpalignr: map 3 takes an imm8
    EXPECT_EQ(Length64({0xC5, 0xF9, 0x70, 0xC1, 0x1B}), 5);        // vpshufd: imm8 in map 1
    EXPECT_EQ(Length64({0x62, 0xF1, 0x7C, 0x48, 0x28, 0xC1}), 6);  // vmovaps zmm0, zmm1
    EXPECT_EQ(Length64({0x62, 0xF1, 0x7C, 0x48, 0x10, 0x40, 0x01}), 7);  // disp8*N
    EXPECT_EQ(Text64({0xC5, 0xFC, 0x28, 0xC1}), "vmovaps ymm0, ymm1");
    EXPECT_EQ(Text64({0x62, 0xF1, 0x7C, 0x48, 0x10, 0x40, 0x01}), "vmovups zmm0, [rax+1*N]");
    // RIP-relative in VEX: vbroadcastss xmm0, [rip+$10].
    DecodedInstruction d = Decode64({0xC4, 0xE2, 0x79, 0x18, 0x05, 0x10, 0x00, 0x00, 0x00});
    ASSERT_TRUE(d.IsValid);
    EXPECT_EQ(d.Length(), 9);
    EXPECT_EQ(d.MemAddress, kBase + 9 + 0x10);
    EXPECT_EQ(Length64({0xC4, 0xE0, 0x79, 0x10, 0xC1}), -1);       // map 0 does not exist
    EXPECT_EQ(Length64({0x66, 0xC5, 0xF8, 0x77}), -1);             // no 66 before VEX
    EXPECT_EQ(Length64({0x62, 0xF1, 0x7C, 0x48 | 0x00, 0x28}), -1);  // cut short
    EXPECT_EQ(Length64({0x62, 0xF9, 0x7C, 0x48, 0x28, 0xC1}), -1);  // reserved bit set
    EXPECT_EQ(Length64({0xC5, 0xF8, 0x0B}), -1);                    // no such VEX opcode
}

TEST(Decoder64, TopOfTheAddressSpace) {
    std::vector<uint8_t> code(16, 0x90);
    code[13] = 0xE8;  // a call that would need bytes past 2^64
    code[15] = 0xC3;
    BufferMemory mem(UINT64_MAX - 15, code);
    DecodedInstruction d = ParseCode(mem, UINT64_MAX, false, CpuMode::X64);
    ASSERT_TRUE(d.IsValid);
    EXPECT_EQ(d.Length(), 1);
    EXPECT_EQ(d.Next, 0u);  // wraps as the instruction pointer would
    EXPECT_FALSE(ParseCode(mem, UINT64_MAX - 2, false, CpuMode::X64).IsValid);
}

TEST(Decoder64, ModesStayApart) {
    // 32-bit mode: the same bytes keep their 32-bit meaning.
    const std::vector<uint8_t> incThenRet = {0x48, 0xC3};
    BufferMemory mem32(0x401000, incThenRet);
    InstructionText text;
    EXPECT_EQ(ParseCode(mem32, 0x401000, nullptr, text, false).Length(), 1);
    EXPECT_EQ(text.Plain(), "dec eax");
    EXPECT_EQ(Length64(incThenRet), 2);  // REX.W ret
    // Nothing above 4 GiB is read in 32-bit mode.
    BufferMemory high(kBase, incThenRet);
    EXPECT_FALSE(ParseCode(high, kBase, false).IsValid);
    EXPECT_TRUE(ParseCode(high, kBase, false, CpuMode::X64).IsValid);
    // Registers are not tracked in 64-bit mode: mov eax, imm32 / call rax stays unknown.
    const std::vector<uint8_t> code = {0xB8, 0x00, 0x10, 0x40, 0x00, 0xFF, 0xD0};
    BufferMemory mem(0x401000, code);
    RegisterState regs;
    ParseCode(mem, 0x401000, regs, true, CpuMode::X64);
    EXPECT_EQ(regs, RegisterState{});
    EXPECT_EQ(ParseCode(mem, 0x401005, regs, true, CpuMode::X64).Target, 0u);
    RegisterState regs32;
    ParseCode(mem, 0x401000, regs32, true);
    EXPECT_EQ(ParseCode(mem, 0x401005, regs32, true).Target, 0x401000u);
}

// sub rsp, 28h / test ecx, ecx / jz L / call [rip+cell] / L: add rsp, 28h / ret, then the cell.
const std::vector<uint8_t> kFunction = {
    0x48, 0x83, 0xEC, 0x28,              // 00 sub rsp, $28
    0x85, 0xC9,                          // 04 test ecx, ecx
    0x74, 0x06,                          // 06 jz 0E
    0xFF, 0x15, 0x0A, 0x00, 0x00, 0x00,  // 08 call [rip+$0a] -> cell at 18
    0x48, 0x83, 0xC4, 0x28,              // 0E add rsp, $28
    0xC3,                                // 12 ret
    0xCC, 0xCC, 0xCC, 0xCC, 0xCC,        // 13 padding
    0x00, 0x10, 0x00, 0x00, 0xF8, 0x7F, 0x00, 0x00,  // 18 cell: $7ff800001000
};

TEST(Analysis64, FunctionAreasAndFarCalls) {
    BufferMemory mem(kBase, kFunction);
    AnalysisOptions options;
    options.mode = CpuMode::X64;
    options.rangeBegin = kBase;
    options.rangeEnd = kBase + kFunction.size();
    FunctionInfo f = ParseFunction(mem, kBase, options);
    ASSERT_TRUE(f.IsValid) << f.LastErrorStr;
    EXPECT_EQ(f.CodeBegin, kBase);
    EXPECT_EQ(f.CodeLen, 0x13u);
    ASSERT_EQ(f.CodeAreas.size(), 2u);
    EXPECT_EQ(f.CodeAreas[1].AreaBegin, kBase + 0x0E);
    EXPECT_EQ(f.CodeAreas[1].CalledFrom, kBase + 0x06);
    ASSERT_EQ(f.FarCalls.size(), 1u);
    EXPECT_EQ(f.FarCalls[0].Target, 0x7FF800001000u);
    EXPECT_EQ(f.FarCalls[0].CodeAddr2, kBase + 0x0E);
    EXPECT_EQ(f.FarCalls[0].PPTarget, kBase + 0x0A);
    EXPECT_EQ(f.Copy.BufferLen, 0x13u + 8 + 8);  // code, a pointer, a pointer per cell
    // The same bytes in 32-bit mode above 4 GiB: not readable.
    options.mode = CpuMode::X86;
    EXPECT_FALSE(ParseFunction(mem, kBase, options).IsValid);
}

TEST(Disassembly64, AddressesHaveSixteenDigits) {
    BufferMemory mem(kBase, kFunction);
    DisassemblyOptions options;
    options.analysis.mode = CpuMode::X64;
    options.analysis.rangeBegin = kBase;
    options.analysis.rangeEnd = kBase + kFunction.size();
    const std::string text = DisassembleFunction(mem, kBase, kBase + 8, 0, false, options);
    const std::string expected =
        "0000000140001000 sub_0000000140001000:   ; function entry point\r\n"
        "0000000140001000   sub     rsp, +$28\r\n"
        "0000000140001004   test    ecx, ecx\r\n"
        "0000000140001006   jz      loc_000000014000100e\r\n"
        "0000000140001008 > call    qword ptr [rip+$a] ($0000000140001018)\r\n"
        "000000014000100e loc_000000014000100e:\r\n"
        "000000014000100e   add     rsp, +$28\r\n"
        "0000000140001012   ret";
    EXPECT_EQ(text, expected);
}

}  // namespace
