// kesgen: writes the debug-information container of a linked executable.
//   kesgen [--source-root DIR]... [--statements-only] [--version 2|3] EXE OUTPUT
//   kesgen --check EXE CONTAINER   (exit 0 when the container was made from EXE's code)
#include "tools/kesgen/ExeDebugInfo.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {
int Usage() {
  std::fprintf(stderr,
               "usage: kesgen [--source-root DIR]... [--statements-only] [--version 2|3] EXE OUTPUT\n"
               "       kesgen --check EXE CONTAINER\n"
               "Reads EXE's COFF symbols and DWARF (line tables, inlined calls) and writes its\n"
               "debug-information container to OUTPUT (normally EXE with the extension .kes).\n"
               "Units and lines are written for the functions whose sources lie below a\n"
               "--source-root; give it once for each tree (the program's, the reporter's).\n"
               "Inlined code is given the line of its call. --check tells whether\n"
               "CONTAINER was made from an image with the same code as EXE (after a relink that\n"
               "embeds it, for instance). EXE may be an i386 (PE32) or x86-64 (PE32+) image; the\n"
               "container of an x86-64 image is always version 4, which names its machine.\n");
  return 2;
}
} // namespace

int main(int argc, char **argv) {
  kesgen::Options options;
  int version = 3;
  bool check = false;
  std::string exePath, outPath;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--source-root" && i + 1 < argc) {
      options.SourceRoots.push_back(argv[++i]);
    } else if (arg == "--check") {
      check = true;
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
  if (check) {
    auto exe = FileModuleFiles::Instance().ReadFile(exePath);
    auto container = FileModuleFiles::Instance().ReadFile(outPath);
    if (!exe || !container) {
      std::fprintf(stderr, "kesgen: cannot read %s\n", !exe ? exePath.c_str() : outPath.c_str());
      return 1;
    }
    // Checksum A sits right after the marker, the length and the version of a version-3 or
    // version-4 container.
    if (container->size() < 34 || ((*container)[18] != 3 && (*container)[18] != 4)) {
      std::fprintf(stderr, "kesgen: %s is not a version-3 or version-4 container\n", outPath.c_str());
      return 1;
    }
    const uint8_t *p = container->data() + 22;
    uint32_t stored = p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
    uint32_t actual = kesgen::ImageChecksums(*exe).first;
    if (stored != actual) {
      std::fprintf(stderr, "kesgen: %s was not made from the code of %s (code CRC %08x, container %08x)\n",
                   outPath.c_str(), exePath.c_str(), actual, stored);
      return 1;
    }
    std::printf("kesgen: %s matches the code of %s\n", outPath.c_str(), exePath.c_str());
    return 0;
  }
  if (options.SourceRoots.empty())
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
  if (!stats.Warning.empty())
    std::fprintf(stderr, "kesgen: warning: %s: %s\n", exePath.c_str(), stats.Warning.c_str());
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
  std::printf("kesgen: %s: %d units, %d own functions, %d functions, %d lines (%d inlined ranges), %zu bytes, signature %s\n",
              outPath.c_str(), stats.Units, stats.OwnFunctions, stats.Functions, stats.Lines,
              stats.InlinedCalls, container.size(), TMapFile::ContainerSignature(uint32_t(container.size()), a, b).c_str());
  return 0;
}
