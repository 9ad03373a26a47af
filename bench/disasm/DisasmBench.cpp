// Instructions decoded per second: our decoder against Zydis and Capstone over the same code,
// decoded linearly (length and validity only on every side: Zydis in its minimal mode without
// operands, Capstone without detail). The code is the code section of the exe named on the
// command line, else Tidewell.exe's when the cross tree has been built, else Wine's msvcrt.dll.
// The last lines print the ratios, the figure lines the time per instruction of each side.
//   disasm_bench [EXE] [benchmark options]
#include <benchmark/benchmark.h>
#include <Zydis/Zydis.h>
#include <capstone/capstone.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/figure/BenchFigure.h"
#include "crash/analysis/disasm/Decoder.h"
#include "crash/base/pe/PeImage.h"

using namespace tidewell::disasm;
using debuginfo::PeImage;
using debuginfo::PeSection;

namespace {

std::string gExePath = TIDEWELL_EXE; // the command line's EXE when given

struct Code {
    std::string source;
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};

const Code& TheCode() {
    static const Code code = [] {
        Code c;
        for (std::string path : {gExePath, std::string("/usr/lib/i386-linux-gnu/wine/i386-windows/msvcrt.dll")}) {
            std::ifstream in(path, std::ios::binary);
            if (!in) continue;
            std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            auto pe = PeImage::Parse(file.data(), file.size());
            if (!pe) continue;
            for (const auto& s : pe->Sections) {
                if (!s.IsCode() || s.PointerToRawData >= file.size()) continue;
                size_t n = std::min<size_t>({s.SizeOfRawData, s.VirtualSize ? s.VirtualSize : s.SizeOfRawData, file.size() - s.PointerToRawData});
                c.source = path + " " + s.Name;
                c.address = pe->ImageBase + s.VirtualAddress;
                c.bytes.assign(file.begin() + s.PointerToRawData, file.begin() + s.PointerToRawData + static_cast<long>(n));
                return c;
            }
        }
        return c;
    }();
    return code;
}

// Decodes the whole code once per iteration, one instruction after the other; decodeOne
// decodes the instruction at an address and returns it.
template <class DecodeOne>
void DecodeLinear(benchmark::State& state, DecodeOne decodeOne) {
    const Code& code = TheCode();
    if (code.bytes.empty()) {
        state.SkipWithError("no code found");
        return;
    }
    BufferMemory mem(code.address, code.bytes);
    const uint32_t end = code.address + static_cast<uint32_t>(code.bytes.size());
    int64_t count = 0;
    for (auto _ : state) {
        for (uint32_t a = code.address; a < end;) {
            DecodedInstruction d = decodeOne(mem, a);
            a = d.IsValid ? d.Next : a + 1;
            ++count;
        }
    }
    state.SetItemsProcessed(count);
}

void Ours(benchmark::State& state) {
    DecodeLinear(state, [](const BufferMemory& mem, uint32_t a) {
        DecodedInstruction d = ParseCode(mem, a, false);
        benchmark::DoNotOptimize(d);
        return d;
    });
}

// With the instruction text, which is closer to what Capstone always produces.
void OursWithText(benchmark::State& state) {
    InstructionText text;
    DecodeLinear(state, [&text](const BufferMemory& mem, uint32_t a) {
        DecodedInstruction d = ParseCode(mem, a, nullptr, text, false);
        benchmark::DoNotOptimize(text);
        return d;
    });
}

void Capstone(benchmark::State& state) {
    const Code& code = TheCode();
    csh cs;
    if (code.bytes.empty() || cs_open(CS_ARCH_X86, CS_MODE_32, &cs) != CS_ERR_OK) {
        state.SkipWithError("no code or no capstone");
        return;
    }
    cs_insn* insn = cs_malloc(cs);
    int64_t count = 0;
    for (auto _ : state) {
        size_t pos = 0;
        while (pos < code.bytes.size()) {
            const uint8_t* p = code.bytes.data() + pos;
            size_t left = code.bytes.size() - pos;
            uint64_t addr = code.address + pos;
            bool ok = cs_disasm_iter(cs, &p, &left, &addr, insn);
            pos += ok ? insn->size : 1;
            ++count;
        }
    }
    cs_free(insn, 1);
    cs_close(&cs);
    state.SetItemsProcessed(count);
}

// Zydis 4 as the fastest configuration it offers: minimal mode, no decoder context, no operands.
void Zydis(benchmark::State &state) {
    const Code& code = TheCode();
    ZydisDecoder decoder;
    if (code.bytes.empty() || ZYAN_FAILED(ZydisDecoderInit(&decoder, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32)) ||
        ZYAN_FAILED(ZydisDecoderEnableMode(&decoder, ZYDIS_DECODER_MODE_MINIMAL, ZYAN_TRUE))) {
        state.SkipWithError("no code or no zydis");
        return;
    }
    ZydisDecodedInstruction insn;
    int64_t count = 0;
    for (auto _ : state) {
        size_t pos = 0;
        while (pos < code.bytes.size()) {
            bool ok = ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&decoder, nullptr, code.bytes.data() + pos,
                                                                 code.bytes.size() - pos, &insn));
            benchmark::DoNotOptimize(insn);
            pos += ok ? insn.length : 1;
            ++count;
        }
    }
    state.SetItemsProcessed(count);
}

BENCHMARK(Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(OursWithText)->Unit(benchmark::kMillisecond);
BENCHMARK(Zydis)->Unit(benchmark::kMillisecond);
BENCHMARK(Capstone)->Unit(benchmark::kMillisecond);

// Remembers the instructions per second of each run to print the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs) {
            auto it = r.counters.find("items_per_second");
            if (it != r.counters.end()) rates[r.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1)
        gExePath = argv[1];
    std::printf("code: %s, %zu bytes\n", TheCode().source.c_str(), TheCode().bytes.size());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.rates["Ours"], text = reporter.rates["OursWithText"];
    const double zydis = reporter.rates["Zydis"], capstone = reporter.rates["Capstone"];
    if (ours > 0 && text > 0 && capstone > 0)
        std::printf("instructions per second: ours %.3g (with text %.3g), Capstone %.3g; "
                    "ratio ours/Capstone %.2f (with text %.2f)\n",
                    ours, text, capstone, ours / capstone, text / capstone);
    if (ours > 0 && zydis > 0)
        std::printf("instructions per second: ours %.3g, Zydis %.3g; ratio ours/Zydis %.2f\n", ours, zydis, ours / zydis);
    // Figures as time per instruction, so that below 1 means faster, as for every other figure.
    if (ours > 0 && zydis > 0)
        kx::bench::PrintFigure("decode x86 (length, validity)", 1e9 / ours, 1e9 / zydis, "ns/insn",
                               "Zydis 4 minimal, no operands");
    if (ours > 0 && capstone > 0)
        kx::bench::PrintFigure("decode x86 (length, validity)", 1e9 / ours, 1e9 / capstone, "ns/insn",
                               "Capstone, no detail");
    benchmark::Shutdown();
    return 0;
}
