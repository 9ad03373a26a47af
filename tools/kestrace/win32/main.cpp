// kestrace: asks a running Tidewell for a bug report of its current state, without stopping it.
// The report is made inside that process by its kesTraceProcess export, on a thread this tool
// starts there, and printed to standard output. See TraceCommand.h for the command line.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/kestrace/TraceCommand.h"
#include "tools/kestrace/win32/RemoteTrace.h"

namespace {

void WriteError(const std::string &text) {
  std::fputs(("kestrace: " + text + "\n").c_str(), stderr);
  std::fflush(stderr);
}

// The report on standard output: on a console as text of the system code page, into a file or pipe
// byte for byte; followed by a line break.
void WriteReport(std::string report) {
  report += "\r\n";
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    int n = MultiByteToWideChar(CP_ACP, 0, report.data(), int(report.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, report.data(), int(report.size()), wide.data(), n);
    for (size_t done = 0; done < wide.size();) {
      DWORD written = 0;
      const DWORD chunk = DWORD(std::min<size_t>(wide.size() - done, 16384));
      if (!WriteConsoleW(out, wide.data() + done, chunk, &written, nullptr) || written == 0)
        return;
      done += written;
    }
    return;
  }
  for (size_t done = 0; done < report.size();) {
    DWORD written = 0;
    const DWORD chunk = DWORD(std::min<size_t>(report.size() - done, 1 << 20));
    if (!WriteFile(out, report.data() + done, chunk, &written, nullptr) || written == 0)
      return;
    done += written;
  }
}

} // namespace

int wmain(int argc, wchar_t **argv) {
  using namespace kestrace;
  std::vector<std::wstring> args(argv + 1, argv + argc);
  std::string error;
  std::optional<TraceRequest> request = ParseTraceCommand(args, error);
  if (!request) {
    WriteError(error);
    std::fputs(UsageText(), stderr);
    return kExitUsage;
  }
  if (request->help) {
    std::fputs(UsageText(), stdout);
    return kExitReport;
  }
  DWORD processId = request->processId;
  if (!processId) {
    std::vector<DWORD> ids = ProcessesNamed(request->processName);
    std::string name(request->processName.begin(), request->processName.end());
    if (ids.empty()) {
      WriteError("no running process named " + name);
      return kExitNoProcess;
    }
    if (ids.size() > 1) {
      std::string list;
      for (DWORD id : ids)
        list += (list.empty() ? "" : ", ") + std::to_string(id);
      WriteError(std::to_string(ids.size()) + " processes are named " + name + " (ids " + list +
                 "); give the process id");
      return kExitNoProcess;
    }
    processId = ids[0];
  }
  RemoteTraceResult result =
      TraceRemoteProcess(processId, request->bufSize, request->timeoutSeconds * 1000, request->clipboard);
  if (!result.report.empty())
    WriteReport(result.report);
  if (!result.message.empty()) {
    if (result.code == kExitReport && !request->clipboard)
      WriteError(result.message); // a note about a printed report
    else if (result.code == kExitReport)
      std::fputs((result.message + "\n").c_str(), stdout);
    else
      WriteError(result.message);
  }
  return result.code;
}
