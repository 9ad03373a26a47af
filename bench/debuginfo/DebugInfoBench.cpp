// Lookups per second on a module's debug-information model and the time to load the exe's
// container. The model is kesgen's model of the real exe (TIDEWELL_DEBUGINFO_EXE) when it is
// there, else a synthetic one of similar shape. Ratios are printed against
// "baseline_linear_scan" (a plain scan over the publics) and "baseline_inflate" (decompressing
// the container's block without building the model).
#include "crash/analysis/debuginfo/Deflate.h"
#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/analysis/debuginfo/Scrambler.h"
#include "tools/kesgen/ExeDebugInfo.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>

namespace {

struct Fixture {
  TMapFile Model;
  std::vector<uint8_t> Container;
  std::vector<uint32_t> Probes;
  std::string Source;

  Fixture() {
    const char *env = std::getenv("TIDEWELL_DEBUGINFO_EXE");
    std::string exe = env && *env ? env : TIDEWELL_DEBUGINFO_EXE;
    bool loaded = false;
    if (std::filesystem::exists(exe)) {
      auto bytes = FileModuleFiles::Instance().ReadFile(exe);
      kesgen::Options options;
      options.SourceRoots = {SOURCE_ROOT};
      kesgen::Stats stats;
      std::string error;
      loaded = bytes && kesgen::BuildModel(*bytes, options, Model, stats, error);
      Source = exe;
    }
    if (!loaded) {
      Model = TMapFile();
      Model.SetBounds(0x401000, 0x401000 + 0x40000, 0x450000, 0x460000);
      for (int i = 0; i < 3000; ++i)
        Model.AddPublic(true, "TClass" + std::to_string(i / 10) + ".Method" + std::to_string(i), 0x401000 + i * 0x50);
      for (int u = 0; u < 30; ++u)
        Model.AddSegment(true, 0x401000 + u * 100 * 0x50, 100 * 0x50, "Unit" + std::to_string(u));
      Model.SortSegments();
      for (int i = 0; i < 30000; ++i)
        Model.AddLine(1 + i % 700, 0x401000 + i * 8);
      Source = "synthetic model";
    }
    Container = Model.Export(true, false, false);
    std::mt19937 rng(1);
    for (int i = 0; i < 4096; ++i)
      Probes.push_back(Model.BaseOfCode() + rng() % (Model.TopOfCode() - Model.BaseOfCode()));
  }
};

Fixture &F() {
  static Fixture f;
  return f;
}

void baseline_linear_scan(benchmark::State &state) {
  const auto &publics = F().Model.Publics();
  size_t i = 0;
  for (auto _ : state) {
    uint32_t a = F().Probes[i++ & 4095];
    const TMfPublic *best = nullptr;
    for (const TMfPublic &p : publics)
      if (p.Address <= a)
        best = &p;
    benchmark::DoNotOptimize(best);
  }
  state.SetItemsProcessed(state.iterations());
}

void FindPublic(benchmark::State &state) {
  size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(F().Model.FindPublic(F().Probes[i++ & 4095]));
  state.SetItemsProcessed(state.iterations());
}

void FindLine(benchmark::State &state) {
  size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(F().Model.FindLine(F().Probes[i++ & 4095]));
  state.SetItemsProcessed(state.iterations());
}

void DescribeAddress(benchmark::State &state) { // what one location line needs
  size_t i = 0;
  for (auto _ : state) {
    uint32_t a = F().Probes[i++ & 4095];
    benchmark::DoNotOptimize(F().Model.FindSegment(true, a));
    benchmark::DoNotOptimize(F().Model.FindLine(a));
    benchmark::DoNotOptimize(F().Model.FindPublic(a));
  }
  state.SetItemsProcessed(state.iterations());
}

void baseline_inflate(benchmark::State &state) {
  const auto &c = F().Container;
  for (auto _ : state) {
    std::vector<uint8_t> payload(c.begin() + 34, c.end());
    debuginfo::ScramblePayload(payload.data(), payload.size());
    benchmark::DoNotOptimize(debuginfo::DecompressBlock(payload.data(), payload.size()));
  }
  state.SetBytesProcessed(int64_t(state.iterations() * c.size()));
}

void LoadContainer(benchmark::State &state) {
  const auto &c = F().Container;
  for (auto _ : state) {
    TMapFile m;
    m.SetBounds(F().Model.BaseOfCode(), F().Model.TopOfCode(), 0, 0);
    benchmark::DoNotOptimize(m.LoadContainer(c.data(), c.size()));
  }
  state.SetBytesProcessed(int64_t(state.iterations() * c.size()));
}

BENCHMARK(baseline_linear_scan);
BENCHMARK(FindPublic);
BENCHMARK(FindLine);
BENCHMARK(DescribeAddress);
BENCHMARK(baseline_inflate);
BENCHMARK(LoadContainer);

// Keeps each run's time per iteration so main can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  std::map<std::string, double> Times;
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs)
      Times[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("model: %s: %d segments, %d publics, %d lines, container %zu bytes\n", F().Source.c_str(),
              F().Model.SegmentCount(), F().Model.PublicCount(), F().Model.LineCount(), F().Container.size());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char *name, const char *base) {
    if (reporter.Times.count(name) && reporter.Times.count(base) && reporter.Times[name] > 0)
      std::printf("%-16s %8.1fx faster than %s\n", name, reporter.Times[base] / reporter.Times[name], base);
  };
  for (const char *n : {"FindPublic", "FindLine", "DescribeAddress"})
    ratio(n, "baseline_linear_scan");
  if (reporter.Times.count("LoadContainer") && reporter.Times.count("baseline_inflate"))
    std::printf("%-16s %8.2fx the time of baseline_inflate\n", "LoadContainer",
                reporter.Times["LoadContainer"] / reporter.Times["baseline_inflate"]);
  benchmark::Shutdown();
  return 0;
}
