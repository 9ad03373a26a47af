// The reporter in the real tool: an empty New field makes StrToInt fail inside the Set button's
// handler; the exception reaches the reporter through the application-level handler, which shows
// its window; continue, restart and close each do what they say.
#include "tests/e2e/ToolDriver.h"

#include <fstream>
#include <sstream>

#include "tests/support/MangledNames.h"

using namespace tidewell_e2e;

namespace {

// The crash dialog's controls: the message, and the buttons at 100 + their number (continue 4,
// restart 5, close 6).
constexpr int kMessage = 200, kContinue = 104, kRestart = 105, kClose = 106;

class ReporterEndToEnd : public ToolProcessTest {
protected:
  // Connects to the simulated station and sets an empty interval; returns the reporter's window.
  HWND ProvokeEmptyField() {
    if (!WaitFor([&] {
          Click(idBtnConnect);
          return Text(Control(idLblStatus)) == "Status: CONNECTED";
        }))
      return nullptr;
    if (!WaitFor([&] { return Enabled(idBtnSet); }))
      return nullptr;
    Send(Control(idEdtNew), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    // The click returns only when the handler has returned, i.e. after the report: post it.
    PostMessageW(Control(idBtnSet), BM_CLICK, 0, 0);
    HWND box = nullptr;
    WaitFor([&] { return (box = OwnReporterWindow()) != nullptr && IsWindowVisible(box); }, 20000);
    return box;
  }
  HWND OwnReporterWindow() {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"KestrelixWndClass", nullptr); w;
         w = FindWindowExW(nullptr, w, L"KestrelixWndClass", nullptr)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == Process.dwProcessId)
        return w;
    }
    return nullptr;
  }
  DWORD ExitCode() {
    if (WaitForSingleObject(Process.hProcess, tidewell_test::ScaledMs(30000)) != WAIT_OBJECT_0)
      return 99;
    DWORD code = 98;
    GetExitCodeProcess(Process.hProcess, &code);
    return code;
  }
};

TEST_F(ReporterEndToEnd, ContinueLeavesTheWindowWorking) {
  HWND box = ProvokeEmptyField();
  ASSERT_TRUE(box);
  std::string message = Text(GetDlgItem(box, kMessage));
  EXPECT_NE(message.find("An error occurred in the application."), std::string::npos) << message;
  EXPECT_EQ(Text(GetDlgItem(box, kContinue)), "continue application");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(box, kContinue))) << "can continue";
  PostMessageW(GetDlgItem(box, kContinue), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return OwnReporterWindow() == nullptr; }));
  // The tool goes on: the station is still there and answers a read.
  ASSERT_TRUE(WaitFor([&] { return Enabled(idBtnRefresh); }));
  Click(idBtnRefresh);
  EXPECT_TRUE(WaitFor([&] { return Text(Control(idEdtCurrent)) == "30"; }));
  EXPECT_EQ(WaitForSingleObject(Process.hProcess, 0), WAIT_TIMEOUT);
}

TEST_F(ReporterEndToEnd, CloseEndsWithExitCodeOne) {
  const std::wstring reportPath = ExePath.substr(0, ExePath.find_last_of(L'\\') + 1) + L"bugreport.txt";
  DeleteFileW(reportPath.c_str());
  HWND box = ProvokeEmptyField();
  ASSERT_TRUE(box);
  PostMessageW(GetDlgItem(box, kClose), BM_CLICK, 0, 0);
  EXPECT_EQ(ExitCode(), 1u);

  // The report saved on the way out: the main thread's trace starts where StrToInt failed and
  // goes straight on to the Set button's handler that called it, in calling order.
  std::ifstream in(std::string(reportPath.begin(), reportPath.end()), std::ios::binary);
  ASSERT_TRUE(in) << "no bugreport.txt beside the exe";
  std::stringstream content;
  content << in.rdbuf();
  const std::string report = content.str();
  EXPECT_EQ(tidewell_test::FirstMangledName(report), "");
  const size_t section = report.find("\r\nmain thread ($");
  ASSERT_NE(section, std::string::npos) << report;
  std::istringstream lines(report.substr(report.find("\r\n", section + 2) + 2));
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_NE(first.find(" TidewellSim.exe StrToInt "), std::string::npos) << first;
  EXPECT_TRUE(first.ends_with(" StrToInt\r")) << first;
  EXPECT_NE(second.find(" TidewellSim.exe MainUnit "), std::string::npos) << second;
  EXPECT_TRUE(second.ends_with(" TForm1.btnSetClick\r")) << second;

  // The registers of the exe's own architecture, and the disassembly of the failing function
  // with its marked line.
  const bool x64 = sizeof(void *) == 8;
  const size_t registers = report.find("\r\ncpu registers:\r\n");
  ASSERT_NE(registers, std::string::npos) << report;
  EXPECT_EQ(report.compare(registers + 18, 6, x64 ? "rax = " : "eax = "), 0) << report.substr(registers, 200);
  EXPECT_NE(report.find(x64 ? "\r\nrip = " : "\r\neip = ", registers), std::string::npos);
  const size_t disassembly = report.find("\r\ndisassembling:\r\n");
  ASSERT_NE(disassembly, std::string::npos) << report;
  // The marked instruction: "00401234    > call ..." (in a formatted listing the mark may open the line).
  const size_t sectionEnd = report.find("\r\n\r\n", disassembly + 2);
  const std::string listing = report.substr(disassembly, sectionEnd - disassembly);
  EXPECT_TRUE(listing.find("    > ") != std::string::npos || listing.find("\r\n>") != std::string::npos) << listing;
}

TEST_F(ReporterEndToEnd, RestartEndsWithExitCodeTwoAndStartsANewInstance) {
  HWND box = ProvokeEmptyField();
  ASSERT_TRUE(box);
  DWORD oldPid = Process.dwProcessId;
  PostMessageW(GetDlgItem(box, kRestart), BM_CLICK, 0, 0);
  EXPECT_EQ(ExitCode(), 2u);
  // The new instance shows its main window.
  DWORD newPid = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        for (HWND w = FindWindowExW(nullptr, nullptr, L"TForm1", nullptr); w;
             w = FindWindowExW(nullptr, w, L"TForm1", nullptr)) {
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          if (pid != oldPid && IsWindowVisible(w)) {
            newPid = pid;
            return true;
          }
        }
        return false;
      },
      30000));
  if (HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, newPid)) {
    TerminateProcess(p, 3);
    WaitForSingleObject(p, tidewell_test::ScaledMs(10000));
    CloseHandle(p);
  }
}

} // namespace
