// Tracing a deep synthetic stack: a chain of functions without frame pointers, with stale
// return addresses between the real ones, so that the whole chain has to be linked and scored.
// Baseline: the quick list made at catch time (one pass over the stack with the return-address
// test). Measured: a trace with fresh caches (every function analysed) and one with the caches
// of an earlier trace (the process-wide case). The last line prints both against the baseline.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "crash/analysis/stacktrace/StackTracer.h"
#include "tests/crash/analysis/stacktrace/DeepChain.h"

using namespace tidewell::stacktrace;
using tidewell::stacktrace::test::DeepChain;

namespace {

const DeepChain &Chain(int depth) {
  static std::map<int, std::unique_ptr<DeepChain>> chains;
  auto &c = chains[depth];
  if (!c)
    c = std::make_unique<DeepChain>(depth, true);
  return *c;
}

TraceRequest Request(const DeepChain &c) {
  TraceRequest q;
  q.currentAddr = c.fault;
  q.isException = q.extException = true;
  q.stackBottom = c.sp;
  q.stackTop = c.stackTop;
  q.ebp = c.ebp;
  return q;
}

void Prepare(benchmark::State &state) {
  const DeepChain &c = Chain(int(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(PrepareStack(c.process, c.ebp, c.stackTop, c.sp, true, c.fault));
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void TraceFresh(benchmark::State &state) {
  const DeepChain &c = Chain(int(state.range(0)));
  for (auto _ : state) {
    TraceCaches caches;
    TraceResult r = StackTrace(c.process, caches, Request(c));
    if (r.items.size() != c.sites.size())
      state.SkipWithError("wrong chain");
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void TraceCached(benchmark::State &state) {
  const DeepChain &c = Chain(int(state.range(0)));
  TraceCaches caches;
  StackTrace(c.process, caches, Request(c));
  for (auto _ : state) {
    TraceResult r = StackTrace(c.process, caches, Request(c));
    if (r.items.size() != c.sites.size())
      state.SkipWithError("wrong chain");
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

BENCHMARK(Prepare)->Arg(200)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(TraceFresh)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(TraceCached)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const auto &r : runs)
      times[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char *depth : {"200", "2000"}) {
    // Times are in each benchmark's own unit: Prepare in microseconds, traces in milliseconds.
    const double base = reporter.times[std::string("Prepare/") + depth] / 1000.0;
    const double fresh = reporter.times[std::string("TraceFresh/") + depth];
    const double cached = reporter.times[std::string("TraceCached/") + depth];
    if (base > 0 && fresh > 0 && cached > 0)
      std::printf("depth %s: trace / prepared list = %.0f (fresh caches), %.0f (shared caches)\n",
                  depth, fresh / base, cached / base);
  }
  return 0;
}
