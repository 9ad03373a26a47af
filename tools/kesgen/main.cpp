// kesgen: writes the debug-information container of a linked executable.
//   kesgen [--source-root DIR] [--statements-only] [--version 2|3] EXE OUTPUT
#include "ExeDebugInfo.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {
int Usage() {
  std::fprintf(stderr,
               "usage: kesgen [--source-root DIR] [--statements-only] [--version 2|3] EXE OUTPUT\n"
               "Reads EXE's COFF symbols and DWARF line tables and writes its debug-information\n"
               "container to OUTPUT (normally EXE with the extension .kes).\n");
  return 2;
}
} // namespace

int main(int argc, char **argv) {
  kesgen::Options options;
  int version = 3;
  std::string exePath, outPath;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--source-root" && i + 1 < argc) {
      options.SourceRoot = argv[++i];
    } else if (arg == "--statements-only") {
      options.StatementsOnly = true;
    } else if (arg == "--version" && i + 1 < argc) {
      version = std::atoi(argv[++i]);
      if (version != 2 && version != 3)
        return Usage();
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else if (exePath.empty()) {
      exePath = arg;
    } else if (outPath.empty()) {
      outPath = arg;
    } else {
      return Usage();
    }
  }
  if (exePath.empty() || outPath.empty())
    return Usage();
  if (options.SourceRoot.empty())
    std::fprintf(stderr, "kesgen: warning: no --source-root, no unit or line will be written\n");

  auto exe = FileModuleFiles::Instance().ReadFile(exePath);
  if (!exe) {
    std::fprintf(stderr, "kesgen: cannot read %s\n", exePath.c_str());
    return 1;
  }
  TMapFile model;
  kesgen::Stats stats;
  std::string error;
  if (!kesgen::BuildModel(*exe, options, model, stats, error)) {
    std::fprintf(stderr, "kesgen: %s: %s\n", exePath.c_str(), error.c_str());
    return 1;
  }
  auto [a, b] = kesgen::ImageChecksums(*exe);
  std::vector<uint8_t> container = model.Export(version == 3, false, false, a, b);
  std::string temp = outPath + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(container.data()), std::streamsize(container.size()));
    if (!out) {
      std::fprintf(stderr, "kesgen: cannot write %s\n", temp.c_str());
      return 1;
    }
  }
  if (std::rename(temp.c_str(), outPath.c_str()) != 0) {
    std::fprintf(stderr, "kesgen: cannot rename %s to %s\n", temp.c_str(), outPath.c_str());
    return 1;
  }
  std::printf("kesgen: %s: %d units, %d own functions, %d functions, %d lines, %zu bytes, signature %s\n",
              outPath.c_str(), stats.Units, stats.OwnFunctions, stats.Functions, stats.Lines,
              container.size(), TMapFile::ContainerSignature(uint32_t(container.size()), a, b).c_str());
  return 0;
}
