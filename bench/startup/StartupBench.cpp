// The reporter's start-up: the time from CreateProcess to "ready" (StartReporter has returned) of
// a small program that carries the tool's settings stream, against the same program without the
// stream, in which the reporter finds no settings and stays absent. Both programs lie beside this
// one; they are started alternately, a first start of each is not counted, and the medians are
// compared. Prints the medians, the reporter's own share and the figure line.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/figure/BenchFigure.h"

namespace {

constexpr int kRounds = 11;
constexpr int kActive = 10, kAbsent = 11; // the probe's exit codes

// Waits are stretched in slow environments (an emulated machine sets the scale).
DWORD Stretched(DWORD milliseconds) {
  char text[16] = {};
  const DWORD n = GetEnvironmentVariableA("TIDEWELL_TEST_TIME_SCALE", text, sizeof text);
  const int scale = n > 0 && n < sizeof text ? std::atoi(text) : 1;
  return milliseconds * DWORD(std::clamp(scale, 1, 100));
}

std::wstring BesideThisProgram(const wchar_t *name) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + name;
}

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

// Starts the probe, returns the seconds until it signalled "ready", or a negative value when it
// did not start, did not get ready, or exited otherwise than expected.
double TimeStart(const std::wstring &probe, int expectedExit) {
  static int serial = 0;
  const std::string eventName =
      "TidewellStartupBench." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++serial);
  HANDLE ready = CreateEventA(nullptr, FALSE, FALSE, eventName.c_str());
  if (!ready)
    return -1;
  std::wstring commandLine = L"\"" + probe + L"\" " + std::wstring(eventName.begin(), eventName.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(probe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "startup_bench: cannot start %ls (error %lu)\n", probe.c_str(), GetLastError());
    CloseHandle(ready);
    return -1;
  }
  HANDLE waits[2] = {ready, process.hProcess};
  const DWORD which = WaitForMultipleObjects(2, waits, FALSE, Stretched(20000));
  QueryPerformanceCounter(&end);
  double result = which == WAIT_OBJECT_0 ? Seconds(start, end) : -1;
  if (which != WAIT_OBJECT_0)
    std::fprintf(stderr, "startup_bench: %ls %s\n", probe.c_str(),
                 which == WAIT_OBJECT_0 + 1 ? "exited before it was ready" : "did not get ready in time");
  if (WaitForSingleObject(process.hProcess, Stretched(20000)) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "startup_bench: %ls did not exit; ended\n", probe.c_str());
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, Stretched(5000));
    result = -1;
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  if (result >= 0 && int(exitCode) != expectedExit) {
    std::fprintf(stderr, "startup_bench: %ls exited with %lu, expected %d (reporter %s)\n", probe.c_str(), exitCode,
                 expectedExit, expectedExit == kActive ? "active" : "absent");
    result = -1;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(ready);
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

} // namespace

int main() {
  const std::wstring withStream = BesideThisProgram(L"startup_probe.exe");
  const std::wstring withoutStream = BesideThisProgram(L"startup_probe_bare.exe");
  // First starts fill the caches; not counted.
  if (TimeStart(withStream, kActive) < 0 || TimeStart(withoutStream, kAbsent) < 0)
    return 1;
  std::vector<double> ours, baseline;
  for (int round = 0; round < kRounds; ++round) {
    const double a = TimeStart(withStream, kActive);
    const double b = TimeStart(withoutStream, kAbsent);
    if (a < 0 || b < 0)
      return 1;
    ours.push_back(a);
    baseline.push_back(b);
  }
  const double withMs = Median(ours) * 1e3, withoutMs = Median(baseline) * 1e3;
  std::printf("process start to ready, median of %d starts each\n", kRounds);
  std::printf("without a settings stream (reporter absent): %8.2f ms\n", withoutMs);
  std::printf("with the tool's settings stream:             %8.2f ms  (reporter's share %.2f ms)\n", withMs,
              withMs - withoutMs);
  kx::bench::PrintFigure("reporter start-up (process start to ready)", withMs, withoutMs, "ms",
                         "the same exe without a settings stream");
  return 0;
}
