// Runs a fuzz target without libFuzzer: every file of the corpus folders given, then a bounded
// number of seeded mutations of them (bit flips, cuts, inserted and repeated bytes), under the
// tree's sanitizers. Usage: driver ITERATIONS FOLDER...
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

void Run(const std::string &input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
}

std::string Mutate(std::string input, std::mt19937 &rng) {
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    const size_t at = input.empty() ? 0 : rng() % input.size();
    switch (rng() % 5) {
    case 0:
      if (!input.empty())
        input[at] = static_cast<char>(input[at] ^ (1u << (rng() % 8)));
      break;
    case 1:
      input.resize(at);
      break;
    case 2:
      input.insert(at, 1, static_cast<char>(rng()));
      break;
    case 3:
      if (!input.empty())
        input.insert(at, input.substr(at, 1 + rng() % 16));
      break;
    default:
      if (!input.empty())
        input[at] = "\r\n-= .\xC0\x00"[rng() % 8];
      break;
    }
  }
  return input;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ITERATIONS FOLDER...\n", argv[0]);
    return 2;
  }
  const unsigned long iterations = std::strtoul(argv[1], nullptr, 10);
  std::vector<std::string> corpus;
  for (int i = 2; i < argc; ++i)
    for (const auto &entry : std::filesystem::directory_iterator(argv[i])) {
      std::ifstream file(entry.path(), std::ios::binary);
      corpus.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
  if (corpus.empty()) {
    std::fprintf(stderr, "no corpus files\n");
    return 2;
  }
  for (const std::string &input : corpus)
    Run(input);
  std::mt19937 rng(0x5EED1234u);
  for (unsigned long i = 0; i < iterations; ++i)
    Run(Mutate(corpus[rng() % corpus.size()], rng));
  std::printf("%zu corpus files, %lu mutations\n", corpus.size(), iterations);
  return 0;
}
