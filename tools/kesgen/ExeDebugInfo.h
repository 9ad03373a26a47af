#pragma once
// Reads the debug information of a linked PE executable (PE32 for i386 or PE32+ for x86-64)
// built by GCC: the COFF symbol
// table (function names and addresses) and the DWARF line tables (versions 2 to 5), and turns
// them into the reporter's debug-information model: one unit per source file of our own code
// (named after the file without its extension), functions named "Class.Method", and the line
// numbers of our sources. Functions outside our sources are kept as publics without a unit, so
// an address in library code is never credited to a neighbouring function of ours.
#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/base/pe/PeImage.h"
#include "tools/kesgen/CodeRanges.h"
#include "tools/kesgen/DwarfSections.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kesgen {

struct LineRow {
  uint64_t Address = 0;
  uint32_t File = 0;
  int32_t Line = 0;
  bool IsStmt = true;
  bool EndSequence = false;
  // The program set this row's address outright instead of advancing to it from the row before.
  bool AddressSet = false;
};

struct LineProgram {
  std::vector<std::string> Files; // normalised full paths, indexed as in the program
  std::vector<LineRow> Rows;
};

// Every line program of .debug_line. A malformed program ends the walk; error says why.
std::vector<LineProgram> ReadLinePrograms(const Sections &sections, std::string &error);

// The line rows of the function at [start, end) whose source is file, from the rows of its
// line-table sequence (in address order) and the code ranges of .debug_info, as (line, address)
// in ascending address order:
// - code inlined into the function takes the line of the call, from the start of its range;
// - elsewhere in the function's code each row of the function's file stands as it is, and a row
//   of another file keeps the line in effect;
// - outside the function's described code (alignment padding after it) the rows stand as they
//   are, whatever their file.
// With statementsOnly only rows that begin a statement count.
std::vector<std::pair<int32_t, uint64_t>> FunctionLines(std::span<const LineRow> rows, uint64_t start,
                                                        uint64_t end, uint32_t file, const CodeRanges &code,
                                                        bool statementsOnly);

// Of the rows of one sequence (in address order), with first the index of the first row at or
// after a function's start, the index of the row that begins the function's own rows. Where the
// code before the function ends exactly at the function's start, the program may close that code
// with rows at that address and then set the address anew for the function: such closing rows
// describe no code of the function and are passed over. Otherwise first itself.
size_t FunctionFirstRow(std::span<const LineRow> rows, size_t first);

struct CoffFunction {
  uint64_t Address = 0;
  std::string Symbol; // as stored
};

// Function symbols of the image's code sections, sorted by address.
std::vector<CoffFunction> ReadCoffFunctions(const uint8_t *file, size_t size,
                                            const debuginfo::PeImage &pe);

std::string NormalisePath(const std::string &path);

struct Options {
  std::vector<std::string> SourceRoots; // our sources live below these folders
  bool StatementsOnly = false; // keep only rows that begin a statement
};

struct Stats {
  int Units = 0;
  int OwnFunctions = 0;
  int Functions = 0;
  int Lines = 0;
  int InlinedCalls = 0;   // ranges of inlined code read from .debug_info
  std::string Warning;    // debug information that was damaged and left out
};

// Fills model (bounds, segments, publics, lines, entry point) from the image file.
bool BuildModel(const std::vector<uint8_t> &exe, const Options &options, TMapFile &model,
                Stats &stats, std::string &error);

// Checksums for the container header: CRC-32 of the first code section's raw bytes, and the
// image's link time stamp.
std::pair<uint32_t, uint32_t> ImageChecksums(const std::vector<uint8_t> &exe);

} // namespace kesgen
