// Runs the examples as a user gets them: each exe copied alone into an empty folder (its settings
// and debug information are inside it), started with a request, and its bug report read back.
// The crashed thread's section must name the failing function with its unit and line.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/support/TestTime.h"

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

struct ExampleRun {
  DWORD exitCode = 99;
  std::string report; // bugreport.txt, empty when none was written

  // The crashed thread's section: the first one after the header.
  std::string CrashedThread() const {
    size_t start = report.find("\r\n\r\n");
    if (start == std::string::npos)
      return {};
    start += 4;
    size_t end = report.find("\r\n\r\n", start);
    return report.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }
  std::string Header(const std::string &name) const {
    std::smatch m;
    const std::regex line("(^|\n)" + name + " *: ([^\r\n]*)");
    return std::regex_search(report, m, line) ? m[2].str() : "(no " + name + ")";
  }
};

// Copies the example alone into a fresh folder, runs it with the request and reads its report.
ExampleRun RunExample(const std::wstring &exeName, const std::wstring &request) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"kx-example-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount()) + L"-" + request;
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring exe = folder + L"\\" + exeName;
  ExampleRun run;
  if (!CopyFileW((OwnFolder() + exeName).c_str(), exe.c_str(), FALSE)) {
    ADD_FAILURE() << "cannot copy the example";
    return run;
  }
  std::wstring command = L"\"" + exe + L"\" " + request;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
    ADD_FAILURE() << "cannot start the example";
    return run;
  }
  if (WaitForSingleObject(pi.hProcess, tidewell_test::ScaledMs(60000)) == WAIT_OBJECT_0)
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
  else
    TerminateProcess(pi.hProcess, 99);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::ifstream in(std::string(folder.begin(), folder.end()) + "\\bugreport.txt", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  run.report = text.str();
  return run;
}

// A call-stack line of the section: module, unit, line and function as the report writes them.
bool Names(const std::string &section, const std::string &module, const std::string &unit, int line,
           const std::string &function) {
  const std::regex frame("(^|\n)[0-9a-f]{8}(?:[0-9a-f]{8})? \\+[0-9a-f]+ " + module + " +" + unit + " +" + std::to_string(line) +
                         " +\\+\\d+ " + function + "\r");
  return std::regex_search(section, frame);
}

TEST(Examples, ConsoleUncaughtExceptionNamesTheThrowingFunction) {
  ExampleRun run = RunExample(L"console_example.exe", L"throw");
  ASSERT_FALSE(run.report.empty()) << "no bug report, exit code " << run.exitCode;
  EXPECT_EQ(run.Header("exception class"), "std::runtime_error");
  EXPECT_EQ(run.Header("exception message"), "the station does not answer.");
  std::string crashed = run.CrashedThread();
  EXPECT_EQ(crashed.rfind("main thread", 0), 0u) << crashed;
  EXPECT_TRUE(Names(crashed, "console_example\\.exe", "Station", STATION_THROW_LINE, "ReadInterval")) << crashed;
  EXPECT_TRUE(Names(crashed, "console_example\\.exe", "main", MAIN_READ_LINE, "main")) << crashed;
  EXPECT_NE(run.exitCode, 0u);
}

TEST(Examples, ConsoleAccessViolationNamesTheFaultingLine) {
  ExampleRun run = RunExample(L"console_example.exe", L"fault");
  ASSERT_FALSE(run.report.empty()) << "no bug report, exit code " << run.exitCode;
  EXPECT_EQ(run.Header("exception class"), "EAccessViolation");
  EXPECT_NE(run.Header("exception message").find("Write of address $0"), std::string::npos) << run.report;
  EXPECT_TRUE(Names(run.CrashedThread(), "console_example\\.exe", "Station", STATION_STORE_LINE, "StoreReading"))
      << run.CrashedThread();
}

TEST(Examples, ConsoleExceptionInAStdThread) {
  ExampleRun run = RunExample(L"console_example.exe", L"thread");
  ASSERT_FALSE(run.report.empty()) << "no bug report, exit code " << run.exitCode;
  EXPECT_EQ(run.Header("exception class"), "std::runtime_error");
  std::string crashed = run.CrashedThread();
  EXPECT_EQ(crashed.rfind("thread $", 0), 0u) << crashed; // not the main thread
  EXPECT_TRUE(Names(crashed, "console_example\\.exe", "Station", STATION_THROW_LINE, "ReadInterval")) << crashed;
}

