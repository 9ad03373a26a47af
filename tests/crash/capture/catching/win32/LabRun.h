#pragma once
// Runs the crash laboratory (CrashLab.cpp) as a separate process and reads back the lines it
// wrote. CRASHLAB names the test's default laboratory executable beside the test.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/support/TestTime.h"

#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace crashlab {

inline std::wstring LabDirectory() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

struct LabRun {
  DWORD exitCode = 99;
  DWORD processId = 0;
  std::vector<std::string> lines;
  bool Has(const std::string &line) const {
    for (const std::string &l : lines)
      if (l == line)
        return true;
    return false;
  }
  bool Matches(const std::string &pattern) const {
    const std::regex re(pattern);
    for (const std::string &l : lines)
      if (std::regex_match(l, re))
        return true;
    return false;
  }
  std::string Find(const std::string &prefix) const {
    for (const std::string &l : lines)
      if (l.rfind(prefix, 0) == 0)
        return l;
    return "(no line starting with \"" + prefix + "\")";
  }
  std::vector<std::string> Caught() const {
    std::vector<std::string> caught;
    for (const std::string &l : lines)
      if (l.rfind("caught ", 0) == 0)
        caught.push_back(l.substr(7));
    return caught;
  }
};

inline std::vector<std::string> ReadLines(const std::wstring &path) {
  std::ifstream in(std::string(path.begin(), path.end()));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

inline PROCESS_INFORMATION Start(const std::wstring &exe, const std::wstring &args) {
  std::wstring command = L"\"" + exe + L"\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, LabDirectory().c_str(), &si,
                      &pi))
    ADD_FAILURE() << "cannot start the laboratory";
  return pi;
}

inline DWORD Finish(PROCESS_INFORMATION &pi, DWORD waitMs = 30000) {
  DWORD code = 99;
  if (WaitForSingleObject(pi.hProcess, tidewell_test::ScaledMs(waitMs)) == WAIT_OBJECT_0)
    GetExitCodeProcess(pi.hProcess, &code);
  else
    TerminateProcess(pi.hProcess, 99);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

// Runs the laboratory with a kind and an action and waits for its end (at most waitMs, scaled).
inline LabRun RunLab(const std::string &kind, const std::string &action = "continue", const std::wstring &exe = L"" CRASHLAB,
                     DWORD waitMs = 30000) {
  // Named after the program too: laboratories of different tests may run at the same time.
  std::wstring out = LabDirectory() + exe.substr(0, exe.find(L'.')) + L"." + std::wstring(kind.begin(), kind.end()) +
                     L".lab.txt";
  DeleteFileW(out.c_str());
  std::wstring args = std::wstring(kind.begin(), kind.end()) + L" \"" + out + L"\" " +
                      std::wstring(action.begin(), action.end());
  PROCESS_INFORMATION pi = Start(LabDirectory() + exe, args);
  LabRun run;
  run.processId = pi.dwProcessId;
  run.exitCode = Finish(pi, waitMs);
  run.lines = ReadLines(out);
  DeleteFileW(out.c_str());
  return run;
}

} // namespace crashlab
