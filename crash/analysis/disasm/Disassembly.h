// Readable disassembly of a function, as shown in the "disassembling" section of a bug report.
#pragma once

#include <cstdint>
#include <string>

#include "crash/analysis/disasm/Decoder.h"
#include "crash/analysis/disasm/FunctionAnalysis.h"

namespace tidewell::disasm {

// Names and source lines for addresses, supplied by the debug information of the modules.
// Every method may be asked about any address and answers "nothing known" by default.
class SymbolProvider {
public:
    virtual ~SymbolProvider() = default;
    // Name of the procedure that starts at `address`, or empty.
    virtual std::string ProcedureName(uint64_t /*address*/) const { return {}; }
    // Source line of `address`, or 0.
    virtual int Line(uint64_t /*address*/) const { return 0; }
    // File name of the module that contains `address` (for example "kernel32.dll"), or empty.
    virtual std::string ModuleFileName(uint64_t /*address*/) const { return {}; }
    // Name of the exception class referenced from an exception-handler table, or empty when
    // it cannot be read.
    virtual std::string ClassName(uint64_t /*classReference*/) const { return {}; }
};

struct DisassemblyOptions {
    AnalysisOptions analysis;
    const SymbolProvider* symbols = nullptr;  // null: no names, no lines
};

extern const char* const kDisassemblyInternalError;

// The disassembly text of the function at `functionStart`, with the instruction at
// `exceptAddress` marked. `limit` > 0 keeps only that many lines around the marked one;
// `format` adds blank and separator lines between blocks. Empty when the function is invalid.
// Lines are separated by CR LF; the text ends without a line break.
// `options.analysis.mode` selects 32-bit or 64-bit code; addresses in the text are 8 hex digits
// in 32-bit mode and 16 in 64-bit mode.
std::string DisassembleFunction(const MemoryReader& memory, uint64_t functionStart, uint64_t exceptAddress,
                                int limit, bool format, const DisassemblyOptions& options = {});

}  // namespace tidewell::disasm
