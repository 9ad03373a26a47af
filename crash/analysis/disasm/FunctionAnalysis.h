// Analysis of a whole function: its code areas, the calls it makes, the transfers whose
// target is not known statically, jump tables and exception-handler tables.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crash/analysis/disasm/Decoder.h"

namespace tidewell::disasm {

struct CodeArea {
    uint64_t AreaBegin = 0;
    uint64_t AreaEnd = 0;        // inclusive
    bool CaseBlock = false;      // a jump table of 32-bit addresses (32-bit mode only)
    bool OnExceptBlock = false;  // an exception-handler table
    uint64_t CalledFrom = 0;     // instruction that jumps here, or 0
    RegisterState Registers;     // known register contents at AreaBegin
};

struct FarCall {
    bool Call = false;
    uint64_t CodeAddr1 = 0;  // instruction
    uint64_t CodeAddr2 = 0;  // address after it
    uint64_t Target = 0;
    bool RelTarget = false;
    uint64_t PTarget = 0;
    uint64_t PPTarget = 0;
};

struct UnknownTarget {
    bool Call = false;
    uint64_t CodeAddr1 = 0;
    uint64_t CodeAddr2 = 0;
};

struct CopyInfo {
    bool IsValid = false;
    uint32_t BufferLen = 0;  // bytes for a relocated copy: code + p, + p per far call through a cell
                             // (p the pointer size: 4, or 8 in 64-bit mode)
    uint64_t LastErrorAddr = 0;
    uint32_t LastErrorNo = 0;
    std::string LastErrorStr;
};

struct FunctionInfo {
    bool IsValid = false;
    uint64_t EntryPoint = 0;
    uint64_t CodeBegin = 0;
    uint64_t CodeLen = 0;
    uint64_t LastErrorAddr = 0;
    uint32_t LastErrorNo = 0;
    std::string LastErrorStr;
    std::vector<CodeArea> CodeAreas;  // ascending by AreaBegin
    std::vector<FarCall> FarCalls;
    std::vector<UnknownTarget> UnknownTargets;
    bool Interceptable = false;
    CopyInfo Copy;
};

constexpr uint32_t kErrorNotCommitted = 87;
constexpr uint32_t kErrorInvalidCode = 0x770001;
extern const char* const kErrorNotCommittedText;  // the system's message for error 87
extern const char* const kErrorInvalidCodeText;   // "Invalid code!"

// Run-time library routines that change how the code around a call to them is read.
struct RuntimeHelpers {
    uint64_t handleOnException = 0;    // a table of (class, handler) pairs follows the call
    uint64_t handleAnyException = 0;   // the handler code follows the call
    uint64_t handleFinally = 0;        // the handler code follows, and the pushed continuation
    uint64_t handleAutoException = 0;  // only marks the transfer as known
    uint64_t halt = 0;                 // does not return
};

struct AnalysisOptions {
    RuntimeHelpers helpers;
    // What counts as "inside" (the module's code and data range, end exclusive). A jump into
    // it opens a new area; a transfer outside it is a far call. Empty = the whole address space.
    uint64_t rangeBegin = 0;
    uint64_t rangeEnd = 0;
    // Further routines that never return (for example the C++ run time's throw and
    // unwind-resume routines); a call to one ends the area like a call to `helpers.halt`.
    std::vector<uint64_t> noReturn;
    // Further code that belongs to the function although no jump reaches it (for example the
    // landing pads of C++ exception handling, taken from the unwind tables).
    std::vector<uint64_t> extraEntries;
    // Optional: true for the start of another function; a jump there is a tail call (far call)
    // rather than a part of this function.
    std::function<bool(uint64_t)> isOtherFunction;
    bool tryRead = true;
    // The processor mode of the code (32-bit unless said otherwise). In 64-bit mode registers
    // are not tracked, and the patterns of 32-bit code (jump tables of 32-bit addresses behind
    // a range check, pushed exception frames and handlers) are not looked for.
    CpuMode mode = CpuMode::X86;
};

FunctionInfo ParseFunction(const MemoryReader& memory, uint64_t entry, const AnalysisOptions& options = {});

// The code range of the module loaded at `imageBase`, from its PE headers in memory: the
// code sections widened by the data sections. {0, 0} when the headers cannot be read (the PE
// reader takes PE32, and PE32+ based below 4 GiB).
std::pair<uint64_t, uint64_t> ModuleCodeRange(const MemoryReader& memory, uint64_t imageBase);

}  // namespace tidewell::disasm
