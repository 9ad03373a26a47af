#pragma once
// The header of the bug report: the system and process facts, the header plug-ins, the callstack
// checksum placeholder and the exception's number, class and message, collected field by field.
#include <cstdint>
#include <string>

#include "crash/report/composition/ReportFacts.h"
#include "crash/report/composition/ReportText.h"

namespace kx {

class TIKXException;

inline constexpr char kCalculatedSoon[] = "will be calculated soon";
inline constexpr char kCallstackCrcField[] = "callstack crc";
// The "compiled with" labels: GNU ld writes linker version 2 into the images it makes.
inline constexpr char kCompiledWithGnu[] = "GNU C++ (mingw-w64), GNU ld";
inline constexpr char kCompiledWithOther[] = "other C++ toolchain";
inline constexpr char kReporterVersion[] = "3.0n";

struct KXHeaderBatch {
  KXTextPairs fields; // in order; empty values included (the list drops them when stored)
  int addIndex = 0;   // where fields added later go
};

// Collects the header. A field whose step fails is left out; the others are still collected.
KXHeaderBatch CollectHeaderFields(IKXReportFacts &facts, TIKXException &exception);

// The next number of the process-wide exception counter (the first is 1).
uint64_t NextExceptionNumber();

} // namespace kx
