#pragma once
// The code of functions and of inlined calls, read from the DWARF debugging-information entries
// (.debug_info with .debug_abbrev; address ranges from DW_AT_low_pc/DW_AT_high_pc or from range
// lists in .debug_ranges or .debug_rnglists). Of a chain of nested inlined calls only the
// outermost one is kept: the call written in the source of the function the code physically
// belongs to, whose line is the one a report should show for all of the inlined code.
#include "tools/kesgen/DwarfSections.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kesgen {

struct CodeRange {
  uint64_t Low = 0;  // first address of the range
  uint64_t High = 0; // first address after it
  bool operator==(const CodeRange &) const = default;
};

struct InlinedCall {
  uint64_t Low = 0;
  uint64_t High = 0;
  int32_t CallLine = 0;
  bool operator==(const InlinedCall &) const = default;
};

struct CodeRanges {
  // Code of every DW_TAG_subprogram, sorted, with touching or overlapping ranges joined.
  std::vector<CodeRange> Functions;
  // One entry per address range of every outermost DW_TAG_inlined_subroutine below a
  // DW_TAG_subprogram, sorted by Low (then High).
  std::vector<InlinedCall> Calls;
};

// A damaged unit ends the walk and leaves out its own ranges; error says why. Without
// .debug_info the result is empty and error stays empty.
CodeRanges ReadCodeRanges(const Sections &sections, std::string &error);

} // namespace kesgen
