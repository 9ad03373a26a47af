// Drives the real TidewellSim.exe from another process through window messages: connect to
// the simulated station, read its interval, set a new one, read it back, and check every
// report exchanged in the station's traffic log.
#include "MainUnit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring ExePath;

std::wstring WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/')
    path = "Z:" + path; // Wine's drive for the Unix root
  for (char &c : path)
    if (c == '/')
      c = '\\';
  return std::wstring(path.begin(), path.end());
}

// Messages to the other process time out instead of hanging the test with a hung tool.
LRESULT Send(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, msg, wParam, lParam, SMTO_NORMAL, 10000, &result);
  return LRESULT(result);
}

std::string Text(HWND window) {
  wchar_t buffer[256] = {};
  Send(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer));
  std::wstring w(buffer);
  return std::string(w.begin(), w.end());
}

template <class Pred> bool WaitFor(Pred pred, int ms = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (pred())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return pred();
}

class SimStationEndToEnd : public ::testing::Test {
protected:
  void SetUp() override {
    std::wstring dir = ExePath.substr(0, ExePath.find_last_of(L'\\') + 1);
    LogPath = dir + L"TidewellSim.traffic.log";
    DeleteFileW(LogPath.c_str());
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    std::wstring command = L"\"" + ExePath + L"\"";
    ASSERT_TRUE(CreateProcessW(ExePath.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(),
                               &si, &Process));
    // The window exists before its controls: wait for the last one created.
    ASSERT_TRUE(WaitFor(
        [&] {
          Form = OwnWindow();
          Panel = Form ? GetDlgItem(Form, idPanel1) : nullptr;
          return Panel && GetDlgItem(Panel, idLblErrorMessage) && IsWindowVisible(Form);
        },
        30000));
  }
  void TearDown() override {
    if (Process.hProcess) {
      if (WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(Process.hProcess, 3);
      CloseHandle(Process.hProcess);
      CloseHandle(Process.hThread);
    }
  }
  // The main window of the process this test started (not of another instance).
  HWND OwnWindow() {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"TForm1", L"Tidewell Interval"); w;
         w = FindWindowExW(nullptr, w, L"TForm1", L"Tidewell Interval")) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == Process.dwProcessId)
        return w;
    }
    return nullptr;
  }
  HWND Control(int id) {
    HWND h = GetDlgItem(Form, id);
    return h ? h : GetDlgItem(Panel, id);
  }
  void Click(int id) { Send(Control(id), BM_CLICK, 0, 0); }
  bool Enabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }
  std::vector<std::string> LogLines() {
    std::ifstream in(std::string(LogPath.begin(), LogPath.end()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    return lines;
  }

  PROCESS_INFORMATION Process{};
  std::wstring LogPath;
  HWND Form = nullptr, Panel = nullptr;
};

} // namespace

TEST_F(SimStationEndToEnd, ConnectReadSetAndReadBack) {
  EXPECT_EQ(Text(Control(idLblStatus)), "Status: DISCONNECTED");
  EXPECT_FALSE(Enabled(idBtnSet));

  // The controller's first enumeration runs once the message loop does.
  ASSERT_TRUE(WaitFor([&] {
    Click(idBtnConnect);
    return Text(Control(idLblStatus)) == "Status: CONNECTED";
  }));
  EXPECT_FALSE(Enabled(idBtnConnect));
  ASSERT_TRUE(WaitFor([&] { return Text(Control(idEdtCurrent)) == "30"; })) << Text(Control(idEdtCurrent));
  ASSERT_TRUE(WaitFor([&] { return Enabled(idBtnSet) && Enabled(idBtnRefresh); }));

  Send(Control(idEdtNew), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"240"));
  Click(idBtnSet);
  ASSERT_TRUE(WaitFor([&] { return Enabled(idBtnSet) && Enabled(idBtnRefresh) && Enabled(idBtnExit); }));
  EXPECT_EQ(Text(Control(idEdtCurrent)), "30") << "a set does not read back";
  EXPECT_EQ(Text(Control(idLblErrorMessage)), "");

  Click(idBtnRefresh);
  ASSERT_TRUE(WaitFor([&] { return Text(Control(idEdtCurrent)) == "240"; })) << Text(Control(idEdtCurrent));
  ASSERT_TRUE(WaitFor([&] { return Enabled(idBtnExit); }));

  std::vector<std::string> expected = {
      "out 00 a1 00 10 20 a1 00 10 20", // read after Connect
      "in  00 1e 00 00 00 00 00 00 00",
      "in  00 00 00 00 00 00 00 00 00",
      "in  00 00 00 00 00 00 00 00 00",
      "in  00 00 00 00 00 00 00 00 00",
      "out 00 a2 00 10 20 a2 f0 00 20", // Set 240
      "in  00 a5 a5 a5 a5 a5 a5 a5 a5",
      "out 00 a2 00 1a 20 a2 aa 00 20", // the flag
      "in  00 a5 a5 a5 a5 a5 a5 a5 a5",
      "out 00 a1 00 10 20 a1 00 10 20", // Read
      "in  00 f0 00 00 00 00 00 00 00",
  };
  auto lines = LogLines();
  ASSERT_GE(lines.size(), expected.size() + 3);
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(lines[i], expected[i]) << "line " << i;

  Click(idBtnExit);
  ASSERT_EQ(WaitForSingleObject(Process.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(Process.hProcess, &code);
  EXPECT_EQ(code, 0u);
}

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    fprintf(stderr, "usage: %s PATH-TO-TidewellSim.exe\n", argv[0]);
    return 2;
  }
  ExePath = WindowsPath(argv[1]);
  return RUN_ALL_TESTS();
}
