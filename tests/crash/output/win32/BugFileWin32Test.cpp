#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "crash/output/KXBugReportSave.h"
#include "crash/output/KXReportFields.h"
#include "crash/output/win32/KXWin32BugFileSystem.h"
#include "tests/crash/output/TestReports.h"

using namespace kx;
using namespace kx::test;

namespace {
std::u16string U(const std::wstring &text) { return std::u16string(text.begin(), text.end()); }
const wchar_t *W(const std::u16string &text) { return reinterpret_cast<const wchar_t *>(text.c_str()); }

std::string ReadWhole(const std::u16string &path) {
  HANDLE h = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return "<missing>";
  std::string data(1 << 20, '\0');
  DWORD got = 0;
  ReadFile(h, data.data(), DWORD(data.size()), &got, nullptr);
  CloseHandle(h);
  data.resize(got);
  return data;
}

// A fresh folder under the system temporary path, removed with its content afterwards.
struct TempFolder : ::testing::Test {
  std::u16string root;
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
    root = U(temp) + U(L"bugfile-") + U(std::to_wstring(GetCurrentProcessId())) + u"-" +
           U(std::to_wstring(GetTickCount())) + u"\\";
    ASSERT_TRUE(CreateDirectoryW(W(root), nullptr));
  }
  void TearDown() override {
    std::wstring cmd = L"cmd /c rmdir /s /q \"" + std::wstring(W(root)) + L"\"";
    _wsystem(cmd.c_str());
  }
};
} // namespace

TEST_F(TempFolder, RealFileIsCreatedMergedAndTruncated) {
  KXWin32BugFileSystem files;
  KXSaveRequest request;
  request.exePath = root + u"app\\Tidewell.exe"; // relative names land in root\app
  request.bugRepFile = u"logs\\bugreport.txt";
  request.autoSave = true;
  request.options.maxSize = 100000;
  ASSERT_TRUE(SaveBugReport(files, request, CrashReport(kCrcA, "t1")).saved);
  ASSERT_TRUE(SaveBugReport(files, request, CrashReport(kCrcB, "t2")).saved);
  KXSaveResult third = SaveBugReport(files, request, CrashReport(kCrcA, "t3"));
  ASSERT_TRUE(third.saved);
  EXPECT_EQ(third.path, root + u"app\\logs\\bugreport.txt");
  std::string file = ReadWhole(third.path);
  // The merged file is shorter than before: the end was truncated, nothing of t1 is left.
  EXPECT_EQ(ReportCountIn(file), 2u);
  EXPECT_EQ(file.find("t1"), std::string::npos);
  EXPECT_EQ(ReportField(ReportAt(file, "t3"), "count"), "2");
  EXPECT_EQ(file.substr(file.size() - 4), "\r\n\r\n");

  request.options.append = false;
  ASSERT_TRUE(SaveBugReport(files, request, CrashReport(kCrcB, "only")).saved);
  EXPECT_EQ(ReadWhole(third.path), CrashReport(kCrcB, "only") + "\r\n\r\n");
}

TEST_F(TempFolder, BlockedFolderFallsBackAndBusyFileIsAwaited) {
  KXWin32BugFileSystem files;
  // "app" is a file, so the executable's folder can never hold the bug report file.
  HANDLE blocker = CreateFileW(W(root + u"app"), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(blocker, INVALID_HANDLE_VALUE);
  CloseHandle(blocker);
  KXSaveRequest request;
  request.exePath = root + u"app\\Tidewell.exe";
  request.bugRepFile = u"bugreport.txt";
  request.userAppDataFolder = root + u"appdata";
  request.autoSave = true;
  KXSaveResult result = SaveBugReport(files, request, CrashReport(kCrcA, "fallback"));
  ASSERT_TRUE(result.saved);
  EXPECT_TRUE(result.configuredFile);
  EXPECT_EQ(result.path, root + u"appdata\\Tidewell\\bugreport.txt");
  EXPECT_NE(ReadWhole(result.path).find("fallback"), std::string::npos);

  // Another writer holds the file for a moment: the save waits for it instead of failing.
  HANDLE held = CreateFileW(W(result.path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    Sleep(300);
    CloseHandle(held);
  });
  KXWriteResult written = WriteBugReportFile(files, result.path, CrashReport(kCrcB, "after wait"), KXBugFileOptions());
  release.join();
  EXPECT_TRUE(written.saved);
  std::string file = ReadWhole(result.path);
  EXPECT_EQ(ReportCountIn(file), 2u);
  EXPECT_NE(file.find("after wait"), std::string::npos);
}

TEST(ExecutablePath, NamesThisTestProgram) {
  std::u16string path = ExecutablePath();
  ASSERT_GT(path.size(), 4u);
  EXPECT_EQ(path.substr(path.size() - 4), u".exe");
  EXPECT_NE(GetFileAttributesW(W(path)), INVALID_FILE_ATTRIBUTES);
}
