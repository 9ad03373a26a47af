// Function analysis over real 32-bit code: every target of a direct call in the code sections
// of some of Wine's i386 DLLs (and of Tidewell.exe when it has been built) is analysed. The
// analysis must terminate, keep its areas apart and cover the entry point; almost every
// compiler-generated function must come out valid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "crash/analysis/disasm/FunctionAnalysis.h"
#include "crash/analysis/disasm/UnwindTables.h"
#include "crash/base/pe/PeImage.h"

using namespace tidewell::disasm;
using debuginfo::PeImage;
using debuginfo::PeSection;

namespace {

bool LoadFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

TEST(DisasmRealCode, AnalysesEveryCalledFunction) {
    std::vector<std::string> files;
    for (const char* dll : {"msvcrt.dll", "kernelbase.dll", "comctl32.dll"}) {
        std::string path = std::string("/usr/lib/i386-linux-gnu/wine/i386-windows/") + dll;
        if (std::filesystem::exists(path)) files.push_back(path);
    }
#ifdef TIDEWELL_EXE
    if (std::filesystem::exists(TIDEWELL_EXE)) files.push_back(TIDEWELL_EXE);
#endif
    if (files.empty()) GTEST_SKIP() << "no 32-bit PE files found";
    size_t functions = 0, valid = 0;
    for (const auto& path : files) {
        std::vector<uint8_t> file;
        ASSERT_TRUE(LoadFile(path, file));
        auto pe = PeImage::Parse(file.data(), file.size());
        ASSERT_TRUE(pe);
        std::vector<uint8_t> image = pe->MapImage(file.data(), file.size());
        BufferMemory mem(pe->ImageBase, image);
        AnalysisOptions options;
        auto range = ModuleCodeRange(mem, pe->ImageBase);
        ASSERT_NE(range.second, 0u) << path;
        options.rangeBegin = range.first;
        options.rangeEnd = range.second;
        std::set<uint32_t> entries;
        for (const auto& s : pe->Sections) {
            if (!s.IsCode()) continue;
            uint32_t a = pe->ImageBase + s.VirtualAddress, end = a + std::min(s.VirtualSize, s.SizeOfRawData);
            while (a < end) {
                DecodedInstruction d = ParseCode(mem, a, false);
                if (d.IsValid && d.Call && d.RelTarget && d.Target >= pe->ImageBase + s.VirtualAddress &&
                    d.Target < end)
                    entries.insert(d.Target);
                a = d.IsValid ? d.Next : a + 1;
            }
        }
        for (uint32_t entry : entries) {
            FunctionInfo f = ParseFunction(mem, entry, options);
            ++functions;
            if (!f.IsValid) {
                EXPECT_EQ(f.LastErrorNo, kErrorInvalidCode);
                continue;
            }
            ++valid;
            ASSERT_FALSE(f.CodeAreas.empty());
            EXPECT_LE(f.CodeBegin, entry);
            EXPECT_LT(entry - f.CodeBegin, f.CodeLen);
            for (size_t i = 1; i < f.CodeAreas.size(); ++i)
                ASSERT_GT(f.CodeAreas[i].AreaBegin, f.CodeAreas[i - 1].AreaEnd)
                    << path << " function " << std::hex << entry << " area " << f.CodeAreas[i].AreaBegin;
            EXPECT_GE(f.Copy.BufferLen, f.CodeLen + 4);
        }
    }
    std::printf("functions: %zu, valid: %zu\n", functions, valid);
    ASSERT_GT(functions, 1000u);
    EXPECT_GT(static_cast<double>(valid), 0.98 * static_cast<double>(functions));
}

#ifdef TIDEWELL_EXE
// Our own C++ code: every function with landing pads, analysed with the pads from its unwind
// tables, comes out valid and covers them; without them the pads stay outside.
TEST(DisasmRealCode, CppLandingPadsBelongToTheFunction) {
    std::vector<uint8_t> file;
    if (!LoadFile(TIDEWELL_EXE, file)) GTEST_SKIP() << "Tidewell.exe has not been built";
    auto pe = PeImage::Parse(file.data(), file.size());
    ASSERT_TRUE(pe);
    std::vector<uint8_t> image = pe->MapImage(file.data(), file.size());
    BufferMemory mem(pe->ImageBase, image);
    const PeSection* eh = nullptr;
    for (const auto& s : pe->Sections)
        if (s.Name == ".eh_frame") eh = &s;
    ASSERT_NE(eh, nullptr);
    const uint32_t begin = pe->ImageBase + eh->VirtualAddress;
    auto fdes = ReadFrameDescriptions(mem, begin, begin + eh->VirtualSize);
    ASSERT_GT(fdes.size(), 100u);
    AnalysisOptions options;
    auto range = ModuleCodeRange(mem, pe->ImageBase);
    options.rangeBegin = range.first;
    options.rangeEnd = range.second;
    size_t withPads = 0, valid = 0, outsideWithout = 0;
    for (const auto& fde : fdes) {
        std::vector<uint32_t> pads = LandingPads(mem, fde);
        if (pads.empty()) continue;
        ++withPads;
        options.extraEntries.assign(pads.begin(), pads.end());
        FunctionInfo f = ParseFunction(mem, fde.begin, options);
        if (!f.IsValid) continue;
        ++valid;
        for (uint32_t pad : pads) {
            bool covered = std::any_of(f.CodeAreas.begin(), f.CodeAreas.end(),
                                       [&](const CodeArea& a) { return pad >= a.AreaBegin && pad <= a.AreaEnd; });
            EXPECT_TRUE(covered) << std::hex << fde.begin << " pad " << pad;
        }
        options.extraEntries.clear();
        FunctionInfo plain = ParseFunction(mem, fde.begin, options);
        if (plain.IsValid && std::any_of(pads.begin(), pads.end(), [&](uint32_t pad) {
                return std::none_of(plain.CodeAreas.begin(), plain.CodeAreas.end(), [&](const CodeArea& a) {
                    return pad >= a.AreaBegin && pad <= a.AreaEnd;
                });
            }))
            ++outsideWithout;
    }
    std::printf("frame descriptions: %zu, with landing pads: %zu, valid: %zu, pads missed without tables: %zu\n",
                fdes.size(), withPads, valid, outsideWithout);
    ASSERT_GT(withPads, 50u);
    EXPECT_GT(static_cast<double>(valid), 0.98 * static_cast<double>(withPads));
}
#endif

}  // namespace
