// Runs the crash laboratory for each kind of failure and checks what the reporter caught, with
// which source and can-continue value, where the registers were taken, and how the program went
// on afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <imagehlp.h>

#include "tests/crash/capture/catching/win32/LabRun.h"
#include "tests/support/TestTime.h"

#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace crashlab;

// Sources as the reporter numbers them.
constexpr int kAbnormalTermination = 2, kApplicationHandler = 5, kSynchronize = 10, kExceptProc = 13,
              kSystemException = 14, kThreadFrame = 16;
std::string Source(int source) { return "source=" + std::to_string(source); }

TEST(CrashLab, LanguageExceptionsInAnEventHandlerContinue) {
  LabRun run = RunLab("convert");
  ASSERT_EQ(run.Caught().size(), 1u) << run.lines.size();
  EXPECT_EQ(run.Caught()[0], "EConvertError|'' is not a valid integer value.|" + Source(kApplicationHandler) +
                                 "|continue=1|thread=main|registers=elsewhere");
  EXPECT_TRUE(run.Has("end 1"));
  EXPECT_EQ(run.exitCode, 0u);

  // A class of the runtime library, thrown inside it, is caught the same way: its class and its
  // what() name it.
  run = RunLab("stdlib");
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_EQ(run.Caught()[0].substr(0, 40), "std::out_of_range|basic_string::at: __n ") << run.Caught()[0];
}

TEST(CrashLab, AbortIsSilentAndFilteredClassesAreStillShown) {
  LabRun run = RunLab("abort");
  EXPECT_TRUE(run.Caught().empty());
  EXPECT_TRUE(run.Has("end 0"));
  run = RunLab("dberror");
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_EQ(run.Caught()[0].substr(0, 34), "EDBEditError|Invalid input value.|");
}

TEST(CrashLab, FaultsCarryTheRegistersOfTheFault) {
  LabRun run = RunLab("av");
  ASSERT_EQ(run.Caught().size(), 1u);
  std::string av = run.Caught()[0];
  EXPECT_EQ(av.substr(0, 45), "EAccessViolation|Access violation at address ") << av;
  EXPECT_NE(av.find("in module 'crashlab.exe'. Write of address $0.|" + Source(kApplicationHandler) +
                    "|continue=1|thread=main|registers=fault"),
            std::string::npos)
      << av;
  EXPECT_EQ(run.exitCode, 0u);

  run = RunLab("div0");
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_EQ(run.Caught()[0],
            "EDivByZero|Division by zero.|" + Source(kApplicationHandler) + "|continue=1|thread=main|registers=fault");
}

TEST(CrashLab, StackOverflowIsReportedAndEndsTheProgram) {
  LabRun run = RunLab("overflow", "close");
  ASSERT_EQ(run.Caught().size(), 1u) << "the overflow must be reported, not kill the process silently";
  const std::string expected =
      "KesException|Stack overflow.|" + Source(kSystemException) + "|continue=0|thread=main|registers=";
  EXPECT_EQ(run.Caught()[0].substr(0, expected.size()), expected);
  EXPECT_EQ(run.exitCode, 1u);
}

TEST(CrashLab, ThreadsEndAsTheirCatchingPointSays) {
  LabRun run = RunLab("worker");
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_NE(run.Caught()[0].find(Source(kThreadFrame) + "|continue=1|thread=other|registers=fault"), std::string::npos)
      << run.Caught()[0];
  EXPECT_TRUE(run.Has("worker exit=ffffffff registered=0"));
  // The report names the failing function first, with its unit and line.
  EXPECT_TRUE(run.Matches(R"(top [0-9a-f]{8}(?:[0-9a-f]{8})? \+[0-9a-f]+ crashlab\.exe CrashLab +\d+ +\+\d+ WriteThroughNull)"))
      << run.Find("top ");

  run = RunLab("tthread");
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_EQ(run.Caught()[0], "EConvertError|'x' is not a valid integer value.|" + Source(kExceptProc) +
                                 "|continue=1|thread=other|registers=elsewhere");
  EXPECT_TRUE(run.Has("thread exit=0"));
  EXPECT_TRUE(run.Matches(R"(top [0-9a-f]{8}(?:[0-9a-f]{8})? \+[0-9a-f]+ crashlab\.exe CrashLab +\d+ +\+\d+ Worker\.Execute)"))
      << run.Find("top ");
}

