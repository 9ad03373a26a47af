#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "crash/analysis/disasm/FunctionAnalysis.h"

using namespace tidewell::disasm;

namespace {

constexpr uint32_t kBase = 0x00500000;

struct Code {
    std::vector<uint8_t> bytes;
    explicit Code(std::vector<uint8_t> b, size_t size = 0x200) : bytes(std::move(b)) { bytes.resize(size, 0xCC); }
    FunctionInfo Analyse(const AnalysisOptions& options = {}) const {
        BufferMemory mem(kBase, bytes);
        return ParseFunction(mem, kBase, options);
    }
};

const CodeArea* AreaAt(const FunctionInfo& f, uint32_t begin) {
    for (const auto& a : f.CodeAreas)
        if (a.AreaBegin == begin) return &a;
    return nullptr;
}

AnalysisOptions InModule() {
    AnalysisOptions o;
    o.rangeBegin = kBase;
    o.rangeEnd = kBase + 0x10000;
    return o;
}

TEST(FunctionAnalysis, SimpleFunctionWithCallsAndBranches) {
    Code code({
        0x55,                          // 00 push ebp
        0x85, 0xC0,                    // 01 test eax, eax
        0x74, 0x06,                    // 03 jz 0B
        0xE8, 0xF6, 0x0F, 0x00, 0x00,  // 05 call 1000 (inside the module)
        0x5D,                          // 0A pop ebp
        0xFF, 0xD0,                    // 0B call eax   (unknown)
        0x5D,                          // 0D pop ebp
        0xC3,                          // 0E ret
    });
    FunctionInfo f = code.Analyse(InModule());
    ASSERT_TRUE(f.IsValid) << f.LastErrorStr;
    EXPECT_EQ(f.EntryPoint, kBase);
    EXPECT_EQ(f.CodeBegin, kBase);
    EXPECT_EQ(f.CodeLen, 0x0Fu);
    EXPECT_EQ(f.Copy.BufferLen, 0x0Fu + 4);
    // The fall-through at 0A runs into the area opened by the jz at 0B.
    ASSERT_EQ(f.CodeAreas.size(), 2u);
    EXPECT_EQ(f.CodeAreas[0].AreaEnd, kBase + 0x0A);
    EXPECT_EQ(f.CodeAreas[1].AreaBegin, kBase + 0x0B);
    EXPECT_EQ(f.CodeAreas[1].CalledFrom, kBase + 0x03);
    ASSERT_EQ(f.FarCalls.size(), 1u);  // every call is a far call
    EXPECT_TRUE(f.FarCalls[0].Call);
    EXPECT_EQ(f.FarCalls[0].Target, kBase + 0x1000);
    EXPECT_EQ(f.FarCalls[0].CodeAddr2, kBase + 0x0A);
    EXPECT_TRUE(f.FarCalls[0].RelTarget);
    ASSERT_EQ(f.UnknownTargets.size(), 1u);
    EXPECT_TRUE(f.UnknownTargets[0].Call);
    EXPECT_EQ(f.UnknownTargets[0].CodeAddr1, kBase + 0x0B);
    EXPECT_TRUE(f.Interceptable);
}

TEST(FunctionAnalysis, Errors) {
    BufferMemory nothing(kBase, nullptr, 0);
    FunctionInfo f = ParseFunction(nothing, kBase);
    EXPECT_FALSE(f.IsValid);
    EXPECT_EQ(f.LastErrorNo, 87u);
    EXPECT_EQ(f.LastErrorStr, "The parameter is incorrect.");
    EXPECT_FALSE(f.Copy.IsValid);

    Code bad({0x55, 0x89, 0xE5, 0x0F, 0x0B, 0x00});  // push ebp / mov ebp, esp / ud2 ... then 0F FF
    bad.bytes[3] = 0x0F;
    bad.bytes[4] = 0xFF;
    f = bad.Analyse();
    EXPECT_FALSE(f.IsValid);
    EXPECT_EQ(f.LastErrorNo, 0x770001u);
    EXPECT_EQ(f.LastErrorStr, "Invalid code!");
    EXPECT_EQ(f.LastErrorAddr, kBase + 5) << "the address after the invalid instruction";
    EXPECT_EQ(f.Copy.LastErrorNo, 0x770001u);

    // Code that runs off the end of readable memory is invalid too, and nothing beyond is read.
    Code cut({0x90, 0x90}, 2);
    f = cut.Analyse();
    EXPECT_FALSE(f.IsValid);
    EXPECT_EQ(f.LastErrorNo, 0x770001u);
}

TEST(FunctionAnalysis, FunctionEndingInAJumpTable) {
    Code code({
        0x83, 0xF9, 0x02,                          // 00 cmp ecx, 2
        0x77, 0x0B,                                // 03 ja 10
        0xFF, 0x24, 0x8D, 0x20, 0x00, 0x50, 0x00,  // 05 jmp [ecx*4+$500020]
        0x90, 0x90, 0x90, 0x90,                    // 0C (alignment)
        0x31, 0xC0, 0xC3,                          // 10 xor eax, eax / ret
        0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90,
        0x13, 0x00, 0x50, 0x00,                    // 20 case 0 -> 13
        0x10, 0x00, 0x50, 0x00,                    // 24 case 1 -> 10
        0x1F, 0x00, 0x50, 0x00,                    // 28 case 2 -> 1F
    });
    code.bytes[0x1F] = 0xC3;
    // The table lies elsewhere (as compilers that put tables in read-only data do): its
    // entries are followed, but no case block is recorded.
    FunctionInfo f = code.Analyse(InModule());
    ASSERT_TRUE(f.IsValid) << std::hex << f.LastErrorAddr;
    ASSERT_NE(AreaAt(f, kBase + 0x13), nullptr);
    EXPECT_EQ(AreaAt(f, kBase + 0x13)->CalledFrom, kBase) << "table entries are called from the cmp";
    EXPECT_TRUE(f.UnknownTargets.empty()) << "the table jump is known";
    for (const auto& a : f.CodeAreas) EXPECT_FALSE(a.CaseBlock);

    // The table right after the jump, at the very end of the function.
    Code tail({
        0x83, 0xF8, 0x01,                          // 00 cmp eax, 1
        0x0F, 0x87, 0x12, 0x00, 0x00, 0x00,        // 03 ja 1B
        0xFF, 0x24, 0x85, 0x10, 0x00, 0x50, 0x00,  // 09 jmp [eax*4+$500010]
        0x18, 0x00, 0x50, 0x00,                    // 10 -> 18
        0x1A, 0x00, 0x50, 0x00,                    // 14 -> 1A
        0x90, 0xC3,                                // 18 nop / ret
        0x40, 0xC3,                                // 1A inc eax / ret
    });
    f = tail.Analyse(InModule());
    ASSERT_TRUE(f.IsValid) << f.LastErrorStr << " at " << std::hex << f.LastErrorAddr;
    const CodeArea* t = AreaAt(f, kBase + 0x10);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->CaseBlock);
    EXPECT_EQ(t->AreaEnd, kBase + 0x17) << "imm8 + 1 = 2 entries";
    ASSERT_NE(AreaAt(f, kBase + 0x18), nullptr);
    ASSERT_NE(AreaAt(f, kBase + 0x1A), nullptr);
    EXPECT_EQ(AreaAt(f, kBase + 0x1A)->CalledFrom, kBase);
    EXPECT_NE(AreaAt(f, kBase + 0x1B), nullptr) << "the ja target splits the last area";
    EXPECT_EQ(f.CodeLen, 0x1Cu);
    EXPECT_TRUE(f.Interceptable);

