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
    uint32_t AreaBegin = 0;
    uint32_t AreaEnd = 0;        // inclusive
    bool CaseBlock = false;      // a jump table of 32-bit addresses
    bool OnExceptBlock = false;  // an exception-handler table
    uint32_t CalledFrom = 0;     // instruction that jumps here, or 0
    RegisterState Registers;     // known register contents at AreaBegin
};

struct FarCall {
    bool Call = false;
    uint32_t CodeAddr1 = 0;  // instruction
    uint32_t CodeAddr2 = 0;  // address after it
    uint32_t Target = 0;
    bool RelTarget = false;
    uint32_t PTarget = 0;
    uint32_t PPTarget = 0;
};

struct UnknownTarget {
    bool Call = false;
    uint32_t CodeAddr1 = 0;
    uint32_t CodeAddr2 = 0;
};

struct CopyInfo {
    bool IsValid = false;
    uint32_t BufferLen = 0;  // bytes for a relocated copy: code + 4, + 4 per far call through a cell
    uint32_t LastErrorAddr = 0;
    uint32_t LastErrorNo = 0;
    std::string LastErrorStr;
};

struct FunctionInfo {
    bool IsValid = false;
    uint32_t EntryPoint = 0;
    uint32_t CodeBegin = 0;
    uint32_t CodeLen = 0;
    uint32_t LastErrorAddr = 0;
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
    uint32_t handleOnException = 0;    // a table of (class, handler) pairs follows the call
    uint32_t handleAnyException = 0;   // the handler code follows the call
    uint32_t handleFinally = 0;        // the handler code follows, and the pushed continuation
    uint32_t handleAutoException = 0;  // only marks the transfer as known
    uint32_t halt = 0;                 // does not return
};

struct AnalysisOptions {
    RuntimeHelpers helpers;
    // What counts as "inside" (the module's code and data range, end exclusive). A jump into
    // it opens a new area; a transfer outside it is a far call. Empty = the whole address space.
    uint32_t rangeBegin = 0;
    uint32_t rangeEnd = 0;
    // Further routines that never return (for example the C++ run time's throw and
    // unwind-resume routines); a call to one ends the area like a call to `helpers.halt`.
    std::vector<uint32_t> noReturn;
    // Further code that belongs to the function although no jump reaches it (for example the
    // landing pads of C++ exception handling, taken from the unwind tables).
    std::vector<uint32_t> extraEntries;
    // Optional: true for the start of another function; a jump there is a tail call (far call)
    // rather than a part of this function.
    std::function<bool(uint32_t)> isOtherFunction;
    bool tryRead = true;
};

FunctionInfo ParseFunction(const MemoryReader& memory, uint32_t entry, const AnalysisOptions& options = {});

// The code range of the module loaded at `imageBase`, from its PE headers in memory: the
// code sections widened by the data sections. {0, 0} when the headers cannot be read.
std::pair<uint32_t, uint32_t> ModuleCodeRange(const MemoryReader& memory, uint32_t imageBase);

}  // namespace tidewell::disasm
