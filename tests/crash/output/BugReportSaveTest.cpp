#include <gtest/gtest.h>

#include "crash/output/KXBugReportSave.h"
#include "crash/output/KXReportFields.h"
#include "tests/crash/output/MemoryBugFileSystem.h"
#include "tests/crash/output/TestReports.h"

using namespace kx;
using namespace kx::test;

namespace {
const std::u16string kExe = u"C:\\Apps\\Tidewell\\Tidewell.exe";
const std::u16string kAppData = u"C:\\Users\\u\\AppData\\Roaming";

struct SaveFixture : ::testing::Test {
  MemoryBugFileSystem fs;
  KXSaveRequest request;

  void SetUp() override {
    fs.folders = {u"C:\\Apps\\", u"C:\\Apps\\Tidewell\\", u"C:\\Users\\", u"C:\\Users\\u\\",
                  u"C:\\Users\\u\\AppData\\", u"C:\\Users\\u\\AppData\\Roaming\\"};
    request.bugRepFile = u"bugreport.txt";
    request.exePath = kExe;
    request.userAppDataFolder = kAppData;
    request.autoSave = true;
    request.options.maxSize = 100000;
  }
};
} // namespace

TEST_F(SaveFixture, AutomaticSaveWritesTheConfiguredFileBesideTheExecutable) {
  KXSaveResult result = SaveBugReport(fs, request, CrashReport(kCrcA, "t1"));
  EXPECT_TRUE(result.saved);
  EXPECT_TRUE(result.configuredFile);
  EXPECT_EQ(result.path, u"C:\\Apps\\Tidewell\\bugreport.txt");
  EXPECT_EQ(fs.files[result.path], CrashReport(kCrcA, "t1") + "\r\n\r\n");
  // A repeat is merged through the real file, and only the changed part is rewritten.
  SaveBugReport(fs, request, CrashReport(kCrcB, "t2"));
  SaveBugReport(fs, request, CrashReport(kCrcA, "t3"));
  std::string &file = fs.files[result.path];
  EXPECT_EQ(ReportCountIn(file), 2u);
  EXPECT_EQ(ReportField(ReportAt(file, "t3"), "count"), "2");
}

TEST_F(SaveFixture, MissingFoldersAreCreatedLevelByLevel) {
  request.bugRepFile = u"logs\\2026\\bug.txt";
  KXSaveResult result = SaveBugReport(fs, request, CrashReport(kCrcA));
  EXPECT_TRUE(result.saved);
  EXPECT_EQ(result.path, u"C:\\Apps\\Tidewell\\logs\\2026\\bug.txt");
  EXPECT_TRUE(fs.folders.count(u"C:\\Apps\\Tidewell\\logs\\2026\\"));
}

TEST_F(SaveFixture, UnwritableExecutableFolderFallsBackToUserAppData) {
  fs.readOnlyFolders.insert(u"C:\\Apps\\Tidewell\\");
  KXSaveResult result = SaveBugReport(fs, request, CrashReport(kCrcA));
  EXPECT_TRUE(result.saved);
  EXPECT_TRUE(result.configuredFile);
  EXPECT_EQ(result.path, u"C:\\Users\\u\\AppData\\Roaming\\Tidewell\\bugreport.txt");
  EXPECT_EQ(fs.files.count(u"C:\\Apps\\Tidewell\\bugreport.txt"), 0u);
  // A configured name with a folder has no fallback.
  request.bugRepFile = u"C:\\Apps\\Tidewell\\bug.txt";
  EXPECT_FALSE(SaveBugReport(fs, request, CrashReport(kCrcA)).saved);
}

TEST_F(SaveFixture, ExplicitFilesHaveNoFallback) {
  fs.readOnlyFolders.insert(u"C:\\Temp\\");
  request.fileName = u"C:\\Temp\\bugreport.txt";
  KXSaveResult result = SaveBugReport(fs, request, CrashReport(kCrcA));
  EXPECT_FALSE(result.saved);
  EXPECT_FALSE(result.configuredFile);
  EXPECT_EQ(fs.files.size(), 0u);
}

TEST_F(SaveFixture, BusyFileIsRetriedBeforeFallingBack) {
  const std::u16string path = u"C:\\Apps\\Tidewell\\bugreport.txt";
  fs.busyOpens[path] = 3;
  KXSaveResult result = SaveBugReport(fs, request, CrashReport(kCrcA));
  EXPECT_EQ(result.path, path);
  EXPECT_TRUE(result.saved);
  EXPECT_EQ(fs.slept, 3 * kBusyRetryStepMs);
  // Held for good: the report goes to the fallback file after a bounded wait.
  fs.busyOpens[path] = 1000000;
  fs.slept = 0;
  result = SaveBugReport(fs, request, CrashReport(kCrcB));
  EXPECT_TRUE(result.saved);
  EXPECT_EQ(result.path, u"C:\\Users\\u\\AppData\\Roaming\\Tidewell\\bugreport.txt");
  EXPECT_EQ(fs.slept, kBusyRetrySteps * kBusyRetryStepMs);
}

