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
