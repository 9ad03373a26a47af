#pragma once
// One frame of a traced call stack, as the report's thread sections show it.
#include <cstdint>
#include <string>
#include <vector>

namespace tidewell::stacktrace {

struct StackItem {
  uint64_t Addr = 0;         // code address of the frame (the call, or the exception address)
  uint64_t FunctionAddr = 0; // start of the function, 0 when not known
  std::string ModuleName;    // file name without path, "???" when no module holds the address
  std::string UnitName;
  std::string FunctionName;
  int32_t Line = 0;          // absolute source line, 0 when none
  int32_t FunctionLine = 0;  // line of the function's first address, 0 when none
  bool IsTop = false;        // the item of the exception (or current) address
  bool IsCreator = false;    // the code address at which the thread was created

  // Distance from the function start, 0 when the address does not lie above it.
  uint64_t RelAddr() const { return FunctionAddr && Addr > FunctionAddr ? Addr - FunctionAddr : 0; }
  // The two line numbers of a call-stack line: with relative lines on and the function's line
  // known, the first is relative to it and the second absolute; otherwise the first is the
  // absolute line and the second 0.
  int32_t FirstLine(bool relativeLines) const {
    return relativeLines && Line > 0 && FunctionLine > 0 ? Line - FunctionLine : Line;
  }
  int32_t SecondLine(bool relativeLines) const {
    return relativeLines && Line > 0 && FunctionLine > 0 ? Line : 0;
  }
};

using StackTraceItems = std::vector<StackItem>;

} // namespace tidewell::stacktrace
