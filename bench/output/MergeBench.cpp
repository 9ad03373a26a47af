// Merging a new report into a bug report file made to be slow: one report start followed by
// nothing but "callstack crc" lines that all hold the new report's key, of 0.1, 1 and 5 MB. Each
// merge is timed against zlib's CRC-32 over the same bytes, one linear pass that every byte
// costs; the median of seven rounds of each. A merge that stays linear keeps its ratio as the
// file grows; a quadratic one multiplies it by ten and by fifty.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/figure/BenchFigure.h"
#include "crash/output/KXBugFileRules.h"

using namespace kx;

namespace {

constexpr int kRounds = 7;
const char *const kKey = "$5d8b02ac, $0e41f1c9, $0e41f1c9";

const std::string kReport = std::string("date/time       : 2026-12-09, 09:05:07, 85ms\r\n"
                                        "executable      : Tidewell.exe\r\n"
                                        "version         : 1.0.0.12\r\n"
                                        "callstack crc   : ") +
                            kKey +
                            "\r\n"
                            "exception class : EConvertError\r\n"
                            "\r\n"
                            "main thread:\r\n"
                            "00401000 Tidewell.exe";

std::string CraftedFile(size_t bytes) {
  std::string file = "date/time : x\r\n";
  while (file.size() < bytes)
    file += std::string("callstack crc : ") + kKey + "\r\n";
  return file;
}

template <class Work> double MedianSeconds(Work work) {
  std::vector<double> rounds;
  for (int i = 0; i < kRounds; ++i) {
    auto begin = std::chrono::steady_clock::now();
    work();
    rounds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
  }
  std::sort(rounds.begin(), rounds.end());
  return rounds[kRounds / 2];
}

} // namespace

int main() {
  KXBugFileOptions options;
  options.maxSize = 0;
  volatile size_t sink = 0;
  for (size_t kilobytes : {100u, 1024u, 5120u}) {
    const std::string file = CraftedFile(kilobytes << 10);
    const double merge = MedianSeconds([&] { sink = sink + MergeBugReport(file, kReport, options).content.size(); });
    const double crc = MedianSeconds([&] {
      sink = sink + crc32(0, reinterpret_cast<const Bytef *>(file.data()), static_cast<uInt>(file.size()));
    });
    char name[64];
    std::snprintf(name, sizeof name, "bug file merge, crafted %.1f MB", kilobytes / 1024.0);
    kx::bench::PrintFigure(name, merge * 1e3, crc * 1e3, "ms", "zlib crc32");
  }
  return sink == 0;
}