TEST_F(SaveFixture, UnreadableOldContentStillGetsTheReportAppended) {
  const std::u16string path = u"C:\\Apps\\Tidewell\\bugreport.txt";
  std::string old = CrashReport(kCrcA, "old") + "\r\n\r\n";
  fs.files[path] = old;
  fs.failReads = true;
  EXPECT_TRUE(SaveBugReport(fs, request, CrashReport(kCrcA, "new")).saved);
  EXPECT_EQ(fs.files[path], old + CrashReport(kCrcA, "new") + "\r\n\r\n");
  // A failing write is reported.
  fs.failReads = false;
  fs.failWrites = true;
  request.userAppDataFolder.clear();
  EXPECT_FALSE(SaveBugReport(fs, request, CrashReport(kCrcB)).saved);
}

TEST_F(SaveFixture, AppendedReportStartsOnItsOwnLineAfterForeignText) {
  const std::u16string path = u"C:\\Apps\\Tidewell\\bugreport.txt";
  fs.files[path] = "notes without line end";
  request.options.maxSize = 0; // nothing needs the whole file: the report is appended at the end
  EXPECT_TRUE(SaveBugReport(fs, request, CrashReport(kCrcB, "new")).saved);
  EXPECT_EQ(fs.files[path], "notes without line end\r\n\r\n" + CrashReport(kCrcB, "new") + "\r\n\r\n");
}

TEST_F(SaveFixture, InteractiveSaveAsksWithAProposal) {
  request.autoSave = false;
  request.desktopFolder = u"C:\\Users\\u\\Desktop\\";
  KXSaveProposal asked;
  request.askUser = [&](const KXSaveProposal &proposal) -> std::optional<std::u16string> {
    asked = proposal;
    return u"C:\\Users\\u\\chosen.txt";
  };
  KXSaveResult result = SaveBugReport(fs, request, CrashReport(kCrcA));
  EXPECT_EQ(asked.folder, u"C:\\Users\\u\\Desktop\\");
  EXPECT_EQ(asked.name, u"bugreport.txt");
  EXPECT_TRUE(result.saved);
  EXPECT_FALSE(result.configuredFile); // only automatic saves mark the report as saved
  EXPECT_EQ(result.path, u"C:\\Users\\u\\chosen.txt");

  // A configured folder is proposed instead of the desktop; cancelling writes nothing.
  request.bugRepFile = u"\\logs\\bug.txt";
  request.askUser = [&](const KXSaveProposal &proposal) -> std::optional<std::u16string> {
    asked = proposal;
    return std::nullopt;
  };
  result = SaveBugReport(fs, request, CrashReport(kCrcA));
  EXPECT_EQ(asked.folder, u"C:\\logs\\");
  EXPECT_EQ(asked.name, u"bug.txt");
  EXPECT_TRUE(result.cancelled);
  EXPECT_FALSE(result.saved);
  EXPECT_EQ(fs.files.size(), 1u);

  // The user's choice is not redirected elsewhere when it cannot be written.
  fs.readOnlyFolders.insert(u"C:\\Locked\\");
  request.bugRepFile = u"bugreport.txt";
  request.askUser = [](const KXSaveProposal &) -> std::optional<std::u16string> { return u"C:\\Locked\\x.txt"; };
  result = SaveBugReport(fs, request, CrashReport(kCrcA));
  EXPECT_FALSE(result.saved);
  EXPECT_FALSE(result.cancelled);
  EXPECT_NE(result.systemError, 0u);
  EXPECT_EQ(fs.files.size(), 1u);
}

TEST(SaveProposal, DesktopUnknownMeansTheExecutablesFolder) {
  KXSaveProposal proposal = ProposeSaveLocation(u"bugreport.txt", kExe, u"");
  EXPECT_EQ(proposal.folder, u"C:\\Apps\\Tidewell\\");
  EXPECT_EQ(proposal.name, u"bugreport.txt");
  EXPECT_EQ(FallbackBugReportFile(kAppData + u"\\", kExe, u"bugreport.txt"),
            u"C:\\Users\\u\\AppData\\Roaming\\Tidewell\\bugreport.txt");
}
