// The save as the exception host calls it: the exception's settings choose the file and the
// rules, and only an automatic save of the configured file marks the report as saved.
#include <gtest/gtest.h>
#include <windows.h>

#include "crash/output/KXReportFields.h"
#include "crash/output/win32/KXWin32BugReportSave.h"
#include "tests/crash/capture/exception/FakeHost.h"
#include "tests/crash/output/TestReports.h"

namespace kx::test {
namespace {
std::string ReadWhole(const std::string &path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return "<missing>";
  std::string data(1 << 16, '\0');
  DWORD got = 0;
  ReadFile(h, data.data(), DWORD(data.size()), &got, nullptr);
  CloseHandle(h);
  data.resize(got);
  return data;
}

class SaveWithException : public ::testing::Test {
protected:
  FakePlatform platform;
  std::shared_ptr<KXSettingsContext> context;
  std::unique_ptr<FakeHost> host;
  std::string folder;

  void SetUp() override {
    char temp[MAX_PATH + 1];
    ASSERT_NE(GetTempPathA(MAX_PATH + 1, temp), 0u);
    folder = std::string(temp) + "bugsave-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(GetTickCount()) + "\\";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  }
  void TearDown() override {
    SetExceptionHost(nullptr);
    std::string cmd = "cmd /c rmdir /s /q \"" + folder + "\"";
    std::system(cmd.c_str());
  }
  std::shared_ptr<TIKXException> Create(StreamBuilder stream) {
    platform.streams[kExe] = stream.End();
    context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
    host = std::make_unique<FakeHost>(CreateModuleSettings(context, kExe));
    SetExceptionHost(host.get());
    KXCaughtException caught;
    caught.exceptAddr = 0x401234;
    return CreateExceptionObject(caught);
  }
};
} // namespace

TEST_F(SaveWithException, AutomaticSaveUsesTheSettingsAndMarksTheReportSaved) {
  std::string file = folder + "sub\\bug.txt";
  auto e = Create(StreamBuilder().Text("BugRepFile", file).Int("DupExceptDef", 0));
  // With definition 0 only the first checksum value has to match.
  std::string first = CrashReport("$5d8b02ac, $00000001, $00000001", "t1");
  std::string second = CrashReport("$5d8b02ac, $00000002, $00000002", "t2");
  EXPECT_TRUE(SaveBugReportFile(*e, first, true, 0));
  EXPECT_TRUE(e->GetMailWasSaved());
  EXPECT_TRUE(SaveBugReportFile(*e, second, true, 0));
  std::string text = ReadWhole(file);
  EXPECT_EQ(ReportCountIn(text), 1u);
  EXPECT_EQ(ReportField(ReportAt(text, "t2"), "count"), "2");
}

TEST_F(SaveWithException, SettingsSwitchTheRulesOff) {
  std::string file = folder + "bug.txt";
  auto e = Create(StreamBuilder().Text("BugRepFile", file).Bool("NoDupExcepts", false));
  EXPECT_TRUE(SaveBugReportFile(*e, CrashReport(kCrcA, "t1"), true, 0));
  EXPECT_TRUE(SaveBugReportFile(*e, CrashReport(kCrcA, "t2"), true, 0));
  EXPECT_EQ(ReportCountIn(ReadWhole(file)), 2u);

  auto overwrite = Create(StreamBuilder().Text("BugRepFile", file).Bool("AppendBugReps", false));
  EXPECT_TRUE(SaveBugReportFile(*overwrite, CrashReport(kCrcA, "t3"), true, 0));
  EXPECT_EQ(ReadWhole(file), CrashReport(kCrcA, "t3") + "\r\n\r\n");
}

TEST_F(SaveWithException, OtherFilesAndFailuresLeaveTheReportUnsaved) {
  auto e = Create(StreamBuilder().Text("BugRepFile", folder + "bug.txt"));
  std::string copy = folder + "copy.txt";
  std::u16string copyW(copy.begin(), copy.end());
  EXPECT_TRUE(SaveBugReportFile(*e, CrashReport(kCrcA), true, 0, copyW));
  EXPECT_NE(ReadWhole(copy).find(kCrcA), std::string::npos);
  EXPECT_FALSE(e->GetMailWasSaved());

  // A configured file under a plain file cannot be written and has no fallback.
  std::string blocker = folder + "blocker";
  CloseHandle(CreateFileA(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  auto blocked = Create(StreamBuilder().Text("BugRepFile", blocker + "\\bug.txt"));
  EXPECT_FALSE(SaveBugReportFile(*blocked, CrashReport(kCrcA), true, 0));
  EXPECT_FALSE(blocked->GetMailWasSaved());
}

} // namespace kx::test
