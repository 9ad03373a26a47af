#pragma once
// The rules that keep the bug report file bounded and free of repeated reports. The file is 8-bit
// text: reports one after another, each followed by an empty line, each starting with a
// "date/time" line. A report boundary is CR LF followed by "date/time" (or "date/time" at the
// very start of the file).
#include <cstdint>
#include <string>
#include <string_view>

#include "crash/base/settings/KXSettings.h"

namespace kx {

struct KXDuplicateRule {
  bool noDupExcepts = true;
  TKXDupDef dupExceptDef = TKXDupDef::ddCrashStackIdentical;
  bool noDupFreezes = true;
  TKXDupDef dupFreezeDef = TKXDupDef::ddAllStacksIdentical;
};

struct KXBugFileOptions {
  bool append = true;      // keep earlier reports
  uint32_t maxSize = 0;    // bytes above which the oldest reports are cut; 0: no limit
  KXDuplicateRule duplicates;
};

// What identifies a repeat of the report in the file: the leading part of its "callstack crc"
// value ("$xxxxxxxx, $xxxxxxxx, $xxxxxxxx"; 9, 20 or 31 characters by the rule of its kind: an
// exception report has an "exception class" field, a freeze report has none). Empty when the
// rule of its kind is off or the value is not exactly 31 characters long.
std::string DuplicateKey(std::string_view report, const KXDuplicateRule &rule);

// True when the reports come from the same program: equal "executable", "current module",
// "exception class" and "version" fields, and without a version also equal "exec. date/time" and
// "module date/time".
bool SameReportOrigin(std::string_view oldReport, std::string_view newReport);

// Whether the merge must see the whole old file (a duplicate can be removed or the file trimmed).
bool MergeNeedsContent(uint64_t oldSize, std::string_view report, const KXBugFileOptions &options);

// The text that must come between the old content (given by its last bytes) and the new report
// so that the report starts on a report boundary after an empty line.
std::string SeparatorAfter(std::string_view oldTail);

// The new file, made of the old content and the report.
struct KXBugFileMerge {
  std::string content;     // the whole new content, the report and its closing empty line included
  size_t unchanged = 0;    // leading bytes equal to the old content: writing may start there
  uint64_t count = 0;      // the report's "count" when it replaced an earlier one, else 0
};

// Applies the rules: with options.append, removes the newest earlier report with the same
// duplicate key and origin (the new report then carries its count + 1), cuts the oldest reports
// so that the kept tail is below maxSize - maxSize / 4 when the file is larger than maxSize (never
// cutting inside a report), and appends the report. Without options.append only the report is kept.
// Any old content is accepted; text that is not a report is left alone.
KXBugFileMerge MergeBugReport(std::string_view oldContent, std::string_view report, const KXBugFileOptions &options);

} // namespace kx
