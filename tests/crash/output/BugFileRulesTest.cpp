#include <gtest/gtest.h>


#include "crash/output/KXBugFileRules.h"
#include "crash/output/KXReportFields.h"
#include "tests/crash/output/TestReports.h"

using namespace kx;
using namespace kx::test;

namespace {
KXBugFileOptions Options(uint32_t maxSize = 100000) {
  KXBugFileOptions options;
  options.maxSize = maxSize;
  return options;
}

std::string Save(const std::string &file, const std::string &report, const KXBugFileOptions &options = Options()) {
  KXBugFileMerge merge = MergeBugReport(file, report, options);
  // Whatever is declared unchanged must really be the old content.
  EXPECT_LE(merge.unchanged, file.size());
  EXPECT_EQ(merge.content.substr(0, merge.unchanged), file.substr(0, merge.unchanged));
  return merge.content;
}
} // namespace

TEST(ReportFields, ReadsPaddedHeaderLinesOnly) {
  std::string report = CrashReport(kCrcA) + "\r\nversion : 9.9 in a section";
  EXPECT_EQ(ReportField(report, "callstack crc"), kCrcA);
  EXPECT_EQ(ReportField(report, "executable"), "Tidewell.exe");
  EXPECT_EQ(ReportField(report, "current module"), "");
  // "exec. date/time" is not the field "date/time"; "version" is found in the header.
  EXPECT_EQ(ReportField(report, "version"), "1.0.0.12");
  // A freeze has no version in its header; a "version" line of a section is not a field.
  std::string noVersion = Report({{"date/time", "x"}, {"executable", "Tidewell.exe"}}, "modules:\r\nversion : 2.0");
  EXPECT_EQ(ReportField(noVersion, "version"), "");
  EXPECT_EQ(ReportField("date/time : x\r\nname without colon", "name"), "");
  EXPECT_EQ(ReportField("date/time : x\r\ncount :", "count"), ""); // truncated line
}

TEST(ReportFields, CountLineIsAlignedUnderTheChecksum) {
  std::string report = CrashReport(kCrcA);
  std::string counted = WithCountField(report, 2);
  size_t crcLine = counted.find("callstack crc");
  size_t countLine = counted.find("\r\ncount") + 2;
  ASSERT_NE(countLine, std::string::npos + 2);
  EXPECT_EQ(counted.find("\r\n", crcLine) + 2, countLine); // directly after
  EXPECT_EQ(counted.find(": ", countLine) - countLine, counted.find(": ", crcLine) - crcLine);
  EXPECT_EQ(ReportField(counted, "count"), "2");
  // Counting again replaces the line instead of adding a second one.
  std::string again = WithCountField(counted, 3);
  EXPECT_EQ(Occurrences(again, "\r\ncount"), 1u);
  EXPECT_EQ(ReportCount(again), 3u);
  EXPECT_EQ(ReportCount(report), 1u);
  EXPECT_EQ(ReportCount(Report({{"date/time", "x"}, {"count", "many"}})), 1u);
}

TEST(DuplicateKey, LengthFollowsTheRuleOfTheReportsKind) {
  KXDuplicateRule rule;
  EXPECT_EQ(DuplicateKey(CrashReport(kCrcA), rule), "$5d8b02ac, $0e41f1c9"); // exceptions: definition 1
  EXPECT_EQ(DuplicateKey(FreezeReport(kCrcA), rule), kCrcA);                 // freezes: definition 2
  rule.dupExceptDef = TKXDupDef::ddExceptAddrIdentical;
  EXPECT_EQ(DuplicateKey(CrashReport(kCrcA), rule), "$5d8b02ac");
  rule.noDupExcepts = false;
  EXPECT_EQ(DuplicateKey(CrashReport(kCrcA), rule), "");
  EXPECT_EQ(DuplicateKey(FreezeReport(kCrcA), rule), kCrcA);
  rule.noDupFreezes = false;
  EXPECT_EQ(DuplicateKey(FreezeReport(kCrcA), rule), "");
  // Any other checksum length gives no key.
  EXPECT_EQ(DuplicateKey(CrashReport("will be calculated soon"), KXDuplicateRule()), "");
  EXPECT_EQ(DuplicateKey(CrashReport(std::string(kCrcA) + "0"), KXDuplicateRule()), "");
}

