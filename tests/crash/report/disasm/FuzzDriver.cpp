// Runs the fuzz target on pseudo-random inputs for a bounded number of iterations, for builds
// without libFuzzer. Inputs are mostly random bytes, some biased towards opcode-rich code
// (prefixes, 0x0F escapes, jumps and calls) so that the deeper paths are reached.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    const unsigned iterations = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 3000;
    std::mt19937 rng(0x7d1e11u);
    const uint8_t interesting[] = {0x0F, 0x66, 0x67, 0xF2, 0xF3, 0xF0, 0x64, 0xE8, 0xE9, 0xEB, 0x74, 0xFF,
                                   0x83, 0x77, 0x24, 0x85, 0xC3, 0x68, 0xB8, 0xD9, 0xDF, 0x38, 0x3A, 0x00};
    for (unsigned i = 0; i < iterations; ++i) {
        std::vector<uint8_t> input(1 + rng() % 512);
        const bool biased = i % 2;
        for (auto& b : input)
            b = biased && rng() % 3 == 0 ? interesting[rng() % sizeof interesting] : static_cast<uint8_t>(rng());
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%u inputs\n", iterations);
    return 0;
}
