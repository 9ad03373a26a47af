// Fuzz target: an existing bug report file (bugreport.txt) that a new report is merged into. The
// first byte chooses the rules (duplicate definitions, freezes on or off, a size limit), the rest
// is the old file. The merge must leave every report it does not replace or trim byte for byte
// as it was, and end with the new report.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "crash/output/KXBugFileRules.h"
#include "crash/output/KXReportFields.h"

namespace {
constexpr std::string_view kBoundary = "\r\ndate/time";
constexpr std::string_view kEnd = "\r\n\r\n";

// The new report: an exception of the program the seeds' reports come from.
const std::string kReport = "date/time       : 2026-12-09, 09:05:07, 85ms\r\n"
                            "executable      : Tidewell.exe\r\n"
                            "version         : 1.0.0.12\r\n"
                            "callstack crc   : $5d8b02ac, $0e41f1c9, $0e41f1c9\r\n"
                            "exception class : EConvertError\r\n"
                            "\r\n"
                            "main thread:\r\n"
                            "00401000 Tidewell.exe";

void Require(bool condition) {
  if (!condition)
    std::abort();
}

std::vector<size_t> ReportStarts(std::string_view content) {
  std::vector<size_t> starts;
  if (content.substr(0, 9) == "date/time")
    starts.push_back(0);
  for (size_t b = content.find(kBoundary); b != std::string_view::npos; b = content.find(kBoundary, b + 1))
    starts.push_back(b + 2);
  return starts;
}

// What the merge put in front of the new report (the kept old content and the separator),
// checked to be followed by the new report and nothing else.
std::string_view BeforeReport(const kx::KXBugFileMerge &merge) {
  std::string report = merge.count ? kx::WithCountField(kReport, merge.count) : kReport;
  std::string_view content = merge.content;
  Require(content.size() >= report.size() + kEnd.size());
  Require(content.substr(content.size() - kEnd.size()) == kEnd);
  content.remove_suffix(kEnd.size());
  Require(content.substr(content.size() - report.size()) == report);
  content.remove_suffix(report.size());
  return content;
}

bool IsKeptThenSeparator(std::string_view before, std::string_view kept) {
  return before == std::string(kept) + kx::SeparatorAfter(kept);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  const uint8_t rules = data[0];
  std::string_view old(reinterpret_cast<const char *>(data + 1), size - 1);
  kx::KXBugFileOptions options;
  options.duplicates.dupExceptDef = kx::TKXDupDef((rules & 3) % 3);
  options.duplicates.noDupExcepts = (rules & 4) == 0;
  options.duplicates.noDupFreezes = (rules & 8) == 0;
  const uint32_t limit = (rules >> 4) * 256u;

  // Without a limit: the old content whole, or with exactly one of its reports taken out.
  options.maxSize = 0;
  kx::KXBugFileMerge whole = kx::MergeBugReport(old, kReport, options);
  Require(whole.unchanged <= old.size() && whole.content.compare(0, whole.unchanged, old, 0, whole.unchanged) == 0);
  std::string_view before = BeforeReport(whole);
  std::string kept(old);
  if (whole.count > 0) {
    // The replaced report is one whole report of the old content, of the same program.
    std::vector<size_t> starts = ReportStarts(old);
    bool found = false;
    for (size_t i = 0; i < starts.size() && !found; ++i) {
      size_t end = i + 1 < starts.size() ? starts[i + 1] : old.size();
      std::string_view removed = old.substr(starts[i], end - starts[i]);
      std::string candidate = std::string(old.substr(0, starts[i])) + std::string(old.substr(end));
      if (IsKeptThenSeparator(before, candidate) && kx::ReportCount(removed) + 1 == whole.count &&
          kx::SameReportOrigin(removed, kReport)) {
        kept = candidate;
        found = true;
      }
    }
    Require(found);
  }
  Require(IsKeptThenSeparator(before, kept));

  // With a limit: what is kept is a tail of that, starting on a report.
  if (limit > 0) {
    options.maxSize = limit;
    kx::KXBugFileMerge trimmed = kx::MergeBugReport(old, kReport, options);
    Require(trimmed.count == whole.count);
    Require(trimmed.unchanged <= old.size() &&
            trimmed.content.compare(0, trimmed.unchanged, old, 0, trimmed.unchanged) == 0);
    std::string_view shorter = BeforeReport(trimmed);
    bool found = false;
    for (size_t separator : {0u, 2u, 4u}) {
      if (found || shorter.size() < separator || shorter.size() - separator > kept.size())
        continue;
      std::string_view tail = std::string_view(kept).substr(kept.size() - (shorter.size() - separator));
      found = IsKeptThenSeparator(shorter, tail) &&
              (tail.size() == kept.size() || tail.empty() || tail.substr(0, 9) == "date/time");
    }
    Require(found);
  }
  return 0;
}
