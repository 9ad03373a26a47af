#include <gtest/gtest.h>

#include <vector>

#include "crash/analysis/disasm/Decoder.h"

using namespace tidewell::disasm;

namespace {

constexpr uint32_t kBase = 0x00401000;

DecodedInstruction Decode(const std::vector<uint8_t>& code, bool tryRead = true) {
    BufferMemory mem(kBase, code);
    return ParseCode(mem, kBase, tryRead);
}

std::string Text(const std::vector<uint8_t>& code) {
    BufferMemory mem(kBase, code);
    InstructionText text;
    DecodedInstruction d = ParseCode(mem, kBase, nullptr, text, false);
    return d.IsValid ? text.Plain() : "invalid";
}

// Memory made of several separate regions, the gaps unreadable.
class RegionMemory : public MemoryReader {
public:
    void Add(uint32_t base, std::vector<uint8_t> bytes) { regions_.push_back({base, std::move(bytes)}); }
    bool Read(uint64_t address, void* buffer, uint32_t count) const override {
        for (const auto& r : regions_)
            if (BufferMemory(r.first, r.second).Read(address, buffer, count)) return true;
        return false;
    }

private:
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> regions_;
};

TEST(DecoderTargets, RelativeCallAndJumps) {
    DecodedInstruction d = Decode({0xE8, 0x10, 0x00, 0x00, 0x00});
    EXPECT_TRUE(d.IsValid);
    EXPECT_TRUE(d.Call);
    EXPECT_FALSE(d.Jmp);
    EXPECT_TRUE(d.RelTarget);
    EXPECT_EQ(d.Target, kBase + 5 + 0x10);
    EXPECT_EQ(d.PTarget, kBase + 1);
    EXPECT_EQ(d.TargetSize, 4);
    EXPECT_EQ(d.Next, kBase + 5);
    EXPECT_EQ(d.Opcode, 0xE8);

    d = Decode({0x0F, 0x84, 0xFA, 0xFF, 0xFF, 0xFF});  // jz back to itself
    EXPECT_TRUE(d.Jmp);
    EXPECT_EQ(d.Opcode, 0x0F84);
    EXPECT_EQ(d.Target, kBase);
    EXPECT_EQ(d.PTarget, kBase + 2);

    // Under 0x66 the displacement is 16 bits wide and the target wraps within 64 KiB.
    d = Decode({0x66, 0xE9, 0x00, 0x10});
    EXPECT_EQ(d.TargetSize, 2);
    EXPECT_EQ(d.Target, (kBase + 4 + 0x1000) & 0xFFFF);
}

TEST(DecoderTargets, CallToNextInstructionIsNotATransfer) {
    DecodedInstruction d = Decode({0xE8, 0x00, 0x00, 0x00, 0x00});
    EXPECT_TRUE(d.IsValid);
    EXPECT_FALSE(d.Call);
    EXPECT_FALSE(d.Jmp);
    EXPECT_FALSE(d.RelTarget);
    EXPECT_FALSE(d.Enlargeable);
    EXPECT_EQ(d.Target, 0u);
    EXPECT_EQ(d.PTarget, 0u);
    EXPECT_EQ(d.TargetSize, 0);
    EXPECT_EQ(d.Next, kBase + 5);
    // A short jump over nothing is the same case.
    d = Decode({0xEB, 0x00});
    EXPECT_FALSE(d.Jmp);
    EXPECT_EQ(Text({0xE8, 0x00, 0x00, 0x00, 0x00}), "call +0 ($00401005)");
}

TEST(DecoderTargets, EnlargeableShortJumpsButNotLoops) {
    for (uint8_t op : {0xEB, 0x70, 0x74, 0x7F}) {
        DecodedInstruction d = Decode({op, 0x10});
        EXPECT_TRUE(d.Jmp) << int(op);
        EXPECT_TRUE(d.Enlargeable) << int(op);
        EXPECT_EQ(d.TargetSize, 1);
        EXPECT_EQ(d.Target, kBase + 2 + 0x10);
    }
    for (uint8_t op : {0xE0, 0xE1, 0xE2, 0xE3}) {
        DecodedInstruction d = Decode({op, 0xFE});
        EXPECT_TRUE(d.Jmp) << int(op);
        EXPECT_TRUE(d.RelTarget);
        EXPECT_FALSE(d.Enlargeable) << int(op);
        EXPECT_EQ(d.Target, kBase);
    }
    EXPECT_TRUE(Decode({0xE9, 1, 0, 0, 0}).Enlargeable);
}

TEST(DecoderTargets, IndirectThroughAbsoluteCell) {
    RegionMemory mem;
    mem.Add(kBase, {0xFF, 0x25, 0x00, 0x20, 0x40, 0x00,    // jmp [$402000]
                    0xFF, 0x15, 0x00, 0x30, 0x40, 0x00});  // call [$403000] (unreadable)
    mem.Add(0x402000, {0x78, 0x56, 0x34, 0x12});
    DecodedInstruction d = ParseCode(mem, kBase);
    EXPECT_TRUE(d.IsValid);
    EXPECT_TRUE(d.Jmp);
    EXPECT_FALSE(d.RelTarget);
    EXPECT_EQ(d.Target, 0x12345678u);
    EXPECT_EQ(d.PPTarget, kBase + 2);
    EXPECT_EQ(d.TargetSize, 4);

    // The cell cannot be read: invalid, unless reading is switched off.
    d = ParseCode(mem, kBase + 6);
    EXPECT_FALSE(d.IsValid);
    EXPECT_EQ(d.Next, kBase + 12);
    d = ParseCode(mem, kBase + 6, false);
    EXPECT_TRUE(d.IsValid);
    EXPECT_TRUE(d.Call);
    EXPECT_EQ(d.Target, 0u);
    EXPECT_EQ(d.PPTarget, kBase + 8);
}

TEST(DecoderTargets, FarAndIndirectForms) {
    DecodedInstruction d = Decode({0x9A, 1, 2, 3, 4, 5, 6});
    EXPECT_TRUE(d.Call);
    EXPECT_EQ(d.Length(), 7);
    EXPECT_EQ(d.Target, 0u);
    d = Decode({0x66, 0xEA, 1, 2, 3, 4});
    EXPECT_TRUE(d.Jmp);
    EXPECT_EQ(d.Length(), 6);
    d = Decode({0xFF, 0xD0});  // call eax, not known
    EXPECT_TRUE(d.Call);
    EXPECT_EQ(d.Target, 0u);
    EXPECT_FALSE(Decode({0xFF, 0xD8}).IsValid);  // call far with a register operand
    EXPECT_FALSE(Decode({0xFF, 0xE8}).IsValid);
    EXPECT_FALSE(Decode({0xFF, 0x38}).IsValid);  // reg 7
}

TEST(DecoderRegisters, TracksImmediateLoadsIntoCalls) {
    RegionMemory mem;
    mem.Add(kBase, {0xB8, 0x00, 0x50, 0x40, 0x00,   // mov eax, $405000
                    0xFF, 0xD0,                     // call eax
                    0xBB, 0x00, 0x20, 0x40, 0x00,   // mov ebx, $402000
                    0xFF, 0x23,                     // jmp [ebx]
                    0x8B, 0xD9,                     // mov ebx, ecx
                    0xFF, 0xE3});                   // jmp ebx
    mem.Add(0x402000, {0x00, 0x60, 0x40, 0x00});
    RegisterState regs;
    DecodedInstruction d = ParseCode(mem, kBase, regs);
    EXPECT_EQ(regs.value[0], 0x405000u);
    EXPECT_EQ(regs.source[0], kBase + 1);
    d = ParseCode(mem, d.Next, regs);
    EXPECT_TRUE(d.Call);
    EXPECT_EQ(d.Target, 0x405000u);
    EXPECT_EQ(d.PPTarget, kBase + 1);
    EXPECT_EQ(regs.value[0], 0u) << "a call clobbers eax";
    d = ParseCode(mem, d.Next, regs);
    d = ParseCode(mem, d.Next, regs);
    EXPECT_TRUE(d.Jmp);
    EXPECT_EQ(d.Target, 0x406000u);
    d = ParseCode(mem, d.Next, regs);
    EXPECT_EQ(regs.value[3], 0u) << "mov ebx, ecx forgets ebx";
    d = ParseCode(mem, d.Next, regs);
    EXPECT_EQ(d.Target, 0u);
}

TEST(DecoderRegisters, WritesForgetValues) {
    // Each instruction writes eax in its own way; after it eax must be unknown.
    const std::vector<std::vector<uint8_t>> writers = {
        {0x31, 0xC0}, {0x88, 0xC4}, {0x66, 0x40}, {0x0F, 0xB6, 0xC1}, {0x99, 0x92}, {0xF7, 0xE1},
        {0x0F, 0xA2}, {0xAD}, {0x58}, {0x8D, 0x04, 0x24}, {0x0F, 0xC1, 0xC8}, {0x61}, {0xE8, 1, 0, 0, 0},
    };
    for (const auto& w : writers) {
        RegisterState regs;
        regs.value.fill(0x1000);
        BufferMemory mem(kBase, w);
        DecodedInstruction d = ParseCode(mem, kBase, regs);
        ASSERT_TRUE(d.IsValid);
        if (d.Next < kBase + w.size()) ParseCode(mem, d.Next, regs);
        EXPECT_EQ(regs.value[0], 0u) << Text(w);
    }
    // The long form of mov reg, imm32 records the value like the short one.
    {
        const std::vector<uint8_t> longForm = {0xC7, 0xC1, 0x00, 0x20, 0x40, 0x00};  // mov ecx, $402000
        BufferMemory mem(kBase, longForm);
        RegisterState state;
        ParseCode(mem, kBase, state);
        EXPECT_EQ(state.value[1], 0x402000u);
        EXPECT_EQ(state.source[1], kBase + 2);
    }
    // Reads keep it.
    RegisterState regs;
    regs.value[0] = 0x1234;
    const std::vector<uint8_t> cmp = {0x3B, 0xC1};  // cmp eax, ecx
    BufferMemory mem(kBase, cmp);
    ParseCode(mem, kBase, regs);
    EXPECT_EQ(regs.value[0], 0x1234u);
}

TEST(DecoderValidity, Rules) {
    EXPECT_FALSE(Decode({0x8D, 0xC0}).IsValid);        // lea with a register operand
    EXPECT_FALSE(Decode({0xC4, 0xC0}).IsValid);
    EXPECT_FALSE(Decode({0x62, 0xC0}).IsValid);
    EXPECT_FALSE(Decode({0x8C, 0xF0}).IsValid);        // segment register 6
    EXPECT_TRUE(Decode({0x8E, 0xD8}).IsValid);         // mov ds, ax
    EXPECT_FALSE(Decode({0xFE, 0xD0}).IsValid);        // FE allows reg 0 and 1 only
    EXPECT_FALSE(Decode({0xD9, 0xD1}).IsValid);
    EXPECT_FALSE(Decode({0xD9, 0xE2}).IsValid);
    EXPECT_FALSE(Decode({0xD9, 0xEF}).IsValid);
    EXPECT_TRUE(Decode({0xDA, 0xE9}).IsValid);         // fucompp
    EXPECT_FALSE(Decode({0xDA, 0xEA}).IsValid);
    EXPECT_FALSE(Decode({0x0F, 0x00, 0x30}).IsValid);  // 0F 00 /6
    EXPECT_FALSE(Decode({0x0F, 0x01, 0xC0}).IsValid);  // register form of sgdt
    EXPECT_TRUE(Decode({0x0F, 0x01, 0xD0}).IsValid);   // xgetbv
    EXPECT_FALSE(Decode({0x0F, 0x01, 0x28}).IsValid);  // 0F 01 /5
    EXPECT_FALSE(Decode({0x0F, 0x20, 0x00}).IsValid);  // mov from cr0 needs a register operand
    EXPECT_FALSE(Decode({0x0F, 0x71, 0x10, 0x01}).IsValid);
    EXPECT_FALSE(Decode({0x0F, 0x73, 0xD8, 0x01}).IsValid);  // psrldq needs 66
    EXPECT_TRUE(Decode({0x66, 0x0F, 0x73, 0xD8, 0x01}).IsValid);
    EXPECT_FALSE(Decode({0x0F, 0x0F, 0xC1, 0x00}).IsValid);  // 3DNow! suffix 00 is undefined
    EXPECT_TRUE(Decode({0x0F, 0x0F, 0xC1, 0x9E}).IsValid);   // pfadd
}

TEST(DecoderValidity, LengthLimitAndUnreadableBytes) {
    std::vector<uint8_t> prefixes(14, 0x66);
    prefixes.push_back(0x90);
    EXPECT_TRUE(Decode(prefixes).IsValid);  // 15 bytes
    prefixes.insert(prefixes.begin(), 0x66);
    DecodedInstruction d = Decode(prefixes);
    EXPECT_FALSE(d.IsValid);                // 16 bytes
    // An instruction cut off by the end of readable memory is invalid; nothing is read beyond.
    d = Decode({0xE8, 0x01, 0x02});
    EXPECT_FALSE(d.IsValid);
    EXPECT_FALSE(d.Call);
    d = Decode({});
    EXPECT_FALSE(d.IsValid);
    // Decoding at the very top of the address space must not wrap around.
    std::vector<uint8_t> top = {0x90, 0x90};
    BufferMemory mem(0xFFFFFFFE, top);
    EXPECT_TRUE(ParseCode(mem, 0xFFFFFFFF).IsValid);
}

TEST(DecoderText, OperandForms) {
    EXPECT_EQ(Text({0x55}), "push ebp");
    EXPECT_EQ(Text({0x8B, 0xEC}), "mov ebp, esp");
    EXPECT_EQ(Text({0x83, 0xEC, 0x10}), "sub esp, +$10");
    EXPECT_EQ(Text({0x83, 0xC4, 0xF8}), "add esp, -8");
    EXPECT_EQ(Text({0x8B, 0x45, 0xF8}), "mov eax, [ebp-8]");
    EXPECT_EQ(Text({0x8B, 0x44, 0x8E, 0x10}), "mov eax, [esi+ecx*4+$10]");
    EXPECT_EQ(Text({0xC7, 0x45, 0xFC, 0x0A, 0, 0, 0}), "mov dword ptr [ebp-4], $a");
    EXPECT_EQ(Text({0x0F, 0xB6, 0x01}), "movzx eax, byte ptr [ecx]");
    EXPECT_EQ(Text({0x66, 0x89, 0x08}), "mov [eax], cx");
    EXPECT_EQ(Text({0x64, 0xA1, 0, 0, 0, 0}), "mov eax, fs:[0]");
    EXPECT_EQ(Text({0x64, 0x8B, 0x0D, 0x18, 0, 0, 0}), "mov ecx, fs:[$18]");
    EXPECT_EQ(Text({0xD1, 0xE0}), "shl eax, 1");
    EXPECT_EQ(Text({0xD3, 0x20}), "shl dword ptr [eax], cl");
    EXPECT_EQ(Text({0xDD, 0x45, 0xF0}), "fld qword ptr [ebp-$10]");
    EXPECT_EQ(Text({0xDE, 0xC1}), "faddp st(1), st(0)");
    EXPECT_EQ(Text({0xDF, 0xE0}), "fnstsw ax");
    EXPECT_EQ(Text({0x0F, 0x28, 0x01}), "movaps xmm0, [ecx]");
    EXPECT_EQ(Text({0xF2, 0x0F, 0x10, 0x45, 0x08}), "movsd xmm0, qword ptr [ebp+8]");
    EXPECT_EQ(Text({0x66, 0x0F, 0x6F, 0xC1}), "movdqa xmm0, xmm1");
    EXPECT_EQ(Text({0x0F, 0x6F, 0xC1}), "movq mm0, mm1");
    EXPECT_EQ(Text({0x0F, 0x12, 0xC1}), "movhlps xmm0, xmm1");
    EXPECT_EQ(Text({0xF3, 0xA5}), "rep movsd");
    EXPECT_EQ(Text({0xF3, 0x90}), "pause");
    // 66 is the operand size where it selects no variant of its own.
    EXPECT_EQ(Text({0x66, 0x0F, 0xBC, 0xC1}), "bsf ax, cx");
    EXPECT_EQ(Text({0xF3, 0x0F, 0xBC, 0xC1}), "tzcnt eax, ecx");
    EXPECT_EQ(Text({0x66, 0x0F, 0x6F, 0x00}), "movdqa xmm0, [eax]");
    EXPECT_EQ(Text({0xF3, 0x0F, 0x54, 0xC1}), "rep andps xmm0, xmm1");
    EXPECT_EQ(Text({0xF0, 0x0F, 0xB1, 0x0A}), "lock cmpxchg [edx], ecx");
    EXPECT_EQ(Text({0x9A, 0x00, 0x10, 0x40, 0x00, 0x1B, 0x00}), "call $1b:$401000");
    EXPECT_EQ(Text({0x67, 0x8B, 0x40, 0x02}), "mov eax, [bx+si+2]");
    EXPECT_EQ(Text({0xC8, 0x10, 0x00, 0x00}), "enter $10, 0");
    EXPECT_EQ(Text({0xEB, 0xFE}), "jmp -2 ($00401000)");
    EXPECT_EQ(Text({0x8D, 0x04, 0x85, 0x00, 0x20, 0x40, 0x00}), "lea eax, [eax*4+$402000]");
    EXPECT_EQ(Text({0x0F, 0xAE, 0xF0}), "mfence");
    EXPECT_EQ(Text({0x0F, 0x0F, 0xC1, 0x9E}), "pfadd mm0, mm1");
}

TEST(Decoder, LockOnlyOnReadModifyWriteToMemory) {
    // The processor raises #UD for lock anywhere else.
    EXPECT_EQ(Text({0xF0, 0x01, 0x08}), "lock add [eax], ecx");
    EXPECT_EQ(Text({0xF0, 0x83, 0x00, 0x01}), "lock add dword ptr [eax], +1");
    EXPECT_EQ(Text({0xF0, 0xFF, 0x00}), "lock inc dword ptr [eax]");
    EXPECT_EQ(Text({0xF0, 0x0F, 0xC1, 0x08}), "lock xadd [eax], ecx");
    EXPECT_TRUE(Decode({0xF0, 0x0F, 0xC7, 0x08}).IsValid);  // cmpxchg8b
    for (const std::vector<uint8_t>& code : std::vector<std::vector<uint8_t>>{
             {0xF0, 0x01, 0xC8},        // a register destination
             {0xF0, 0x03, 0x08},        // add ecx, [eax]: the memory is the source
             {0xF0, 0x83, 0x38, 0x01},  // cmp does not write
             {0xF0, 0x8B, 0x08},        // mov
             {0xF0, 0x06},              // push es
             {0xF0, 0xFF, 0x10},        // call
             {0xF0, 0x0F, 0xC7, 0x30}}) // rdrand's group, not cmpxchg8b
        EXPECT_FALSE(Decode(code).IsValid) << Text(code);
}

TEST(DecoderText, NumberForms) {
    EXPECT_EQ(FormatNumber(9), "9");
    EXPECT_EQ(FormatNumber(-9), "-9");
    EXPECT_EQ(FormatNumber(10), "$a");
    EXPECT_EQ(FormatNumber(-10), "-$a");
    EXPECT_EQ(FormatNumber(0, true), "+0");
    EXPECT_EQ(FormatNumber(0xFFFFFFFF), "$ffffffff");
    EXPECT_EQ(FormatNumber(INT64_MIN), "-$8000000000000000");
    EXPECT_EQ(FormatAddress(0x401000), "$00401000");
}

}  // namespace