    // With jae the range check leaves imm8 entries only: cmp eax, 2 / jae gives the same table.
    tail.bytes[0x02] = 0x02;
    tail.bytes[0x04] = 0x83;
    f = tail.Analyse(InModule());
    ASSERT_TRUE(f.IsValid);
    ASSERT_NE(AreaAt(f, kBase + 0x10), nullptr);
    EXPECT_EQ(AreaAt(f, kBase + 0x10)->AreaEnd, kBase + 0x17);
    EXPECT_EQ(f.CodeLen, 0x1Cu);
}

TEST(FunctionAnalysis, NonReturningCallsEndTheArea) {
    Code code({
        0x85, 0xC0,                    // 00 test eax, eax
        0x74, 0x05,                    // 02 jz 09
        0xE8, 0xF7, 0x0F, 0x00, 0x00,  // 04 call 1000 (halt)
        0xC3,                          // 09 ret
    });
    code.bytes[0x09] = 0xC3;
    // Garbage right after the call: without the halt rule the function is invalid.
    code.bytes.insert(code.bytes.begin() + 9, {0x0F, 0xFF});
    code.bytes[0x03] = 0x07;  // jz 0B
    code.bytes.resize(0x200, 0xCC);
    EXPECT_FALSE(code.Analyse().IsValid);
    AnalysisOptions o;
    o.helpers.halt = kBase + 0x1000;
    FunctionInfo f = code.Analyse(o);
    ASSERT_TRUE(f.IsValid);
    EXPECT_EQ(f.CodeAreas.front().AreaEnd, kBase + 0x08);
    // ud2 ends an area too.
    Code trap({0x40, 0x0F, 0x0B, 0x0F, 0xFF});
    f = trap.Analyse();
    ASSERT_TRUE(f.IsValid);
    EXPECT_EQ(f.CodeLen, 3u);
    // The same through the list of further non-returning routines.
    AnalysisOptions o2;
    o2.noReturn = {kBase + 0x1000};
    EXPECT_TRUE(code.Analyse(o2).IsValid);
}

