// Entry point of the 64-bit sample executable that debuginfo_exe64_tests builds with the x86-64
// cross compiler from some of our own sources (the PE reader, the symbol names, the decoder):
// it is only read, never run. It calls into each source so that none is thrown away.
#include "crash/analysis/debuginfo/Crc32.h"
#include "crash/analysis/debuginfo/SymbolNames.h"
#include "crash/base/pe/PeImage.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto pe = debuginfo::PeImage::Parse(bytes.data(), bytes.size());
    std::printf("%s %08x %zu\n", debuginfo::ReadableFunctionName(argv[i]).c_str(),
                unsigned(debuginfo::Crc32(bytes.data(), bytes.size())), pe ? pe->Sections.size() : 0);
  }
  return 0;
}
