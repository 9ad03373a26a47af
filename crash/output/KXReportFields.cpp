#include "crash/output/KXReportFields.h"

#include <limits>

namespace kx {

namespace {
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kCrcName = "callstack crc";
constexpr std::string_view kCountName = "count";
} // namespace

std::string_view ReportHeader(std::string_view report) {
  size_t end = report.find("\r\n\r\n");
  return end == std::string_view::npos ? report : report.substr(0, end);
}

KXFieldLine FindReportField(std::string_view report, std::string_view name) {
  std::string_view header = ReportHeader(report);
  size_t lineStart = 0;
  while (lineStart <= header.size()) {
    size_t lineEnd = header.find(kCrLf, lineStart);
    if (lineEnd == std::string_view::npos)
      lineEnd = header.size();
    std::string_view line = header.substr(lineStart, lineEnd - lineStart);
    if (line.substr(0, name.size()) == name) {
      size_t pos = name.size();
      while (pos < line.size() && line[pos] == ' ')
        ++pos;
      if (pos < line.size() && line[pos] == ':')
        return {true, lineStart, lineStart + pos, lineEnd};
    }
    if (lineEnd == header.size())
      break;
    lineStart = lineEnd + kCrLf.size();
  }
  return {};
}

std::string ReportField(std::string_view report, std::string_view name) {
  KXFieldLine line = FindReportField(report, name);
  // The value follows the colon and the one space after it.
  if (!line.found || line.colon + 2 > line.end)
    return {};
  return std::string(report.substr(line.colon + 2, line.end - line.colon - 2));
}

uint64_t ReportCount(std::string_view report) {
  std::string value = ReportField(report, kCountName);
  if (value.empty())
    return 1;
  uint64_t count = 0;
  for (char c : value) {
    if (c < '0' || c > '9')
      return 1;
    if (count > (std::numeric_limits<uint64_t>::max() - 9) / 10)
      return std::numeric_limits<uint64_t>::max() - 1; // so that count + 1 still fits
    count = count * 10 + uint64_t(c - '0');
  }
  return count == 0 ? 1 : count;
}

std::string WithCountField(std::string_view report, uint64_t count) {
  std::string out(report);
  KXFieldLine old = FindReportField(out, kCountName);
  if (old.found) {
    // Remove the line together with the line break in front of it (or after it, on line one).
    if (old.start >= kCrLf.size())
      out.erase(old.start - kCrLf.size(), old.end - old.start + kCrLf.size());
    else
      out.erase(old.start, std::min(out.size(), old.end + kCrLf.size()) - old.start);
  }
  KXFieldLine crc = FindReportField(out, kCrcName);
  if (!crc.found)
    return std::string(report);
  size_t column = crc.colon - crc.start;
  std::string line(kCountName);
  if (line.size() + 1 > column)
    line += ' ';
  else
    line.resize(column, ' ');
  line += ": " + std::to_string(count);
  out.insert(crc.end, std::string(kCrLf) + line);
  return out;
}

} // namespace kx