TEST(FunctionAnalysis, JumpsInsideAndOutsideTheModule) {
    Code code({
        0x85, 0xC0,                    // 00 test eax, eax
        0x0F, 0x85, 0xF8, 0x0F, 0x00, 0x00,  // 02 jnz 1000 (inside the module)
        0xE9, 0xDB, 0xFF, 0xFF, 0xFF,  // 08 jmp 4FFFE8 (outside: below rangeBegin)
    });
    code.bytes.resize(0x1000, 0xCC);
    code.bytes.push_back(0xC3);  // 1000 ret
    AnalysisOptions o = InModule();
    o.rangeBegin = kBase;
    FunctionInfo f = code.Analyse(o);
    ASSERT_TRUE(f.IsValid);
    ASSERT_NE(AreaAt(f, kBase + 0x1000), nullptr);
    ASSERT_EQ(f.FarCalls.size(), 1u);
    EXPECT_FALSE(f.FarCalls[0].Call);
    EXPECT_EQ(f.FarCalls[0].Target, kBase - 0x18);
    // A jump to the start of another function is a tail call.
    o.isOtherFunction = [](uint32_t a) { return a == kBase + 0x1000; };
    f = code.Analyse(o);
    ASSERT_TRUE(f.IsValid);
    EXPECT_EQ(AreaAt(f, kBase + 0x1000), nullptr);
    EXPECT_EQ(f.FarCalls.size(), 2u);
}

