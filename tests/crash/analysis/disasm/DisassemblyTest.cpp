// Exact text of the disassembly of hand-made code that has every kind of line: the entry label,
// jump-target labels, instructions with operands, comments for a known call and for a string,
// a case jump table, an exception-handler table, the ">" marker and the line-number column.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "crash/analysis/disasm/Disassembly.h"

using namespace tidewell::disasm;

namespace {

constexpr uint32_t kBase = 0x00410000;
constexpr uint32_t kOnException = 0x00430000;

std::vector<uint8_t> HandMadeCode() {
    std::vector<uint8_t> c = {
        0x55,                                      // 00 push ebp
        0x8B, 0xEC,                                // 01 mov ebp, esp
        0x68, 0x00, 0x01, 0x41, 0x00,              // 03 push $410100 ('Hello')
        0xE8, 0xF3, 0xFF, 0x00, 0x00,              // 08 call $00420000 (MessageBoxA)
        0x83, 0xF8, 0x02,                          // 0D cmp eax, 2
        0x77, 0x13,                                // 10 ja 25
        0xFF, 0x24, 0x85, 0x19, 0x00, 0x41, 0x00,  // 12 jmp [eax*4+$410019]
        0x25, 0x00, 0x41, 0x00,                    // 19 case 0 -> 25
        0x29, 0x00, 0x41, 0x00,                    // 1D case 1 -> 29
        0x25, 0x00, 0x41, 0x00,                    // 21 case 2 -> 25
        0x33, 0xC0,                                // 25 xor eax, eax
        0x5D,                                      // 27 pop ebp
        0xC3,                                      // 28 ret
        0xE8, 0xD2, 0xFF, 0x01, 0x00,              // 29 call $00430000 (on-exception helper)
        0x02, 0x00, 0x00, 0x00,                    // 2E two handlers
        0x00, 0x00, 0x44, 0x00, 0x42, 0x00, 0x41, 0x00,  // 32 on EMyError do 42
        0x00, 0x00, 0x00, 0x00, 0x49, 0x00, 0x41, 0x00,  // 3A else 49
        0xB8, 0x01, 0x00, 0x00, 0x00,              // 42 mov eax, 1
        0xEB, 0xDE,                                // 47 jmp 27
        0x33, 0xC0,                                // 49 xor eax, eax
        0xEB, 0xDA,                                // 4B jmp 27
    };
    c.resize(0x100, 0xCC);
    const char hello[] = "Hello";
    c.insert(c.end(), hello, hello + sizeof hello);
    return c;
}

class Symbols : public SymbolProvider {
public:
    std::string ProcedureName(uint64_t a) const override {
        if (a == kBase) return "TForm1.Demo";
        if (a == 0x00420000) return "MessageBoxA";
        return {};
    }
    int Line(uint64_t a) const override {
        if (!withLines) return 0;
        uint32_t off = a - kBase;
        if (off < 0x0D) return 100;
        if (off < 0x25) return 101;
        if (off < 0x29) return 102;
        if (off < 0x42) return 103;
        if (off < 0x4D) return 104;
        return 0;
    }
    std::string ModuleFileName(uint64_t a) const override {
        return a >= 0x00420000 && a < 0x00430000 ? "user32.dll" : "tidewell.exe";
    }
    std::string ClassName(uint64_t ref) const override { return ref == 0x00440000 ? "EMyError" : ""; }
    bool withLines = true;
};

std::string Disassemble(uint32_t mark, int limit, bool format, bool lines = true) {
    static const std::vector<uint8_t> code = HandMadeCode();
    BufferMemory mem(kBase, code);
    Symbols symbols;
    symbols.withLines = lines;
    DisassemblyOptions options;
    options.symbols = &symbols;
    options.analysis.helpers.handleOnException = kOnException;
    return DisassembleFunction(mem, kBase, mark, limit, format, options);
}

std::string Join(const std::vector<std::string>& lines) {
    std::string s;
    for (size_t i = 0; i < lines.size(); ++i) s += (i ? "\r\n" : "") + lines[i];
    return s;
}

TEST(DisassemblyText, EveryLineKind) {
    const std::string expected = Join({
        "00410000 100 public TForm1.Demo:     ; function entry point",
        "00410000       push    ebp",
        "00410001       mov     ebp, esp",
        "00410003       push    $410100                ; 'Hello'",
        "00410008       call    +$fff3 ($00420000)     ; MessageBoxA (user32.dll)",
        "0041000d 101   cmp     eax, +2",
        "00410010       ja      loc_00410025",
        "00410012       jmp     dword ptr [eax*4+$410019]",
        "00410019       dd loc_00410025       ; case jump table",
        "0041001d       dd loc_00410029",
        "00410021       dd loc_00410025",
        "00410025 102 loc_00410025:",
        "00410025       xor     eax, eax",
        "00410027     loc_00410027:",
        "00410027     > pop     ebp",
        "00410028       ret",
        "00410029 103 loc_00410029:",
        "00410029       call    +$1ffd2 ($00430000)",
        "00410032       on EMyError do loc_00410042",
        "0041003a       else           loc_00410049",
        "00410042 104 loc_00410042:",
        "00410042       mov     eax, 1",
        "00410047       jmp     loc_00410027",
        "00410049     loc_00410049:",
        "00410049       xor     eax, eax",
        "0041004b       jmp     loc_00410027",
    });
    EXPECT_EQ(Disassemble(kBase + 0x27, 0, false), expected);
}

TEST(DisassemblyText, NoLineColumnWithoutLineInformation) {
    std::string text = Disassemble(kBase + 0x27, 0, false, false);
    EXPECT_EQ(text.substr(0, text.find("\r\n")), "00410000 public TForm1.Demo:     ; function entry point");
    EXPECT_NE(text.find("\r\n00410027 > pop     ebp\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n00410019   dd loc_00410025       ; case jump table\r\n"), std::string::npos);
    EXPECT_EQ(text.back(), '7');  // no final line break
}

TEST(DisassemblyText, FormatSeparatesBlocks) {
    std::string text = Disassemble(kBase, 0, true, false);
    // After ret: a blank line and a separator; after the handler's jmp that is followed by
    // the other handler: the same.
    EXPECT_NE(text.find("00410028   ret\r\n00410029\r\n00410029 ; ---------------------------------------------------------"
                        "\r\n00410029\r\n00410029 loc_00410029:"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("00410047   jmp     loc_00410027\r\n00410049\r\n00410049 ; ----"), std::string::npos) << text;
    // The jmp through the table ends a block too; the table follows.
    EXPECT_NE(text.find("[eax*4+$410019]\r\n00410019\r\n00410019 ; ---"), std::string::npos) << text;
    // No separator at the very end.
    EXPECT_EQ(text.substr(text.size() - 12), "loc_00410027");
}

TEST(DisassemblyText, LimitAroundTheExceptionLine) {
    // 26 lines; the marked line (index 21 = "00410042 mov") lies beyond 3*12/10 = 3 lines.
    std::string text = Disassemble(kBase + 0x42, 3, false, false);
    EXPECT_EQ(text, Join({
                        "[...]",
                        "00410032   on EMyError do loc_00410042",
                        "0041003a   else           loc_00410049",
                        "00410042 loc_00410042:",
                        "00410042 > mov     eax, 1",
                        "00410047   jmp     loc_00410027",
                        "00410049 loc_00410049:",
                        "00410049   xor     eax, eax",
                        "[...]",
                    }));
    // Close to the start nothing is cut before the line; the end is reached without a cut.
    text = Disassemble(kBase + 0x01, 30, false, false);
    EXPECT_EQ(text.substr(0, 8), "00410000");
    EXPECT_EQ(text.find("[...]"), std::string::npos);
    // n lines after the marked line at most.
    text = Disassemble(kBase, 1, false, false);
    EXPECT_EQ(text, Join({"00410000 public TForm1.Demo:     ; function entry point", "00410000 > push    ebp",
                          "00410001   mov     ebp, esp", "[...]"}));
}

TEST(DisassemblyText, InvalidFunctionGivesEmptyText) {
    const std::vector<uint8_t> code = {0x55, 0x0F, 0xFF};
    BufferMemory mem(kBase, code);
    EXPECT_EQ(DisassembleFunction(mem, kBase, kBase, 0, false), "");
    EXPECT_EQ(DisassembleFunction(mem, 0x1000, 0x1000, 0, false), "");
}

TEST(DisassemblyText, UnnamedFunctionAndLineColumnFromExceptionLine) {
    // No line for the last byte: the column is as wide as ten times the exception line.
    class OneLine : public SymbolProvider {
    public:
        int Line(uint64_t a) const override { return a == kBase ? 7 : 0; }
    } symbols;
    const std::vector<uint8_t> code = {0x90, 0xC3};
    BufferMemory mem(kBase, code);
    DisassemblyOptions options;
    options.symbols = &symbols;
    EXPECT_EQ(DisassembleFunction(mem, kBase, kBase, 0, false, options),
              Join({"00410000 07 sub_00410000:           ; function entry point", "00410000    > nop",
                    "00410001      ret"}));
}

TEST(DisassemblyText, FailureWhileComposingGivesTheInternalErrorText) {
    class Throwing : public SymbolProvider {
    public:
        std::string ProcedureName(uint64_t a) const override {
            if (a == 0x00420000) throw std::runtime_error("damaged debug information");
            return {};
        }
    } symbols;
    static const std::vector<uint8_t> code = HandMadeCode();
    BufferMemory mem(kBase, code);
    DisassemblyOptions options;
    options.symbols = &symbols;
    options.analysis.helpers.handleOnException = kOnException;
    EXPECT_EQ(DisassembleFunction(mem, kBase, kBase, 0, false, options),
              "Internal error in ParseFunction while composing the disassembling string...  :-(");
}

}  // namespace
