// A bounded mutation fuzzer for builds without libFuzzer: starts from valid inputs of every
// reader (containers, streams, text maps, PE images) and feeds random mutations of them to
// LLVMFuzzerTestOneInput under the sanitizers. Usage: debuginfo_fuzz [iterations] [seed]
#include "crash/analysis/debuginfo/MapFile.h"

#include "tests/crash/analysis/debuginfo/DebugInfoSample.h"
#include "tests/crash/analysis/debuginfo/LineProgramSample.h"
#include "tests/crash/analysis/debuginfo/TestImage.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<uint8_t> WithMode(uint8_t mode, const std::vector<uint8_t> &body) {
  std::vector<uint8_t> v{mode};
  v.insert(v.end(), body.begin(), body.end());
  return v;
}

std::vector<std::vector<uint8_t>> Seeds() {
  TMapFile m;
  m.SetBounds(0x401000, 0x500000, 0x600000, 0x700000);
  for (int i = 0; i < 20; ++i)
    m.AddSegment(true, 0x401000 + i * 0x100, 0x100, "Unit" + std::to_string(i % 5));
  for (int i = 0; i < 60; ++i)
    m.AddPublic(true, "Class.Method" + std::to_string(i), 0x401000 + i * 0x30);
  for (int i = 0; i < 200; ++i)
    m.AddLine(10 + i * 3 % 17, 0x401000 + i * 9);
  m.SetEntryPoint(0x401010);
  std::vector<std::vector<uint8_t>> seeds;
  seeds.push_back(WithMode(0, m.Export(true, false, false)));
  seeds.push_back(WithMode(0, m.Export(false, false, false)));
  seeds.push_back(WithMode(0, m.Export(true, true, false)));
  // The same model of an x86-64 image: version 4 with its machine word.
  m.SetMachine(kMachineAmd64);
  seeds.push_back(WithMode(0, m.Export(true, false, false)));
  seeds.push_back(WithMode(0, m.Export(true, true, false)));
  // A raw debug stream: mode 1 wraps it into a valid container.
  std::vector<uint8_t> stream = {2, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0, 3, 'A', 'b', 'c',
                                 0x10, 0, 0, 0, 0x10, 0, 0, 0, 0,    1, 0, 0, 0, 1, 'f',
                                 0, 0, 0, 0,    2, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 1, 4};
  seeds.push_back(WithMode(1, stream));
  const std::string map =
      " Start         Length     Name                   Class\r\n"
      " 0001:00401000 00002345H .text                   CODE\r\n"
      " 0002:00404000 00000400H .data                   DATA\r\n"
      "Detailed map of segments\r\n"
      " 0001:00000000 00001000 C=CODE     S=.text    G=(none)   M=System   ACBP=A9\r\n"
      " 0002:00000000 00000100 C=DATA     S=.data    G=DGROUP   M=Unit1    ACBP=A9\r\n"
      "  Address         Publics by Value\r\n"
      " 0001:00000010       System.TObject.Create\r\n"
      " 0002:00000020       Unit1.Table\r\n"
      "Line numbers for System(System.pas) segment .text\r\n"
      "    10 0001:00000000    11 0001:00000008\r\n"
      "Program entry point at 0001:00000010\r\n";
  seeds.push_back(WithMode(2, std::vector<uint8_t>(map.begin(), map.end())));
  seeds.push_back(WithMode(3, BuildTestImage({{".text", 0x1000, 0x100, 0x60000020}}, 0x400000,
                                             kDebugInfoResourceName, m.Export(true, false, false))));
  seeds.push_back(WithMode(5, LineProgramSample()));
  seeds.push_back(WithMode(6, debuginfo_sample::Packed(debuginfo_sample::Build())));
  return seeds;
}

} // namespace

int main(int argc, char **argv) {
  const long iterations = argc > 1 ? std::atol(argv[1]) : 20000;
  const unsigned seed = argc > 2 ? unsigned(std::atol(argv[2])) : 4242u;
  std::mt19937 rng(seed);
  const auto seeds = Seeds();
  for (const auto &s : seeds)
    LLVMFuzzerTestOneInput(s.data(), s.size());
  for (long i = 0; i < iterations; ++i) {
    std::vector<uint8_t> input = seeds[rng() % seeds.size()];
    const int edits = 1 + int(rng() % 8);
    for (int e = 0; e < edits && input.size() > 1; ++e) {
      size_t at = 1 + rng() % (input.size() - 1);
      switch (rng() % 6) {
      case 0: input[at] ^= uint8_t(1u << (rng() % 8)); break;
      case 1: input[at] = uint8_t(rng()); break;
      case 2: input.resize(at); break;
      case 3: input.insert(input.begin() + at, uint8_t(rng())); break;
      case 4: input.erase(input.begin() + at); break;
      case 5: { // interesting values
        static const uint8_t values[] = {0x00, 0x7F, 0x80, 0xFF, ':', ' ', '\n'};
        input[at] = values[rng() % sizeof values];
        break;
      }
      }
    }
    if (rng() % 16 == 0) { // pure noise now and then
      input.resize(1 + rng() % 256);
      for (size_t k = 1; k < input.size(); ++k)
        input[k] = uint8_t(rng());
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("debuginfo fuzz: %ld inputs, seed %u, no fault\n", iterations, seed);
  return 0;
}