TEST(BugFileMerge, RepeatedReportIsCountedAndMovesToTheEnd) {
  std::string file = Save("", CrashReport(kCrcA, "t1"));
  file = Save(file, CrashReport(kCrcB, "other"));
  file = Save(file, CrashReport(kCrcA, "t2"));
  EXPECT_EQ(ReportCountIn(file), 2u);
  EXPECT_EQ(Occurrences(file, kCrcA), 1u);
  EXPECT_EQ(Occurrences(file, "t1"), 0u);
  EXPECT_LT(file.find("other"), file.find("t2"));
  EXPECT_EQ(ReportField(ReportAt(file, "t2"), "count"), "2");

  KXBugFileMerge third = MergeBugReport(file, CrashReport(kCrcA, "t3"), Options());
  EXPECT_EQ(third.count, 3u);
  EXPECT_EQ(ReportCountIn(third.content), 2u);
  EXPECT_LT(third.content.find("other"), third.content.find("t3"));
  EXPECT_EQ(ReportField(ReportAt(third.content, "t3"), "count"), "3");
  EXPECT_EQ(Occurrences(third.content, "\r\ncount"), 1u);
  EXPECT_EQ(third.content.substr(third.content.size() - 4), "\r\n\r\n");
}

TEST(BugFileMerge, OnlyTheSameProgramAndChecksumAreMerged) {
  std::string file = Save("", CrashReport(kCrcA, "t1", "1.0"));
  // Another version of the program.
  EXPECT_EQ(ReportCountIn(Save(file, CrashReport(kCrcA, "t2", "2.0"))), 2u);
  // A checksum that is not three values is never merged.
  std::string pending = Save("", CrashReport("will be calculated soon", "p1"));
  EXPECT_EQ(ReportCountIn(Save(pending, CrashReport("will be calculated soon", "p2"))), 2u);
  // The key matching another field's value (the process id is "$5d8b02ac" in these reports) is
  // not a repeat: with definition 0 only the checksum line counts.
  KXBugFileOptions options = Options();
  options.duplicates.dupExceptDef = TKXDupDef::ddExceptAddrIdentical;
  std::string other = Save("", CrashReport(kCrcB, "b1"), options);
  EXPECT_EQ(ReportCountIn(Save(other, CrashReport(kCrcA, "a1"), options)), 2u);
  // A freeze and an exception with the same checksum differ in their exception class.
  std::string freeze = Save("", FreezeReport(kCrcA));
  EXPECT_EQ(ReportCountIn(Save(freeze, CrashReport(kCrcA))), 2u);
}

TEST(BugFileMerge, FileTimesDecideOnlyWithoutAVersion) {
  auto report = [](const std::string &time, const std::string &version, const std::string &built) {
    Fields fields{{"date/time", time}, {"executable", "Tidewell.exe"}, {"exec. date/time", built}};
    if (!version.empty())
      fields.push_back({"version", version});
    fields.push_back({"callstack crc", kCrcA});
    fields.push_back({"exception class", "EAccessViolation"});
    return Report(fields);
  };
  std::string versioned = Save("", report("t1", "1.0", "2026-12-01 10:00"));
  EXPECT_EQ(ReportCountIn(Save(versioned, report("t2", "1.0", "2026-12-02 11:00"))), 1u);
  std::string unversioned = Save("", report("t1", "", "2026-12-01 10:00"));
  EXPECT_EQ(ReportCountIn(Save(unversioned, report("t2", "", "2026-12-02 11:00"))), 2u);
  EXPECT_EQ(ReportCountIn(Save(unversioned, report("t2", "", "2026-12-01 10:00"))), 1u);
}

TEST(BugFileMerge, TrimsOldReportsToBelowThreeQuartersOfTheLimit) {
  std::string file;
  for (int i = 0; file.size() < 150000; ++i)
    file += Report({{"date/time", "n" + std::to_string(i)}, {"callstack crc", "short"}}) + "\r\n\r\n";
  std::string report = CrashReport(kCrcA, "newest");
  KXBugFileMerge merge = MergeBugReport(file, report, Options(100000));
  std::string kept = merge.content.substr(0, merge.content.size() - report.size() - 4);
  EXPECT_LT(kept.size(), 75000u);
  EXPECT_GT(kept.size() + 400, 75000u); // only as much as needed is dropped
  EXPECT_EQ(kept.substr(0, 9), "date/time");
  EXPECT_EQ(file.substr(file.size() - kept.size()), kept); // the newest old reports stay, whole
  EXPECT_EQ(merge.content.substr(kept.size()), report + "\r\n\r\n");
}

