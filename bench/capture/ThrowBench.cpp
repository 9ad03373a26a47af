// Throwing and catching an exception 40 calls deep, as an event handler of the tool does.
// Baseline: the same throw made past the throw recorder (straight to the C++ runtime's own
// __cxa_throw, which the linker names __real___cxa_throw). Measured: a plain throw, which the
// recorder sees and for which it prepares the stack's candidates; and the preparation alone.
// Prints the medians of several rounds and their ratios to the baseline.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <vector>

#include <cxxabi.h>
#include <new>
#include <typeinfo>

#include "bench/figure/BenchFigure.h"
#include "crash/capture/catching/win32/KXThreadRecord.h"

extern "C" [[noreturn]] void __real___cxa_throw(void *object, std::type_info *type, void (*destructor)(void *));

namespace {

constexpr int kDepth = 40;
constexpr int kRepeats = 200;

volatile int gSink = 0;

enum class Raise { PastTheRecorder, Throw };

// The runtime calls the thrown object's destructor as a member function (thiscall on i686).
__attribute__((thiscall)) void DestroyRuntimeError(void *object) {
  static_cast<std::runtime_error *>(object)->~runtime_error();
}

[[noreturn]] void ThrowPastTheRecorder() {
  void *object = abi::__cxa_allocate_exception(sizeof(std::runtime_error));
  new (object) std::runtime_error("'' is not a valid integer value");
  __real___cxa_throw(object, const_cast<std::type_info *>(&typeid(std::runtime_error)),
                     reinterpret_cast<void (*)(void *)>(&DestroyRuntimeError));
}

// Each level keeps a frame of its own: no inlining, no sibling call, locals used after the call.
__attribute__((noinline, optimize("no-optimize-sibling-calls"))) int Nest(int depth, Raise how) {
  volatile int locals[8] = {depth, depth + 1, depth + 2, depth + 3, depth + 4, depth + 5, depth + 6, depth + 7};
  if (depth == 0) {
    if (how == Raise::PastTheRecorder)
      ThrowPastTheRecorder();
    throw std::runtime_error("'' is not a valid integer value");
  }
  return Nest(depth - 1, how) + locals[depth % 8];
}

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

template <class Fn> double MedianPerCall(Fn fn) {
  std::vector<double> times;
  for (int round = 0; round < 9; ++round) {
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    for (int i = 0; i < kRepeats; ++i)
      fn();
    QueryPerformanceCounter(&b);
    times.push_back(Seconds(a, b) / kRepeats);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void ThrowAndCatch(Raise how) {
  try {
    gSink = gSink + Nest(kDepth, how);
  } catch (const std::exception &) {
    gSink = gSink + 1;
  }
}

// Keeps a frame pointer: RtlCaptureContext on x86 reads the caller's registers through it.
__attribute__((noinline, optimize("no-optimize-sibling-calls", "no-omit-frame-pointer"))) int PrepareAt(int depth) {
  volatile int locals[8] = {depth, depth + 1, depth + 2, depth + 3, depth + 4, depth + 5, depth + 6, depth + 7};
  if (depth == 0) {
    CONTEXT context;
    RtlCaptureContext(&context);
    kx::KXThreadRecord &record = kx::ThreadExceptionRecord();
    // The scan stops at the exception address: give one that no slot holds.
    kx::PrepareRaisingStack(record, context, reinterpret_cast<std::uintptr_t>(&PrepareAt) + 1);
    return int(record.prepared.size());
  }
  return PrepareAt(depth - 1) + locals[depth % 8] - locals[depth % 8];
}

} // namespace

int main() {
  int candidates = PrepareAt(kDepth);
  const double baseline = MedianPerCall([] { ThrowAndCatch(Raise::PastTheRecorder); });
  const double recorded = MedianPerCall([] { ThrowAndCatch(Raise::Throw); });
  const double preparation = MedianPerCall([] { PrepareAt(kDepth); });
  kx::ClearThreadRecord();
  std::printf("throw and catch %d calls deep; %d candidates prepared\n", kDepth, candidates);
  std::printf("baseline (throw past the recorder):         %8.1f us\n", baseline * 1e6);
  std::printf("throw through the recorder:                %8.1f us  (%.2fx baseline)\n", recorded * 1e6,
              recorded / baseline);
  std::printf("preparation alone, scanning the whole stack: %6.1f us  (%.2fx baseline)\n", preparation * 1e6,
              preparation / baseline);
  kx::bench::PrintFigure("throw and catch 40 calls deep", recorded * 1e6, baseline * 1e6, "us",
                         "the same throw past the recorder");
  kx::bench::PrintFigure("raise-time preparation, whole stack scanned", preparation * 1e6, baseline * 1e6, "us",
                         "the same throw past the recorder");
  return 0;
}