TEST(FunctionAnalysis, RegisterTrackedJumpAndCopyBuffer) {
    Code code({
        0xB8, 0x10, 0x00, 0x50, 0x00,        // 00 mov eax, $500010
        0xFF, 0x15, 0x00, 0x01, 0x50, 0x00,  // 05 call [$500100]
        0xFF, 0xE0,                          // 0B jmp eax  -> 10
        0x90, 0x90, 0x90,
        0xC3,                                // 10 ret
    });
    code.bytes[0x100] = 0x00;
    code.bytes[0x101] = 0x20;
    code.bytes[0x102] = 0x40;
    code.bytes[0x103] = 0x00;
    FunctionInfo f = code.Analyse(InModule());
    ASSERT_TRUE(f.IsValid);
    // A call clobbers eax, so the jump stays unknown...
    ASSERT_EQ(f.UnknownTargets.size(), 1u);
    EXPECT_EQ(f.UnknownTargets[0].CodeAddr1, kBase + 0x0B);
    EXPECT_FALSE(f.UnknownTargets[0].Call);
    // ...unless the value is loaded after the call.
    Code after({
        0xFF, 0x15, 0x00, 0x01, 0x50, 0x00,  // 00 call [$500100]
        0xB8, 0x10, 0x00, 0x50, 0x00,        // 06 mov eax, $500010
        0xFF, 0xE0,                          // 0B jmp eax  -> 10
        0x90, 0x90, 0x90,
        0xC3,                                // 10 ret
    });
    after.bytes[0x100] = 0x00;
    after.bytes[0x101] = 0x20;
    after.bytes[0x102] = 0x40;
    after.bytes[0x103] = 0x00;
    f = after.Analyse(InModule());
    ASSERT_TRUE(f.IsValid);
    EXPECT_TRUE(f.UnknownTargets.empty());
    const CodeArea* target = AreaAt(f, kBase + 0x10);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->CalledFrom, kBase + 0x0B);
    ASSERT_EQ(f.FarCalls.size(), 1u);
    EXPECT_EQ(f.FarCalls[0].Target, 0x00402000u);
    EXPECT_EQ(f.FarCalls[0].PPTarget, kBase + 2);
    EXPECT_EQ(f.CodeLen, 0x11u);
    EXPECT_EQ(f.Copy.BufferLen, 0x11u + 4 + 4) << "4 more for the call through a cell";
}

TEST(FunctionAnalysis, Interceptable) {
    EXPECT_FALSE(Code({0x31, 0xC0, 0x40, 0x40, 0xC3}).Analyse().Interceptable) << "5 bytes are too short";
    EXPECT_TRUE(Code({0x31, 0xC0, 0x40, 0x40, 0x40, 0xC3}).Analyse().Interceptable);
    // jecxz within the first six bytes cannot be widened; a short jz can.
    EXPECT_FALSE(Code({0x40, 0xE3, 0x04, 0x40, 0x40, 0x40, 0x40, 0xC3}).Analyse().Interceptable);
    EXPECT_TRUE(Code({0x40, 0x74, 0x04, 0x40, 0x40, 0x40, 0x40, 0xC3}).Analyse().Interceptable);
    // The contiguous code stops at an area that is reached by a jump.
    EXPECT_FALSE(Code({0x40, 0x74, 0x01, 0x40, 0x40, 0x40, 0xC3}).Analyse().Interceptable);
    EXPECT_TRUE(Code({0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0xE3, 0x00, 0xC3}).Analyse().Interceptable)
        << "jecxz beyond the first six bytes does not matter";
    // An invalid function is never interceptable.
    EXPECT_FALSE(Code({0x0F, 0xFF}).Analyse().Interceptable);
}

