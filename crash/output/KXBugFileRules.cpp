#include "crash/output/KXBugFileRules.h"

#include "crash/output/KXReportFields.h"

#include <vector>

namespace kx {

namespace {
constexpr std::string_view kDateTime = "date/time";
constexpr std::string_view kBoundary = "\r\ndate/time";
constexpr std::string_view kReportEnd = "\r\n\r\n";
constexpr size_t kCrcLength = 31;

// A report of the content: from its "date/time" to the start of the next report (its closing
// empty line included) or to the content's end.
struct ReportSpan {
  size_t start = 0, end = 0;
};

// The reports of the content in file order, found in one forward pass. Text before the first
// report start is not a report.
std::vector<ReportSpan> SplitReports(std::string_view content) {
  std::vector<size_t> starts;
  if (content.substr(0, kDateTime.size()) == kDateTime)
    starts.push_back(0);
  for (size_t b = content.find(kBoundary); b != std::string_view::npos; b = content.find(kBoundary, b + 1))
    starts.push_back(b + 2);
  std::vector<ReportSpan> spans(starts.size());
  for (size_t i = 0; i < starts.size(); ++i)
    spans[i] = {starts[i], i + 1 < starts.size() ? starts[i + 1] : content.size()};
  return spans;
}

// True when the report's header has a "callstack crc" line whose value starts with the key.
bool HasChecksumKey(std::string_view report, std::string_view key) {
  KXFieldLine line = FindReportField(report, "callstack crc");
  if (!line.found)
    return false;
  std::string_view rest = report.substr(line.colon, line.end - line.colon);
  return rest.size() >= key.size() + 2 && rest.substr(0, 2) == ": " && rest.substr(2, key.size()) == key;
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
    // The newest earlier report with the key and the same origin is the repeat.
    std::vector<ReportSpan> spans = SplitReports(content);
    for (size_t i = spans.size(); i-- > 0;) {
      std::string_view old = std::string_view(content).substr(spans[i].start, spans[i].end - spans[i].start);
      if (HasChecksumKey(old, key) && SameReportOrigin(old, report)) {
        merge.count = ReportCount(old) + 1;
        newReport = WithCountField(report, merge.count);
        content.erase(spans[i].start, spans[i].end - spans[i].start);
        unchanged = std::min(unchanged, spans[i].start);
        break;
      }
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
