#include "crash/output/KXBugFileRules.h"

#include "crash/output/KXReportFields.h"

namespace kx {

namespace {
constexpr std::string_view kDateTime = "date/time";
constexpr std::string_view kBoundary = "\r\ndate/time";
constexpr std::string_view kReportEnd = "\r\n\r\n";
constexpr size_t kCrcLength = 31;

// True when the text at pos is the value of a "callstack crc" line: the line holds the name,
// spaces and the ": " that ends at pos + 2.
bool OnCallstackCrcLine(std::string_view content, size_t pos) {
  size_t lineStart = content.rfind("\r\n", pos);
  lineStart = lineStart == std::string_view::npos ? 0 : lineStart + 2;
  if (lineStart > pos)
    return false;
  std::string_view name = content.substr(lineStart, pos - lineStart);
  while (!name.empty() && name.back() == ' ')
    name.remove_suffix(1);
  return name == "callstack crc";
}

// The start ("date/time") of the report around pos, or npos when no report start lies before it.
size_t ReportStartBefore(std::string_view content, size_t pos) {
  size_t boundary = content.rfind(kBoundary, pos);
  if (boundary != std::string_view::npos)
    return boundary + 2;
  return content.substr(0, kDateTime.size()) == kDateTime ? 0 : std::string_view::npos;
}

// The end of the report around pos: the "date/time" of the next report, or the content's end.
size_t ReportEndAfter(std::string_view content, size_t pos) {
  size_t boundary = content.find(kBoundary, pos);
  return boundary == std::string_view::npos ? content.size() : boundary + 2;
}
} // namespace

std::string DuplicateKey(std::string_view report, const KXDuplicateRule &rule) {
  std::string crc = ReportField(report, "callstack crc");
  if (crc.size() != kCrcLength)
    return {};
  bool exception = FindReportField(report, "exception class").found;
  bool on = exception ? rule.noDupExcepts : rule.noDupFreezes;
  if (!on)
    return {};
  switch (exception ? rule.dupExceptDef : rule.dupFreezeDef) {
  case TKXDupDef::ddExceptAddrIdentical:
    return crc.substr(0, 9);
  case TKXDupDef::ddCrashStackIdentical:
    return crc.substr(0, 20);
  default:
    return crc;
  }
}

bool SameReportOrigin(std::string_view oldReport, std::string_view newReport) {
  for (std::string_view name : {"executable", "current module", "exception class", "version"})
    if (ReportField(oldReport, name) != ReportField(newReport, name))
      return false;
  if (!ReportField(oldReport, "version").empty())
    return true;
  for (std::string_view name : {"exec. date/time", "module date/time"})
    if (ReportField(oldReport, name) != ReportField(newReport, name))
      return false;
  return true;
}

bool MergeNeedsContent(uint64_t oldSize, std::string_view report, const KXBugFileOptions &options) {
  if (!options.append || oldSize == 0)
    return false;
  if (options.maxSize > 0 && options.maxSize < oldSize)
    return true;
  return !DuplicateKey(report, options.duplicates).empty();
}

std::string SeparatorAfter(std::string_view oldTail) {
  if (oldTail.empty())
    return {};
  if (oldTail.size() >= 4 && oldTail.substr(oldTail.size() - 4) == kReportEnd)
    return {};
  if (oldTail.size() >= 2 && oldTail.substr(oldTail.size() - 2) == "\r\n")
    return "\r\n";
  return std::string(kReportEnd);
}

KXBugFileMerge MergeBugReport(std::string_view oldContent, std::string_view report, const KXBugFileOptions &options) {
  KXBugFileMerge merge;
  if (!options.append) {
    merge.content = std::string(report) + std::string(kReportEnd);
    return merge;
  }
  std::string content(oldContent);
  size_t unchanged = content.size();
  std::string newReport(report);

  std::string key = content.empty() ? std::string() : DuplicateKey(report, options.duplicates);
  if (!key.empty()) {
    std::string needle = ": " + key;
    size_t from = std::string::npos;
    while (!content.empty()) {
      size_t hit = content.rfind(needle, from);
      if (hit == std::string::npos)
        break;
      size_t start = OnCallstackCrcLine(content, hit) ? ReportStartBefore(content, hit) : std::string::npos;
      if (start != std::string::npos) {
        size_t end = ReportEndAfter(content, hit);
        std::string_view old = std::string_view(content).substr(start, end - start);
        if (SameReportOrigin(old, report)) {
          merge.count = ReportCount(old) + 1;
          newReport = WithCountField(report, merge.count);
          content.erase(start, end - start);
          unchanged = std::min(unchanged, start);
          break;
        }
      }
      if (hit == 0)
        break;
      from = hit - 1;
    }
  }

  // Trimming looks at the old file's size; once duplicates are gone a content that is already
  // below the kept size loses nothing.
  if (options.maxSize > 0 && options.maxSize < oldContent.size()) {
    size_t keep = options.maxSize - options.maxSize / 4;
    if (content.size() >= keep) {
      for (size_t b = content.find(kBoundary); b != std::string::npos; b = content.find(kBoundary, b + 1)) {
        if (content.size() - b < keep) {
          content.erase(0, b + 2);
          unchanged = 0;
          break;
        }
      }
    }
  }

  content += SeparatorAfter(content);
  content += newReport;
  content += kReportEnd;
  merge.content = std::move(content);
  merge.unchanged = std::min(unchanged, merge.content.size());
  return merge;
}

} // namespace kx