TEST(FunctionAnalysis, ExceptionHelpers) {
    constexpr uint32_t kOn = 0x00600000, kFinally = 0x00600010;
    Code code({
        0x68, 0x30, 0x00, 0x50, 0x00,  // 00 push $500030 (continuation)
        0xE9, 0x06, 0x00, 0x60, 0x00,  // 05 jmp finally helper (600010)
        0x40,                          // 0A inc eax   (code after the helper jump)
        0xE8, 0xF0, 0xFF, 0x0F, 0x00,  // 0B call on-exception helper (600000)
        0x01, 0x00, 0x00, 0x00,        // 10 one handler
        0x00, 0x00, 0x70, 0x00, 0x40, 0x00, 0x50, 0x00,  // 14 class 700000 -> 40
    });
    code.bytes[0x30] = 0xC3;  // 30 ret (continuation)
    code.bytes[0x40] = 0x48;  // 40 dec eax
    code.bytes[0x41] = 0xC3;  //    ret
    code.bytes[0x1C] = 0x0F;  // after the table: garbage that must not be decoded
    code.bytes[0x1D] = 0xFF;
    // jmp rel32 from 05 to 600010: 600010 - 50000A
    const uint32_t rel = kFinally - (kBase + 0x0A);
    std::copy_n(reinterpret_cast<const uint8_t*>(&rel), 4, code.bytes.begin() + 6);
    const uint32_t relOn = kOn - (kBase + 0x10);
    std::copy_n(reinterpret_cast<const uint8_t*>(&relOn), 4, code.bytes.begin() + 0x0C);
    AnalysisOptions o = InModule();
    o.helpers.handleOnException = kOn;
    o.helpers.handleFinally = kFinally;
    FunctionInfo f = code.Analyse(o);
    ASSERT_TRUE(f.IsValid) << std::hex << f.LastErrorAddr;
    ASSERT_NE(AreaAt(f, kBase + 0x0A), nullptr);
    ASSERT_NE(AreaAt(f, kBase + 0x30), nullptr) << "the pushed continuation";
    const CodeArea* table = AreaAt(f, kBase + 0x10);
    ASSERT_NE(table, nullptr);
    EXPECT_TRUE(table->OnExceptBlock);
    EXPECT_EQ(table->AreaEnd, kBase + 0x10 + 8 * 1 + 4 - 1);
    ASSERT_NE(AreaAt(f, kBase + 0x40), nullptr) << "the handler";
    // Without the helpers the jump to the finally helper ends the function.
    f = code.Analyse(InModule());
    ASSERT_TRUE(f.IsValid);
    EXPECT_EQ(f.CodeLen, 0x0Au);
    EXPECT_EQ(AreaAt(f, kBase + 0x40), nullptr);
}

TEST(FunctionAnalysis, HandlerPushedBeforeAnFsInstruction) {
    Code code({
        0x68, 0x20, 0x00, 0x50, 0x00,        // 00 push $500020 (handler)
        0x64, 0xFF, 0x35, 0, 0, 0, 0,        // 05 push fs:[0]
        0xFF, 0xD1,                          // 0C call ecx (unknown)
        0xC3,                                // 0E ret
    });
    code.bytes[0x20] = 0xC3;
    FunctionInfo f = code.Analyse(InModule());
    ASSERT_TRUE(f.IsValid);
    EXPECT_NE(AreaAt(f, kBase + 0x20), nullptr);
    // A push that is not followed by an fs: instruction does not count.
    code.bytes[0x05] = 0x90;
    code.bytes[0x06] = 0x90;
    code.bytes[0x07] = 0x90;
    code.bytes[0x08] = 0x90;
    code.bytes[0x09] = 0x90;
    code.bytes[0x0A] = 0x90;
    code.bytes[0x0B] = 0x90;
    f = code.Analyse(InModule());
    ASSERT_TRUE(f.IsValid);
    EXPECT_EQ(AreaAt(f, kBase + 0x20), nullptr);
}

TEST(FunctionAnalysis, GapsAndExtraEntries) {
    // 00 jmp 10 / gap 02..0F / 10 ret.  A gap of valid code is taken in; an invalid one is not.
    Code valid({0xEB, 0x0E, 0x40, 0x40});
    valid.bytes.resize(0x10, 0x90);
    valid.bytes.push_back(0xC3);
    valid.bytes.resize(0x200, 0xCC);
    FunctionInfo f = valid.Analyse(InModule());
    ASSERT_TRUE(f.IsValid);
    ASSERT_NE(AreaAt(f, kBase + 2), nullptr);
    EXPECT_EQ(AreaAt(f, kBase + 2)->AreaEnd, kBase + 0x0F);

    Code invalid = valid;
    invalid.bytes[2] = 0x0F;
    invalid.bytes[3] = 0xFF;
    f = invalid.Analyse(InModule());
    ASSERT_TRUE(f.IsValid) << "an invalid gap is dropped, the function stays valid";
    EXPECT_EQ(AreaAt(f, kBase + 2), nullptr);
    EXPECT_EQ(f.CodeAreas.size(), 2u);

    // Landing pads that no jump reaches come in as extra entries.
    Code pads({0x40, 0xC3});
    pads.bytes[0x40] = 0x48;
    pads.bytes[0x41] = 0xC3;
    AnalysisOptions o = InModule();
    o.extraEntries = {kBase + 0x40};
    f = pads.Analyse(o);
    ASSERT_TRUE(f.IsValid);
    EXPECT_NE(AreaAt(f, kBase + 0x40), nullptr);
    EXPECT_EQ(f.CodeLen, 0x42u);
}

