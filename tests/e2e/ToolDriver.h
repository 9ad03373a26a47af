#pragma once
// Driving the tool's exe from another process through window messages, with time-outs so that a
// hung tool never hangs a test.
#include "app/win32/MainUnit.h"
#include "tests/support/TestTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace tidewell_e2e {

// The tool under test, given on the command line.
inline std::wstring ExePath;

inline std::wstring WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/')
    path = "Z:" + path; // Wine's drive for the Unix root
  for (char &c : path)
    if (c == '/')
      c = '\\';
  return std::wstring(path.begin(), path.end());
}

// Messages to the other process time out instead of hanging the test with a hung tool.
inline LRESULT Send(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, msg, wParam, lParam, SMTO_NORMAL, tidewell_test::ScaledMs(10000), &result);
  return LRESULT(result);
}

inline std::string Text(HWND window) {
  wchar_t buffer[256] = {};
  Send(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer));
  std::wstring w(buffer);
  return std::string(w.begin(), w.end());
}

template <class Pred> bool WaitFor(Pred pred, unsigned ms = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(tidewell_test::ScaledMs(ms));
  while (std::chrono::steady_clock::now() < end) {
    if (pred())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return pred();
}

// Starts the tool and waits for its main window and controls; ends it after the test.
class ToolProcessTest : public ::testing::Test {
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

} // namespace tidewell_e2e