TEST(CrashLab, SynchronisedCallIsReportedOnTheMainThreadAndTheWorkerGoesOn) {
  LabRun run = RunLab("sync");
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_EQ(run.Caught()[0], "Exception|raised in a synchronised call.|" + Source(kSynchronize) +
                                 "|continue=1|thread=main|registers=elsewhere");
  EXPECT_TRUE(run.Has("worker returned"));
  EXPECT_TRUE(run.Has("thread exit=0"));
}

TEST(CrashLab, NestedExceptionIsHandledAfterTheFirst) {
  LabRun run = RunLab("nested");
  ASSERT_EQ(run.Caught().size(), 2u);
  EXPECT_EQ(run.Caught()[0].substr(0, 16), "Exception|first.");
  EXPECT_EQ(run.Caught()[1].substr(0, 14), "EConvertError|");
  // Order: the first is shown, the second is raised while the main thread waits, then handled;
  // the first catching point returns last.
  std::vector<std::string> order;
  for (const std::string &l : run.lines)
    if (l.rfind("caught", 0) == 0 || l == "raising the nested one" || l == "first returned")
      order.push_back(l.substr(0, 14));
  EXPECT_EQ(order, (std::vector<std::string>{"caught Excepti", "raising the ne", "caught EConver", "first returned"}));
}

TEST(CrashLab, QuitMessageWhileWaitingIsPostedAgain) {
  LabRun run = RunLab("quit");
  EXPECT_TRUE(run.Has("quit reposted 7"));
}

TEST(CrashLab, AbnormalTerminationAndMainThreadFailuresCannotContinue) {
  LabRun run = RunLab("terminate");
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_EQ(run.Caught()[0].substr(0, 63),
            "KesException|Abnormal program termination.|" + Source(kAbnormalTermination) + "|continue=0|");
  EXPECT_EQ(run.exitCode, 1u);

  run = RunLab("main-throw", "continue");
  ASSERT_EQ(run.Caught().size(), 1u);
  EXPECT_EQ(run.Caught()[0], "KesException|raised outside the message loop.|" + Source(kExceptProc) +
                                 "|continue=0|thread=main|registers=elsewhere");
  EXPECT_EQ(run.exitCode, 1u) << "without continue the process is closed";
}

TEST(CrashLab, AutomaticCloseEndsTheProgramWithoutShowingAnything) {
  LabRun run = RunLab("convert", "continue", L"crashlab_auto.exe");
  EXPECT_TRUE(run.Has("reporter active"));
  EXPECT_TRUE(run.Caught().empty()) << "nothing is shown";
  EXPECT_FALSE(run.Has("end 0")) << "the program did not go on";
  EXPECT_EQ(run.exitCode, 1u);
}

// The automatic variant attaches a minidump: the reporter writes it into its temporary folder
// while handling the fault. A copy beside the laboratory is read by a real minidump reader on the
// build machine (crashlab_minidump_lldb).
TEST(CrashLab, FaultLeavesAMiniDumpOfTheProcess) {
  std::wstring copy = LabDirectory() + L"crashlab_auto.dmp";
  DeleteFileW(copy.c_str());
  LabRun run = RunLab("av", "continue", L"crashlab_auto.exe");
  EXPECT_EQ(run.exitCode, 1u);
  // The folder of that process: "crashlab_auto.Kestrelix.<process id>-<random>".
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring pattern = std::wstring(temp) + L"crashlab_auto.Kestrelix." + std::to_wstring(run.processId) + L"-*";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE) << "no temporary folder of the process";
  FindClose(search);
  std::wstring dump = std::wstring(temp) + found.cFileName + L"\\crashlab_auto.dmp";
  std::ifstream in(std::string(dump.begin(), dump.end()), std::ios::binary);
  char signature[4] = {};
  in.read(signature, 4);
  ASSERT_EQ(std::string(signature, 4), "MDMP") << "no minidump in the temporary folder";
  EXPECT_TRUE(CopyFileW(dump.c_str(), copy.c_str(), FALSE));
}