TEST(FunctionAnalysis, AreasNeverOverlapAfterBackwardJumps) {
    // A loop whose backward jump lands inside the area that contains it.
    Code code({
        0x31, 0xC9,        // 00 xor ecx, ecx
        0x41,              // 02 inc ecx
        0x83, 0xF9, 0x0A,  // 03 cmp ecx, 10
        0x75, 0xFA,        // 06 jnz 02
        0xC3,              // 08 ret
    });
    FunctionInfo f = code.Analyse(InModule());
    ASSERT_TRUE(f.IsValid);
    ASSERT_EQ(f.CodeAreas.size(), 2u);
    EXPECT_EQ(f.CodeAreas[0].AreaEnd, kBase + 1);
    EXPECT_EQ(f.CodeAreas[1].AreaBegin, kBase + 2);
    EXPECT_EQ(f.CodeAreas[1].AreaEnd, kBase + 8);
    EXPECT_EQ(f.CodeAreas[1].CalledFrom, kBase + 6);
}

TEST(FunctionAnalysis, NothingWrapsAroundTheTopOfTheAddressSpace) {
    // A call to the on-exception helper whose table (4 handlers, 36 bytes) would run past
    // 0xFFFFFFFF: the table is not recorded and nothing wraps to address 0.
    std::vector<uint8_t> code(32, 0);
    const uint8_t call[] = {0xE8, 0x1B, 0x10, 0x00, 0x00, 0x04};  // call $00001000, count 4
    std::copy(std::begin(call), std::end(call), code.begin());
    BufferMemory mem(0xFFFFFFE0u, code);
    AnalysisOptions o;
    o.helpers.handleOnException = 0x1000;
    FunctionInfo f = ParseFunction(mem, 0xFFFFFFE0u, o);
    ASSERT_TRUE(f.IsValid);
    ASSERT_EQ(f.CodeAreas.size(), 1u);
    EXPECT_EQ(f.CodeAreas[0].AreaEnd, 0xFFFFFFE4u);
    EXPECT_EQ(f.CodeLen, 5u);
    // Decoding the last bytes of the address space stops instead of wrapping to address 0.
    const std::vector<uint8_t> nops = {0x90, 0x90};
    BufferMemory top(0xFFFFFFFEu, nops);
    f = ParseFunction(top, 0xFFFFFFFEu);
    EXPECT_FALSE(f.IsValid);
    EXPECT_EQ(f.LastErrorNo, 0x770001u);
}

TEST(FunctionAnalysis, RegisterStateOnlyWhereAllPathsAgree) {
    // The jump at 15 reaches 06 with eax known, but 06 is also reached from 04 with eax = 0.
    Code code({
        0x85, 0xC9,                    // 00 test ecx, ecx
        0x74, 0x0C,                    // 02 jz 10
        0x31, 0xC0,                    // 04 xor eax, eax
        0x90,                          // 06 nop
        0xFF, 0xE0,                    // 07 jmp eax
        0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90,
        0xB8, 0x00, 0x01, 0x50, 0x00,  // 10 mov eax, $500100
        0xEB, 0xEF,                    // 15 jmp 06
    });
    code.bytes[0x100] = 0xC3;
    FunctionInfo f = code.Analyse(InModule());
    ASSERT_TRUE(f.IsValid);
    EXPECT_EQ(AreaAt(f, kBase + 0x100), nullptr);
    ASSERT_EQ(f.UnknownTargets.size(), 1u);
    EXPECT_EQ(f.UnknownTargets[0].CodeAddr1, kBase + 0x07);
    ASSERT_NE(AreaAt(f, kBase + 0x06), nullptr);
    EXPECT_EQ(AreaAt(f, kBase + 0x06)->Registers.value[0], 0u);
}

}  // namespace
