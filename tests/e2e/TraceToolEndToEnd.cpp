// kestrace against the running tool: the report of the live TidewellSim.exe is printed without
// stopping it; wrong targets and command lines end with their exit codes.
#include "tests/e2e/ToolDriver.h"

#include <cstdio>
#include <regex>

using namespace tidewell_e2e;

namespace {

std::wstring TracePath; // kestrace.exe, given on the command line

struct ToolRun {
  DWORD exitCode = 99;
  std::string out, err;
};

std::string ReadWhole(const std::wstring &path) {
  std::ifstream in(std::string(path.begin(), path.end()), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs kestrace with the arguments; its standard output and error go to files beside the exe.
ToolRun RunTrace(const std::wstring &arguments) {
  ToolRun run;
  const std::wstring dir = TracePath.substr(0, TracePath.find_last_of(L'\\') + 1);
  const std::wstring outPath = dir + L"kestrace_e2e.out", errPath = dir + L"kestrace_e2e.err";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  EXPECT_NE(out, INVALID_HANDLE_VALUE);
  EXPECT_NE(err, INVALID_HANDLE_VALUE);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  std::wstring command = L"\"" + TracePath + L"\" " + arguments;
  const bool started = CreateProcessW(TracePath.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      nullptr, dir.c_str(), &si, &pi);
  EXPECT_TRUE(started) << GetLastError();
  CloseHandle(out);
  CloseHandle(err);
  if (started) {
    if (WaitForSingleObject(pi.hProcess, tidewell_test::ScaledMs(240000)) == WAIT_OBJECT_0)
      GetExitCodeProcess(pi.hProcess, &run.exitCode);
    else
      TerminateProcess(pi.hProcess, 98);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  run.out = ReadWhole(outPath);
  run.err = ReadWhole(errPath);
  return run;
}

// True when the report's header has the field with that value (names are padded to one width).
bool HasHeaderField(const std::string &report, const std::string &name, const std::string &value) {
  return std::regex_search(report.substr(0, report.find("\r\n\r\n")),
                           std::regex("(^|\r\n)" + name + " *: " + value + "(\r\n|$)"));
}

class TraceToolEndToEnd : public ToolProcessTest {};

TEST_F(TraceToolEndToEnd, PrintsTheReportOfTheRunningToolWhichGoesOn) {
  ToolRun run = RunTrace(std::to_wstring(Process.dwProcessId));
  ASSERT_EQ(run.exitCode, 0u) << run.err;
  const std::string &report = run.out;
  EXPECT_EQ(report.rfind("date/time", 0), 0u) << report.substr(0, 300);
  EXPECT_TRUE(HasHeaderField(report, "executable", "TidewellSim\\.exe")) << report;
  EXPECT_TRUE(HasHeaderField(report, "exception message", "The application seems to be frozen\\.")) << report;
  EXPECT_FALSE(HasHeaderField(report, "exception class", ".*")) << report;
  EXPECT_EQ(report.find("will be calculated soon"), std::string::npos) << report;
  // Every thread, the main thread first, with the thread that made the report.
  const size_t firstSection = report.find("\r\n\r\n");
  EXPECT_EQ(report.find("\r\n\r\nmain thread ($"), firstSection) << report;
  EXPECT_NE(report.find("\r\n\r\nKestrelix - TraceProcessThread ($"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\n\r\nKestrelix - HandleExceptionThread ($"), std::string::npos) << report;
  // The three lists in the order of the settings, the tool itself in the first two.
  const size_t modules = report.find("\r\n\r\nmodules:\r\n"), processes = report.find("\r\n\r\nprocesses:\r\n");
  ASSERT_NE(modules, std::string::npos) << report;
  ASSERT_NE(processes, std::string::npos) << report;
  EXPECT_LT(modules, processes);
  EXPECT_NE(report.find(" TidewellSim.exe ", modules), std::string::npos) << report;
  EXPECT_NE(report.find(" TidewellSim.exe ", processes), std::string::npos) << report;
  const size_t hardware = report.find("\r\n\r\nhardware:\r\n+ ");
  if (hardware != std::string::npos) {
    EXPECT_LT(processes, hardware);
  }
  EXPECT_EQ(report.substr(report.size() - 2), "\r\n");

  // The tool was not stopped and still answers; no crash dialog came up.
  EXPECT_EQ(WaitForSingleObject(Process.hProcess, 0), DWORD(WAIT_TIMEOUT));
  EXPECT_EQ(Text(Form), "Tidewell Interval");
  EXPECT_TRUE(WaitFor([&] {
    Click(idBtnConnect);
    return Text(Control(idLblStatus)) == "Status: CONNECTED";
  }));
}

TEST_F(TraceToolEndToEnd, ByExeNameIntoASmallBuffer) {
  ToolRun run = RunTrace(L"--size 4096 tidewellsim");
  // Other tests may run their own instance at the same time: a name must be unique.
  if (run.exitCode == 2) {
    EXPECT_NE(run.err.find("processes are named tidewellsim"), std::string::npos) << run.err;
    return;
  }
  ASSERT_EQ(run.exitCode, 0u) << run.err;
  EXPECT_EQ(run.out.size(), 4095u + 2u);
  EXPECT_EQ(run.out.rfind("date/time", 0), 0u);
  EXPECT_NE(run.err.find("may be cut"), std::string::npos) << run.err;
}

TEST(TraceToolCommandLine, WrongTargetsAndArguments) {
  ToolRun run = RunTrace(L"");
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_NE(run.err.find("usage: kestrace"), std::string::npos) << run.err;

  run = RunTrace(L"no-such-program-here.exe");
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.err.find("no running process named no-such-program-here.exe"), std::string::npos) << run.err;

  // A process that is no Tidewell: this test.
  run = RunTrace(std::to_wstring(GetCurrentProcessId()));
  EXPECT_EQ(run.exitCode, 3u);
  EXPECT_NE(run.err.find("has no kesTraceProcess export"), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.empty());
}

} // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 3) {
    fprintf(stderr, "usage: %s PATH-TO-TidewellSim.exe PATH-TO-kestrace.exe\n", argv[0]);
    return 2;
  }
  ExePath = WindowsPath(argv[1]);
  TracePath = WindowsPath(argv[2]);
  return RUN_ALL_TESTS();
}
