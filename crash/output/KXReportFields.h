#pragma once
// Reading and changing the header fields of a bug report text. The header is the block of
// "name : value" lines before the first empty line; every line ends with CR LF.
#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

// The header of a report: everything before the first CR LF CR LF (the whole text without one).
std::string_view ReportHeader(std::string_view report);

// The value of a header field: the first header line that starts with the name, then only spaces,
// then ':'; the value is the rest of the line after ": ". Empty when there is no such line. The
// first line of the report counts as a line too.
std::string ReportField(std::string_view report, std::string_view name);

// The field's line as offsets into the report: where it starts, where its ':' is and where it
// ends (before its CR LF). Found false when the header has no such line.
struct KXFieldLine {
  bool found = false;
  size_t start = 0, colon = 0, end = 0;
};
KXFieldLine FindReportField(std::string_view report, std::string_view name);

// The report with a "count" line right after its "callstack crc" line, its name padded so that
// its ": " lines up with that of the "callstack crc" line. A "count" line the report has already
// is replaced. Without a "callstack crc" line the report is returned unchanged.
std::string WithCountField(std::string_view report, uint64_t count);

// The value of the "count" field as a number; 1 when it is absent or not a decimal number.
uint64_t ReportCount(std::string_view report);

} // namespace kx