TEST(BugFileMerge, NeverCutsInsideAReport) {
  std::string huge = Report({{"date/time", "huge"}}, std::string(200000, 'x'));
  std::string file = Save("", huge, Options(100000));
  std::string afterOne = Save(file, CrashReport(kCrcB, "second"), Options(100000));
  EXPECT_NE(afterOne.find(huge), std::string::npos);
  // A new report larger than the limit is still written whole.
  EXPECT_NE(Save("", huge, Options(1000)).find(huge), std::string::npos);
  // The file is bounded again as soon as a small report follows the huge one.
  std::string third = Save(afterOne, CrashReport("pending", "third"), Options(100000));
  EXPECT_EQ(third.find(huge), std::string::npos);
  EXPECT_NE(third.find("second"), std::string::npos);
  EXPECT_NE(third.find("third"), std::string::npos);
}

TEST(BugFileMerge, RemovingARepeatCanMakeTrimmingNeedless) {
  // 100 bytes over the limit, most of it the report that is about to be replaced.
  std::string big = CrashReport(kCrcA, "old") + "\r\n" + std::string(1200, 'z');
  std::string file = Save("", CrashReport(kCrcB, "keep me"), Options(0));
  file = Save(file, CrashReport("pending", "keep me too"), Options(0));
  file = Save(file, big, Options(0));
  KXBugFileMerge merge = MergeBugReport(file, CrashReport(kCrcA, "new"), Options(uint32_t(file.size() - 100)));
  EXPECT_EQ(merge.count, 2u);
  EXPECT_NE(merge.content.find("keep me\r\n"), std::string::npos);
  EXPECT_NE(merge.content.find("keep me too"), std::string::npos);
}

TEST(BugFileMerge, WithoutAppendingOnlyTheNewestReportIsKept) {
  KXBugFileOptions options = Options();
  options.append = false;
  std::string file = Save("", CrashReport(kCrcA, "t1"), options);
  file = Save(file + "junk", CrashReport(kCrcA, "t2"), options);
  EXPECT_EQ(file, CrashReport(kCrcA, "t2") + "\r\n\r\n");
}

TEST(BugFileMerge, ForeignContentNeverCostsTheNewReport) {
  std::string report = CrashReport(kCrcA, "new");
  std::string junk;
  for (int i = 0; i < 300000; ++i)
    junk += char((unsigned(i) * 7919u + unsigned(i) / 13u) & 0xffu);
  junk += ": $5d8b02ac, $0e41f1c9"; // a key hit with no report around it
  const std::string inputs[] = {
      junk,
      std::string(150000, 'a'),                                      // no separator at all
      CrashReport(kCrcA, "old").substr(0, 120),                      // a report cut short in its header
      "date/time",                                                   // nothing but a report start
      "\r\ndate/time",                                               // a boundary and nothing more
      "callstack crc : $5d8b02ac, $0e41f1c9, $0e41f1c9",             // a checksum without report start
      std::string(3, '\0') + "date/time : x\r\ncallstack crc : " + kCrcA,
  };
  for (const std::string &old : inputs) {
    for (uint32_t limit : {0u, 100u, 100000u}) {
      KXBugFileMerge merge = MergeBugReport(old, report, Options(limit));
      EXPECT_EQ(merge.count, 0u);
      // The new report is whole, at the end, and starts on a report boundary.
      size_t at = merge.content.size() - report.size() - 4;
      ASSERT_GE(merge.content.size(), report.size() + 4);
      EXPECT_EQ(merge.content.substr(at, report.size()).substr(0, 20), report.substr(0, 20));
      EXPECT_TRUE(at == 0 || merge.content.compare(at - 4, 4, "\r\n\r\n") == 0) << old.substr(0, 20);
      EXPECT_EQ(ReportField(merge.content.substr(at), "callstack crc"), kCrcA);
    }
  }
}

