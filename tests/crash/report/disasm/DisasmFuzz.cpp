// Fuzz target: random bytes as code. Decoding, function analysis and the disassembly text must
// never crash nor read outside the buffer (the buffer is an exact-size heap copy, so
// AddressSanitizer sees any overread).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "tidewell/disasm/Disassembly.h"

using namespace tidewell::disasm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1 << 16) return 0;
    constexpr uint32_t kBase = 0x00401000;
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    std::memcpy(copy.get(), data, size);
    const uint32_t n = static_cast<uint32_t>(size);
    BufferMemory mem(kBase, copy.get(), n);

    // Linear decoding with text and register state from every offset of the first 64 bytes,
    // then instruction by instruction.
    RegisterState regs;
    for (uint32_t at = 0; at < n && at < 64; ++at) {
        InstructionText text;
        ParseCode(mem, kBase + at, &regs, text);
    }
    for (uint32_t a = kBase; a < kBase + n;) {
        DecodedInstruction d = ParseCode(mem, a, regs);
        a = d.IsValid ? d.Next : a + 1;
    }

    // Analysis and text, with helper addresses taken from the input so that the helper paths
    // (tables, handlers, non-returning calls) are reached.
    DisassemblyOptions options;
    options.analysis.rangeBegin = kBase;
    options.analysis.rangeEnd = kBase + n;
    auto helper = [&](uint32_t i) { return size > i ? kBase + data[i] * 4u % n : 0; };
    options.analysis.helpers.handleOnException = helper(1);
    options.analysis.helpers.handleFinally = helper(2);
    options.analysis.helpers.handleAnyException = helper(3);
    options.analysis.helpers.halt = helper(4);
    const uint32_t mark = kBase + (size > 5 ? data[5] % n : 0);
    FunctionInfo f = ParseFunction(mem, kBase, options.analysis);
    if (f.IsValid && (f.CodeLen == 0 || f.CodeAreas.empty())) __builtin_trap();
    // Names, lines and class names derived from the address, so the column and comments appear.
    class Symbols : public SymbolProvider {
    public:
        std::string ProcedureName(uint32_t a) const override { return a % 3 ? std::string() : "Proc(" + std::to_string(a) + ")"; }
        int Line(uint32_t a) const override { return static_cast<int>(a % 7 == 0 ? 0 : (a >> 3) % 5000); }
        std::string ModuleFileName(uint32_t a) const override { return a % 2 ? "a.dll" : "b.exe"; }
        std::string ClassName(uint32_t a) const override { return a % 5 ? std::string() : "EClass" + std::to_string(a % 11); }
    } symbols;
    DisassembleFunction(mem, kBase, mark, size > 6 ? data[6] % 8 : 0, size > 7 && (data[7] & 1), options);
    options.symbols = &symbols;
    DisassembleFunction(mem, kBase, mark, size > 8 ? data[8] % 8 : 0, size > 7 && (data[7] & 2), options);
    return 0;
}
