// Fault injection with the crash laboratory: failures at awkward moments, each of which must
// still end in a report in the bug report file and in the program going on (or ending) as its
// settings say. The laboratory's "faults" variant appends every report to crashlab_faults.txt
// beside it; the "cycle" variant restarts itself after every report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <windows.h>

#include <shlobj.h>

#include "tests/crash/capture/catching/win32/LabRun.h"
#include "tests/support/TestTime.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace crashlab;

constexpr int kThreadFrame = 16;

std::string ReadFile(const std::wstring &path) {
  std::ifstream in(std::string(path.begin(), path.end()), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The bug report file as a list of reports: each begins with a line starting "date/time".
std::vector<std::string> Reports(const std::string &file) {
  std::vector<size_t> starts;
  if (file.rfind("date/time", 0) == 0)
    starts.push_back(0);
  for (size_t at = file.find("\r\ndate/time"); at != std::string::npos; at = file.find("\r\ndate/time", at + 2))
    starts.push_back(at + 2);
  std::vector<std::string> reports;
  for (size_t i = 0; i < starts.size(); ++i)
    reports.push_back(file.substr(starts[i], (i + 1 < starts.size() ? starts[i + 1] : file.size()) - starts[i]));
  return reports;
}

// A header field of one report: the rest of the line after the name, blanks and ": ".
std::string Field(const std::string &report, const std::string &name) {
  size_t at = report.find("\r\n" + name);
  if (at == std::string::npos)
    return "(no field " + name + ")";
  size_t value = report.find_first_not_of(' ', at + 2 + name.size());
  if (value == std::string::npos || report[value] != ':')
    return "(no field " + name + ")";
  size_t end = report.find("\r\n", value);
  return report.substr(value + 2, end == std::string::npos ? std::string::npos : end - value - 2);
}

const wchar_t kFaultsLab[] = L"crashlab_faults.exe";

// Where the faults variant keeps its reports: beside it, or, when that file cannot be written,
// in the user's application-data folder under the program's name.
std::wstring BugFile() { return LabDirectory() + L"crashlab_faults.txt"; }
std::wstring AppDataBugFile(const std::wstring &program = L"crashlab_faults", const std::wstring &file = L"crashlab_faults.txt") {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    return L"";
  return std::wstring(folder) + L"\\" + program + L"\\" + file;
}

class CrashLabFaults : public ::testing::Test {
protected:
  void SetUp() override { RemoveBugFiles(); }
  void TearDown() override { RemoveBugFiles(); }
  static void RemoveBugFiles() {
    DeleteFileW(BugFile().c_str());
    DeleteFileW(AppDataBugFile().c_str());
  }
};

bool IsAccessViolation(const std::string &caught) { return caught.rfind("EAccessViolation|Access violation at", 0) == 0; }

TEST_F(CrashLabFaults, EightThreadsFaultingAtOnceAreAllReportedOneAfterTheOther) {
  LabRun run = RunLab("threads8", "continue", kFaultsLab, 120000);
  EXPECT_TRUE(run.Has("threads ready=8 ended=1 faulted=8")) << run.Find("threads ");
  std::vector<std::string> caught = run.Caught();
  ASSERT_EQ(caught.size(), 8u) << "every fault is shown";
  for (const std::string &c : caught) {
    EXPECT_TRUE(IsAccessViolation(c)) << c;
    EXPECT_NE(c.find("source=" + std::to_string(kThreadFrame) + "|continue=1|thread=other"), std::string::npos) << c;
  }
  // The show steps never overlap: each one is left before the next is entered.
  EXPECT_FALSE(run.Has("overlap"));
  std::string order;
  for (const std::string &l : run.lines)
    if (l == "enter" || l == "leave")
      order += l == "enter" ? '[' : ']';
  EXPECT_EQ(order, "[][][][][][][][]");
  EXPECT_TRUE(run.Has("end 8")) << "the program goes on after the eight reports";
  EXPECT_EQ(run.exitCode, 0u);

  std::vector<std::string> reports = Reports(ReadFile(BugFile()));
  ASSERT_EQ(reports.size(), 8u) << "every report reaches the bug report file";
  std::set<std::string> numbers;
  for (const std::string &r : reports) {
    EXPECT_EQ(Field(r, "exception class"), "EAccessViolation");
    numbers.insert(Field(r, "exception number"));
  }
  EXPECT_EQ(numbers.size(), 8u) << "eight different exceptions, not one report written eight times";
}

TEST_F(CrashLabFaults, FailuresInsideTheHandlingAreRecordedAndTheReportStillGoesOut) {
  // A report plug-in faults while the report is composed, and the show step throws.
  LabRun run = RunLab("internal", "continue", kFaultsLab, 60000);
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_TRUE(IsAccessViolation(run.Caught()[0])) << run.Caught()[0];
  EXPECT_TRUE(run.Has("end 1")) << "the program goes on: the exception could continue";
  EXPECT_EQ(run.exitCode, 0u);

  std::string file = ReadFile(BugFile());
  std::vector<std::string> reports = Reports(file);
  ASSERT_EQ(reports.size(), 1u) << "the report is saved although the show step failed";
  EXPECT_EQ(Field(reports[0], "exception class"), "EAccessViolation");
  EXPECT_NE(reports[0].find("lab fault"), std::string::npos) << "the plug-in's section is there";
  EXPECT_NE(reports[0].find(">> internal error in plugin"), std::string::npos) << "and records its failure";
}

// Runs a laboratory kind that uses the memory up and faults once: the fault is reported, the
// laboratory gives its memory back and goes on. The reports in the bug report file.
std::vector<std::string> ReportsOfAFaultWithTheMemoryUsedUp(const std::string &kind) {
  LabRun run = RunLab(kind, "continue", kFaultsLab, 120000);
  EXPECT_EQ(run.Caught().size(), 1u) << "the fault is reported, not turned into another failure";
  EXPECT_TRUE(!run.Caught().empty() && IsAccessViolation(run.Caught()[0]));
  EXPECT_TRUE(run.Matches(R"(released \d+ blocks exhausted=1)")) << run.Find("released ");
  EXPECT_TRUE(run.Has("end 1"));
  EXPECT_EQ(run.exitCode, 0u);
  return Reports(ReadFile(BugFile()));
}

// The laboratory reserves every free range of its address space and takes what is left of the
// heap, then faults. The reserve must go back before the fault mapping or the exception object
// needs the heap: the C++ runtime's own fallback would recurse until the stack overflows.
TEST_F(CrashLabFaults, FaultWithTheMemoryUsedUpIsReportedFromTheEmergencyReserve) {
  // A 64-bit address space (128 TiB) is not used up by the laboratory's 16 Ki reservations; and
  // under Wine it is shared with Wine's own Linux side, whose threads then cannot end (glibc
  // cannot load libgcc_s to unwind them) and take the process down before the fault. The PE32
  // tree covers this path.
  if (sizeof(void *) == 8)
    GTEST_SKIP() << "the laboratory cannot use up a 64-bit address space";
  std::vector<std::string> reports = ReportsOfAFaultWithTheMemoryUsedUp("oom");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(Field(reports[0], "exception class"), "EAccessViolation");
  // The whole report, the main thread's stack too (which needs the modules' section tables, read
  // without their whole files).
  EXPECT_EQ(reports[0].find(">> internal error"), std::string::npos) << reports[0];
  const size_t thread = reports[0].find("main thread (");
  ASSERT_NE(thread, std::string::npos) << reports[0];
  const std::string stack = reports[0].substr(thread, reports[0].find("\r\n\r\n", thread) - thread);
  EXPECT_GE(std::count(stack.begin(), stack.end(), '\n'), 3) << stack;
}

TEST_F(CrashLabFaults, MemoryUsedUpAgainDuringTheHandlingStillLetsItsFailureBeThrown) {
  // The reserve went back when the handling began; a report plug-in takes all memory again and
  // asks for more. Its std::bad_alloc needs an exception object, from the heap block held last.
  std::vector<std::string> reports = ReportsOfAFaultWithTheMemoryUsedUp("oomplugin");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find(">> internal error in plugin"), std::string::npos) << reports[0];
}

TEST_F(CrashLabFaults, FaultAfterTheHeapWasDamagedIsStillReported) {
  // Block headers of the process heap and of the runtime's heap are overwritten first.
  LabRun run = RunLab("heap", "continue", kFaultsLab, 60000);
  EXPECT_TRUE(run.Has("heap damaged")) << run.Find("heap ");
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_TRUE(IsAccessViolation(run.Caught()[0])) << run.Caught()[0];
  EXPECT_TRUE(run.Has("end 1"));
  EXPECT_EQ(run.exitCode, 0u);
  std::vector<std::string> reports = Reports(ReadFile(BugFile()));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(Field(reports[0], "exception class"), "EAccessViolation");
}

TEST_F(CrashLabFaults, LockedBugReportFileSendsTheReportToTheApplicationDataFolder) {
  ASSERT_FALSE(AppDataBugFile().empty());
  const std::string earlier = "earlier content\r\n";
  HANDLE lock = CreateFileW(BugFile().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(lock, earlier.data(), DWORD(earlier.size()), &written, nullptr);
  LabRun run = RunLab("av", "continue", kFaultsLab, 60000);
  CloseHandle(lock);
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_TRUE(run.Has("end 1"));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(ReadFile(BugFile()), earlier) << "the locked file is left as it was";
  std::vector<std::string> reports = Reports(ReadFile(AppDataBugFile()));
  ASSERT_EQ(reports.size(), 1u) << "the report is in the application-data folder";
  EXPECT_EQ(Field(reports[0], "exception class"), "EAccessViolation");
}

// Whether a new file can be made in the folder.
bool AcceptsNewFiles(const std::wstring &folder) {
  HANDLE probe = CreateFileW((folder + L"probe.tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE)
    return false;
  CloseHandle(probe);
  return true;
}

void RemoveLabCopy(const std::wstring &folder) {
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW((folder + L"crashlab_faults.txt").c_str());
  DeleteFileW((folder + L"crashlab_faults.txt").c_str());
  std::wstring exe = folder + kFaultsLab;
  // The program's file may stay in use for a moment after its process has ended.
  tidewell_test::WaitUntil([&] {
    return DeleteFileW(exe.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  },
                           std::chrono::milliseconds(tidewell_test::ScaledMs(5000)));
  RemoveDirectoryW(folder.c_str());
}

TEST_F(CrashLabFaults, ReadOnlyProgramFolderSendsTheReportToTheApplicationDataFolder) {
  ASSERT_FALSE(AppDataBugFile().empty());
  const std::wstring folder = LabDirectory() + L"readonly\\";
  RemoveLabCopy(folder);
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(CopyFileW((LabDirectory() + kFaultsLab).c_str(), (folder + kFaultsLab).c_str(), FALSE));
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_READONLY);
  if (AcceptsNewFiles(folder)) {
    // Windows (and Wine) ignore the read-only attribute of folders; a folder of the report file's
    // name keeps the file from being made there all the same.
    std::cout << "[ note     ] the read-only attribute does not protect the folder here; the bug report file "
                 "is kept out by a folder of its name\n";
    ASSERT_TRUE(CreateDirectoryW((folder + L"crashlab_faults.txt").c_str(), nullptr));
  }

  std::wstring out = LabDirectory() + L"readonly.lab.txt";
  DeleteFileW(out.c_str());
  PROCESS_INFORMATION pi = Start(folder + kFaultsLab, L"av \"" + out + L"\" continue");
  DWORD exitCode = Finish(pi, 60000);
  LabRun run;
  run.lines = ReadLines(out);
  DeleteFileW(out.c_str());
  DWORD attributes = GetFileAttributesW((folder + L"crashlab_faults.txt").c_str());
  RemoveLabCopy(folder);

  EXPECT_EQ(exitCode, 0u);
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_TRUE(run.Has("end 1"));
  EXPECT_TRUE(attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
      << "no bug report file in the read-only folder";
  std::vector<std::string> reports = Reports(ReadFile(AppDataBugFile()));
  ASSERT_EQ(reports.size(), 1u) << "the report is in the application-data folder";
  EXPECT_EQ(Field(reports[0], "exception class"), "EAccessViolation");
}

// A hundred faults in a row, each followed by the reporter's restart of the program. Every run
// writes "run <n> times=<k>": n counts the runs, k the exception times the run took over from
// the one it replaced (at most ten are kept).
TEST(CrashLabRestartCycles, HundredCrashRestartCyclesKeepEveryReport) {
  // 100 by default; TIDEWELL_CRASH_CYCLES sets fewer where a cycle is slow (the test run in the
  // emulated machine, about 17 s a cycle).
  const char *cycles = std::getenv("TIDEWELL_CRASH_CYCLES");
  const int kCycles = cycles && std::atoi(cycles) > 0 ? std::atoi(cycles) : 100;
  const std::wstring bugFile = LabDirectory() + L"crashlab_cycle.txt";
  const std::wstring out = LabDirectory() + L"cycle.lab.txt";
  DeleteFileW(bugFile.c_str());
  DeleteFileW(AppDataBugFile(L"crashlab_cycle", L"crashlab_cycle.txt").c_str());
  DeleteFileW(out.c_str());

  PROCESS_INFORMATION pi =
      Start(LabDirectory() + L"crashlab_cycle.exe", L"cycle \"" + out + L"\" restart " + std::to_wstring(kCycles));
  EXPECT_EQ(Finish(pi, 60000), 2u) << "the first run ends for its restart";

  // The later runs are no children of this test: their lines show how far they have come. A run
  // that does not follow its predecessor in time fails the test instead of hanging it.
  const auto stall = std::chrono::milliseconds(tidewell_test::ScaledMs(30000));
  auto progress = std::chrono::steady_clock::now();
  size_t runs = 0;
  bool ended = false;
  std::vector<std::string> lines;
  while (!ended) {
    lines = ReadLines(out);
    size_t now = std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("run ", 0) == 0; });
    ended = std::any_of(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("end ", 0) == 0; });
    if (now != runs) {
      runs = now;
      progress = std::chrono::steady_clock::now();
    } else if (!ended && std::chrono::steady_clock::now() - progress > stall) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(ended) << "no progress after run " << runs << "; last line: " << (lines.empty() ? "" : lines.back());

  std::vector<std::string> expected;
  for (int n = 1; n <= kCycles + 1; ++n)
    expected.push_back("run " + std::to_string(n) + " times=" + std::to_string(std::min(n - 1, 10)));
  std::vector<std::string> seen;
  for (const std::string &l : lines)
    if (l.rfind("run ", 0) == 0)
      seen.push_back(l);
  EXPECT_EQ(seen, expected) << "each run follows the one before and knows of its exceptions";
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "cycles done"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "top level returned"), 0) << "every fault restarted the program";

  std::vector<std::string> reports = Reports(ReadFile(bugFile));
  EXPECT_EQ(reports.size(), size_t(kCycles)) << "every report reaches the bug report file";
  int violations = 0;
  for (const std::string &r : reports)
    violations += Field(r, "exception class") == "EAccessViolation";
  EXPECT_EQ(violations, kCycles);

  // The last run closes its result file as it ends.
  tidewell_test::WaitUntil([&] { return DeleteFileW(out.c_str()) != 0; },
                           std::chrono::milliseconds(tidewell_test::ScaledMs(10000)));
  DeleteFileW(bugFile.c_str());
}

} // namespace