namespace {
// The merge as it was before reports were split in one pass: every hit of the key is traced back
// to its report. Kept as the reference the current merge must agree with on well-formed files.
KXBugFileMerge ReferenceMerge(std::string_view oldContent, std::string_view report, const KXBugFileOptions &options) {
  const std::string_view boundary = "\r\ndate/time";
  KXBugFileMerge merge;
  if (!options.append) {
    merge.content = std::string(report) + "\r\n\r\n";
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
      size_t lineStart = content.rfind("\r\n", hit);
      lineStart = lineStart == std::string::npos ? 0 : lineStart + 2;
      std::string name = content.substr(lineStart, hit - lineStart);
      while (!name.empty() && name.back() == ' ')
        name.pop_back();
      size_t start = std::string::npos;
      if (name == "callstack crc") {
        size_t b = content.rfind(boundary, hit);
        start = b != std::string::npos ? b + 2 : content.rfind("date/time", 0) == 0 ? 0 : std::string::npos;
      }
      if (start != std::string::npos) {
        size_t b = content.find(boundary, hit);
        size_t end = b == std::string::npos ? content.size() : b + 2;
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
  if (options.maxSize > 0 && options.maxSize < oldContent.size()) {
    size_t keep = options.maxSize - options.maxSize / 4;
    if (content.size() >= keep) {
      for (size_t b = content.find(boundary); b != std::string::npos; b = content.find(boundary, b + 1)) {
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
  content += "\r\n\r\n";
  merge.content = std::move(content);
  merge.unchanged = std::min(unchanged, merge.content.size());
  return merge;
}
} // namespace

TEST(BugFileMerge, AgreesWithTheReferenceOnWellFormedFiles) {
  // Files grown report by report as the reporter writes them: repeats of a few checksums from two
  // versions, freezes, pending checksums, different rules and limits; every step compared.
  const std::string crcs[] = {kCrcA, kCrcB, "$5d8b02ac, $0e41f1c9, $99999999", "$5d8b02ac, $77777777, $0e41f1c9",
                              "will be calculated soon"};
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  size_t merged = 0;
  for (int run = 0; run < 12; ++run) {
    KXBugFileOptions options;
    options.maxSize = run % 3 == 0 ? 0 : 2000u + 1500u * uint32_t(run);
    options.duplicates.dupExceptDef = TKXDupDef(run % 3);
    options.duplicates.dupFreezeDef = TKXDupDef((run + 1) % 3);
    options.duplicates.noDupFreezes = run % 4 != 3;
    std::string file = run % 2 ? std::string() : std::string("text left by someone else\r\n");
    for (int step = 0; step < 60; ++step) {
      const std::string &crc = crcs[next(5)];
      std::string time = "t" + std::to_string(run) + "." + std::to_string(step);
      std::string report = next(4) == 0 ? FreezeReport(crc) : CrashReport(crc, time, next(3) == 0 ? "2.0" : "1.0.0.12");
      KXBugFileMerge expected = ReferenceMerge(file, report, options);
      KXBugFileMerge actual = MergeBugReport(file, report, options);
      ASSERT_EQ(actual.content, expected.content) << "run " << run << " step " << step;
      ASSERT_EQ(actual.unchanged, expected.unchanged);
      ASSERT_EQ(actual.count, expected.count);
      merged += actual.count > 0;
      file = actual.content;
    }
  }
  EXPECT_GT(merged, 100u); // the files really had repeats to merge
}

TEST(BugFileMerge, ManyChecksumLinesInOneReportAreReadAsOneReport) {
  // One report start followed by nothing but checksum lines that all hold the key: every line is
  // a candidate, none is a report of its own. (bench/output times this file at 0.1, 1 and 5 MB;
  // a merge that went quadratic again would not finish here either.)
  for (size_t megabytes : {1u, 5u}) {
    std::string file = "date/time : x\r\n";
    while (file.size() < megabytes << 20)
      file += std::string("callstack crc : ") + kCrcA + "\r\n";
    KXBugFileMerge merge = MergeBugReport(file, CrashReport(kCrcA, "new"), Options(0));
    EXPECT_EQ(merge.count, 0u); // not the same program: nothing merged
    EXPECT_EQ(merge.content.substr(0, file.size()), file);
    // The same lines in the header of a report of the same program: merged once.
    std::string same = CrashReport(kCrcA, "old");
    std::string crafted = same.substr(0, same.find("\r\n\r\n"));
    while (crafted.size() < megabytes << 20)
      crafted += std::string("\r\ncallstack crc : ") + kCrcA;
    merge = MergeBugReport(crafted + "\r\n\r\n", CrashReport(kCrcA, "new"), Options(0));
    EXPECT_EQ(merge.count, 2u);
    EXPECT_EQ(merge.content, WithCountField(CrashReport(kCrcA, "new"), 2) + "\r\n\r\n");
  }
}

TEST(BugFileMerge, ChecksumOutsideTheHeaderIsNoRepeat) {
  // A section line that looks like the checksum field does not make the report a repeat.
  std::string old = Report({{"date/time", "old"}, {"executable", "Tidewell.exe"}, {"version", "1.0.0.12"},
                            {"exception class", "EConvertError"}},
                           std::string("notes:\r\ncallstack crc : ") + kCrcA);
  KXBugFileMerge merge = MergeBugReport(old + "\r\n\r\n", CrashReport(kCrcA, "new"), Options(0));
  EXPECT_EQ(merge.count, 0u);
  EXPECT_EQ(ReportCountIn(merge.content), 2u);
}