TEST(CrashLab, BlockedMainThreadIsReportedAfterTheTimeoutAndAgainOnlyAfterOneAndAHalfTimes) {
  // The laboratory blocks its main thread for 2 s under a watch with a timeout of 1 s.
  LabRun run = RunLab("freeze", "continue", L"crashlab_freeze.exe");
  ASSERT_GE(run.Caught().size(), 1u);
  EXPECT_EQ(run.Caught()[0].substr(0, 36), "Unknown|Unknown.|source=1|continue=1");
  std::vector<long> at;
  long blocking = -1;
  for (const std::string &l : run.lines) {
    if (l.rfind("at ", 0) == 0)
      at.push_back(std::stol(l.substr(3)));
    if (l.rfind("blocking at ", 0) == 0)
      blocking = std::stol(l.substr(12));
  }
  ASSERT_EQ(at.size(), run.Caught().size());
  ASSERT_GE(blocking, 0);
  EXPECT_GE(at[0] - blocking, 900) << "not before the timeout";
  // The report is shown when it is composed; only a machine at full speed composes it within the
  // second after the timeout.
  if (tidewell_test::TimeScale() == 1) {
    EXPECT_LE(at[0] - blocking, 2000) << "about the timeout";
  }
  for (size_t i = 1; i < at.size(); ++i)
    EXPECT_GE(at[i] - at[i - 1], 1400) << "the next report only after 1.5 times the timeout";
  EXPECT_TRUE(run.Has("end " + std::to_string(at.size())));
  EXPECT_EQ(run.exitCode, 0u);
}

TEST(CrashLab, ThreadNamingExceptionNamesTheThread) {
  LabRun run = RunLab("named");
  EXPECT_TRUE(run.Has("title lab worker (")) << (run.lines.size() > 1 ? run.lines[1] : "");
}

TEST(CrashLab, ShutdownRestoresThePatchedImportEntry) {
  LabRun run = RunLab("patches");
  EXPECT_TRUE(run.Has("reporter active"));
  EXPECT_TRUE(run.Has("patched yes"));
  EXPECT_TRUE(run.Has("restored yes"));
}

// A copy of the laboratory with a valid image checksum and then one damaged byte.
std::wstring DamagedCopy() {
  std::wstring source = LabDirectory() + L"" CRASHLAB, copy = LabDirectory() + L"crashlab_damaged.exe";
  if (!CopyFileW(source.c_str(), copy.c_str(), FALSE))
    return {};
  HANDLE file = CreateFileW(copy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
  auto *bytes = static_cast<BYTE *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  DWORD size = GetFileSize(file, nullptr), stored = 0, computed = 0;
  IMAGE_NT_HEADERS *nt = CheckSumMappedFile(bytes, size, &stored, &computed);
  nt->OptionalHeader.CheckSum = computed;
  bytes[size - 1] ^= 0x5A; // the end of the debug information: the program still runs
  UnmapViewOfFile(bytes);
  CloseHandle(mapping);
  CloseHandle(file);
  return copy;
}

struct BoxSearch {
  DWORD pid;
  HWND found;
};
BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  auto *search = reinterpret_cast<BoxSearch *>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t cls[32] = {};
  GetClassNameW(window, cls, 32);
  if (pid == search->pid && std::wstring(cls) == L"#32770" && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}
BOOL CALLBACK CollectText(HWND child, LPARAM param) {
  wchar_t text[512] = {};
  GetWindowTextW(child, text, 512);
  *reinterpret_cast<std::wstring *>(param) += text;
  return TRUE;
}

TEST(CrashLab, DamagedExecutableFailsTheChecksumTestWithExitCodeZero) {
  std::wstring copy = DamagedCopy();
  ASSERT_FALSE(copy.empty());
  std::wstring out = LabDirectory() + L"damaged.lab.txt";
  DeleteFileW(out.c_str());
  PROCESS_INFORMATION pi = Start(copy, L"convert \"" + out + L"\"");
  BoxSearch search{pi.dwProcessId, nullptr};
  for (int i = 0; i < 600 && !search.found; ++i) {
    Sleep(50);
    EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&search));
  }
  ASSERT_TRUE(search.found) << "no message box";
  std::wstring text;
  EnumChildWindows(search.found, &CollectText, reinterpret_cast<LPARAM>(&text));
  EXPECT_NE(text.find(L"crashlab_damaged.exe is damaged."), std::wstring::npos) << std::string(text.begin(), text.end());
  PostMessageW(search.found, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(Finish(pi), 0u);
  EXPECT_TRUE(ReadLines(out).empty()) << "the program must not run on";
  DeleteFileW(out.c_str());
  DeleteFileW(copy.c_str());
}

} // namespace
