// Completing the bug report of a process of 21 threads (20 waiting ones and the main one), composed
// inline over the live facts. Baseline: capturing the same threads alone (open, suspend, context,
// stack region), the floor of what a report of them costs. Measured: a whole report (header,
// sections, completion, text). Prints the median of several rounds and the ratio to the baseline.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/figure/BenchFigure.h"
#include "crash/capture/exception/KXHandlers.h"
#include "crash/capture/threads/win32/ThreadRegistry.h"
#include "crash/report/composition/ReportComposer.h"
#include "crash/report/composition/win32/LiveReportFacts.h"
#include "runtime/Exception.h"
#include "tests/crash/capture/exception/FakeHost.h"

using namespace kx;
using namespace kx::test;

namespace {

constexpr int kWaitingThreads = 20; // and the main thread: 21

class BenchHost : public FakeHost {
public:
  using FakeHost::FakeHost;
  IKXReportComposer *report = nullptr;
  IKXReportComposer &ReportComposer() override { return *report; }
};

DWORD WINAPI Wait(void *stop) {
  WaitForSingleObject(static_cast<HANDLE>(stop), INFINITE);
  return 0;
}

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

template <class Fn> double Median(int rounds, Fn fn) {
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    fn();
    QueryPerformanceCounter(&b);
    times.push_back(Seconds(a, b));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

} // namespace

int main() {
  JoinThreadRegistry();
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<HANDLE> threads;
  for (int i = 0; i < kWaitingThreads; ++i) {
    DWORD id = 0;
    threads.push_back(CreateThread(nullptr, 0, &Wait, stop, 0, &id));
    SetThreadName(id, "worker " + std::to_string(i));
  }

  FakePlatform platform;
  platform.streams[kExe] = StreamBuilder().Bool("PlWaitBox", false).End();
  auto context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
  BenchHost host(CreateModuleSettings(context, kExe));
  KXLiveReportFacts facts;
  KXReportComposer composer(facts);
  host.report = &composer;
  host.handlingThread = false;
  SetExceptionHost(&host);
  EConvertError error("'abc' is not a valid integer value");

  const int rounds = 9;
  size_t sections = 0, length = 0;
  const size_t threadCount = facts.ThreadIds().size();
  double baseline = Median(rounds, [&] {
    for (uint32_t id : facts.ThreadIds()) {
      KXThreadCapture capture;
      facts.CaptureThread(id, nullptr, capture);
    }
  });
  double report = Median(rounds, [&] {
    KXCaughtException c;
    c.exceptObject = KXExceptObject::Of(error);
    c.threadId = GetCurrentThreadId();
    auto e = CreateExceptionObject(c);
    std::string text = e->GetBugReport(true);
    sections = size_t(e->GetBugReportSections()->GetItemCount());
    length = text.size();
  });

  SetEvent(stop);
  for (HANDLE t : threads) {
    WaitForSingleObject(t, 5000);
    CloseHandle(t);
  }
  SetExceptionHost(nullptr);
  std::printf("%zu threads of the process: %zu sections, report of %zu bytes\n", threadCount, sections, length);
  std::printf("baseline (capture the threads): %.3f ms\n", baseline * 1000);
  std::printf("complete report:                %.3f ms  (%.1fx baseline)\n", report * 1000, report / baseline);
  kx::bench::PrintFigure("bug report, 21 threads", report * 1000, baseline * 1000, "ms", "capturing the threads alone");
  return 0;
}
