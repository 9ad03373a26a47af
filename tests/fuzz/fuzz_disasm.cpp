// Fuzz target: the instruction decoder, the function analysis and the disassembly text over
// arbitrary bytes taken as a module's code section. The first four bytes place it: the high word
// of the section's address (the section starts 0x1000 above it, as .text does, and ends below
// 0xFFFF0000), then the offset of the function's entry in the section. The rest are the code
// bytes, copied to a heap block of their exact size so that AddressSanitizer sees any overread.
// The analysis is run as the stack trace runs it (code range, run-time helpers, routines that
// never return, other functions' starts, landing pads) and as the address correction runs it
// (no options). The same bytes are then decoded, analysed and disassembled as 64-bit code.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "crash/analysis/disasm/Disassembly.h"

using namespace tidewell::disasm;

namespace {

// Names, lines and class names derived from the address, so that the text's columns and comments
// appear.
class Symbols final : public SymbolProvider {
public:
    std::string ProcedureName(uint64_t a) const override { return a % 3 ? std::string() : "Proc(" + std::to_string(a) + ")"; }
    int Line(uint64_t a) const override { return static_cast<int>(a % 7 == 0 ? 0 : (a >> 3) % 5000); }
    std::string ModuleFileName(uint64_t a) const override { return a % 2 ? "a.dll" : "b.exe"; }
    std::string ClassName(uint64_t a) const override { return a % 5 ? std::string() : "EClass" + std::to_string(a % 11); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size <= 4 || size > (1u << 20) + 4) return 0;
    const uint32_t n = static_cast<uint32_t>(size - 4);
    uint32_t base = (uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16) + 0x1000u;
    if (uint64_t(base) + n > 0xFFFF0000u) base = (0xFFFF0000u - n) & ~0xFFFu;
    const uint32_t entry = base + (uint32_t(data[2]) | uint32_t(data[3]) << 8) % n;
    std::unique_ptr<uint8_t[]> copy(new uint8_t[n]);
    std::memcpy(copy.get(), data + 4, n);
    const uint8_t* code = copy.get();
    BufferMemory mem(base, code, n);

    // Decoding with text and register state from every offset of the first 64 bytes after the
    // entry, then linearly over the whole section.
    RegisterState regs;
    for (uint32_t at = entry; at < base + n && at < entry + 64; ++at) {
        InstructionText text;
        ParseCode(mem, at, &regs, text);
    }
    for (uint32_t a = base; a < base + n;) {
        DecodedInstruction d = ParseCode(mem, a, regs);
        if (d.IsValid && (d.Next <= a || d.Next - a > 15)) __builtin_trap();
        a = d.IsValid ? d.Next : a + 1;
    }

    // Helper addresses taken from the code bytes, so that the helper paths (tables, handlers,
    // routines that never return, tail calls) are reached.
    auto pick = [&](uint32_t i) { return base + (n > i ? code[i] * 4u % n : 0); };
    DisassemblyOptions options;
    options.analysis.rangeBegin = base;
    options.analysis.rangeEnd = base + n;
    options.analysis.helpers.handleOnException = pick(1);
    options.analysis.helpers.handleFinally = pick(2);
    options.analysis.helpers.handleAnyException = pick(3);
    options.analysis.helpers.halt = pick(4);
    options.analysis.noReturn = {pick(9)};
    options.analysis.extraEntries = {pick(10)};
    const uint32_t other = pick(11);
    options.analysis.isOtherFunction = [entry, other](uint32_t t) { return t != entry && t == other; };

    for (const FunctionInfo& f : {ParseFunction(mem, entry, options.analysis), ParseFunction(mem, entry)})
        if (f.IsValid && (f.CodeLen == 0 || f.CodeAreas.empty())) __builtin_trap();

    const uint32_t mark = base + (n > 5 ? code[5] % n : 0);
    Symbols symbols;
    DisassembleFunction(mem, entry, mark, n > 6 ? code[6] % 8 : 0, n > 7 && (code[7] & 1), options);
    options.symbols = &symbols;
    DisassembleFunction(mem, entry, mark, n > 8 ? code[8] % 8 : 0, n > 7 && (code[7] & 2), options);

    // The same bytes as 64-bit code, placed above 4 GiB as 64-bit modules are.
    const uint64_t base64 = 0x7FF700000000ull + base;
    const uint64_t entry64 = base64 + (entry - base);
    BufferMemory mem64(base64, code, n);
    for (uint64_t a = base64; a < base64 + n;) {
        InstructionText text;
        DecodedInstruction d = ParseCode(mem64, a, nullptr, text, true, CpuMode::X64);
        if (d.IsValid && (d.Next <= a || d.Next - a > 15)) __builtin_trap();
        a = d.IsValid ? d.Next : a + 1;
    }
    DisassemblyOptions options64;
    options64.analysis.mode = CpuMode::X64;
    options64.analysis.rangeBegin = base64;
    options64.analysis.rangeEnd = base64 + n;
    options64.symbols = &symbols;
    const FunctionInfo f64 = ParseFunction(mem64, entry64, options64.analysis);
    if (f64.IsValid && (f64.CodeLen == 0 || f64.CodeAreas.empty())) __builtin_trap();
    DisassembleFunction(mem64, entry64, base64 + (mark - base), n > 8 ? code[8] % 8 : 0, n > 7 && (code[7] & 2),
                        options64);
    return 0;
}
