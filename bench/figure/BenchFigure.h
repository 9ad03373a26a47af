#pragma once
// One line per measured figure, the form scripts/bench.sh gathers into its summary table:
//   figure<TAB>name<TAB>ours<TAB>baseline<TAB>ratio<TAB>baseline name
// "ours" and "baseline" carry their unit; the ratio is ours / baseline of the same quantity
// (for times: below 1 means ours takes less time). Header-only, so that the native benchmarks
// and the Win32 harnesses print the same form without a library.
#include <cstdio>

namespace kx::bench {

inline void PrintFigure(const char *name, double ours, double baseline, const char *unit, const char *baselineName) {
  if (baseline > 0)
    std::printf("figure\t%s\t%.4g %s\t%.4g %s\t%.3f\t%s\n", name, ours, unit, baseline, unit, ours / baseline,
                baselineName);
  else
    std::printf("figure\t%s\t%.4g %s\t%.4g %s\tn/a\t%s\n", name, ours, unit, baseline, unit, baselineName);
  std::fflush(stdout);
}

} // namespace kx::bench
