#pragma once
// The call-stack lines of a thread section and the callstack checksum values computed while
// they are written.
#include <cstdint>
#include <string>
#include <string_view>

#include "crash/analysis/disasm/Decoder.h"
#include "crash/analysis/stacktrace/StackItem.h"

namespace tidewell::stacktrace {

struct CallStackOptions {
  bool hideUglyItems = false;
  bool showRelativeAddrs = false;
  bool showRelativeLines = false;
  // The width of the address column: 8 hex digits for x86-32 code, 16 for x86-64.
  disasm::CpuMode mode = disasm::CpuMode::X86;
};

struct CallStackChecksum {
  uint32_t firstLine = 0; // value of the first written line
  uint32_t chain = 0;     // the first value, updated with the 4 bytes of every further value
  bool hasLineInfo = false;
  bool any = false;       // at least one line was written
};

// The lines (CR LF between them, none at the end) in the report's column format, and the
// checksum over the written lines.
std::string CallStackLines(const StackTraceItems &items, const CallStackOptions &options,
                           CallStackChecksum *checksum = nullptr);

// The CRC-32 table step (reflected 0xEDB88320) over `data`, starting from `crc`, with no
// initial or final inversion.
uint32_t CrcUpdate(uint32_t crc, std::string_view data);
// 'A'..'Z' and the Latin-1 letters Ä, Ö, Ü mapped to lower case; every other byte unchanged.
std::string ReportLower(std::string_view text);
// The checksum value of one written line (a 64-bit address without a function counts as its
// two halves xor-ed).
uint32_t LineChecksumValue(const StackItem &item);

} // namespace tidewell::stacktrace