TEST(Examples, WindowProgramExceptionInAClick) {
  ExampleRun run = RunExample(L"gui_example.exe", L"throw");
  ASSERT_FALSE(run.report.empty()) << "no bug report, exit code " << run.exitCode;
  EXPECT_EQ(run.Header("exception class"), "std::runtime_error");
  EXPECT_EQ(run.Header("exception message"), "the archive is missing.");
  EXPECT_TRUE(Names(run.CrashedThread(), "gui_example\\.exe", "Logger", LOGGER_THROW_LINE, "OpenArchive"))
      << run.CrashedThread();
}

TEST(Examples, WindowProgramAccessViolation) {
  ExampleRun run = RunExample(L"gui_example.exe", L"fault");
  ASSERT_FALSE(run.report.empty()) << "no bug report, exit code " << run.exitCode;
  EXPECT_EQ(run.Header("exception class"), "EAccessViolation");
  EXPECT_TRUE(Names(run.CrashedThread(), "gui_example\\.exe", "Logger", LOGGER_CLEAR_LINE, "ClearRecord"))
      << run.CrashedThread();
}

TEST(Examples, WindowProgramExceptionInAThreadLetsTheProgramGoOn) {
  ExampleRun run = RunExample(L"gui_example.exe", L"thread");
  ASSERT_FALSE(run.report.empty()) << "no bug report, exit code " << run.exitCode;
  EXPECT_EQ(run.Header("exception class"), "std::runtime_error");
  std::string crashed = run.CrashedThread();
  EXPECT_EQ(crashed.rfind("thread $", 0), 0u) << crashed;
  EXPECT_TRUE(Names(crashed, "gui_example\\.exe", "Logger", LOGGER_THROW_LINE, "OpenArchive")) << crashed;
  // The thread's frame caught it: the window went on and closed itself.
  EXPECT_EQ(run.exitCode, 0u);
}

} // namespace

namespace {

TEST(PlainProgram, StackOverflowIsReported) {
  ExampleRun run = RunExample(L"plain_program.exe", L"overflow");
  ASSERT_FALSE(run.report.empty()) << "no bug report, exit code " << run.exitCode;
  EXPECT_EQ(run.Header("exception message"), "Stack overflow.");
  std::string crashed = run.CrashedThread();
  EXPECT_EQ(crashed.rfind("main thread", 0), 0u) << crashed;
  EXPECT_NE(crashed.find("Recurse"), std::string::npos) << crashed;
  EXPECT_EQ(run.exitCode, 1u);
}

TEST(PlainProgram, FaultInSystemCodeNamesTheCaller) {
  ExampleRun run = RunExample(L"plain_program.exe", L"system");
  ASSERT_FALSE(run.report.empty()) << "no bug report, exit code " << run.exitCode;
  EXPECT_NE(run.Header("exception message").find("Access violation"), std::string::npos) << run.report;
  EXPECT_NE(run.CrashedThread().find("MeasureLabel"), std::string::npos) << run.CrashedThread();
  EXPECT_EQ(run.exitCode, 1u);

  run = RunExample(L"plain_program.exe", L"createthread");
  ASSERT_FALSE(run.report.empty()) << "no bug report, exit code " << run.exitCode;
  EXPECT_NE(run.Header("exception message").find("Access violation"), std::string::npos) << run.report;
  std::string crashed = run.CrashedThread();
  EXPECT_EQ(crashed.rfind("thread $", 0), 0u) << crashed;
  EXPECT_NE(crashed.find("Sampler"), std::string::npos) << crashed;
}

TEST(PlainProgram, TerminateIsReported) {
  ExampleRun run = RunExample(L"plain_program.exe", L"terminate");
  ASSERT_FALSE(run.report.empty()) << "no bug report, exit code " << run.exitCode;
  EXPECT_EQ(run.Header("exception message"), "Abnormal program termination.");
  EXPECT_EQ(run.exitCode, 1u);
}

} // namespace
