// Compares the decoder's 64-bit mode with Capstone's over every instruction of real x86-64
// code: the code sections of Wine's 64-bit DLLs. Both decoders walk the code linearly from the
// same positions; instruction starts and lengths must agree on at least 99.9% of the
// instructions. Disagreements are grouped by their leading bytes and printed.
#include <capstone/capstone.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "crash/analysis/disasm/Decoder.h"
#include "crash/base/pe/PeImage.h"
#include "tests/crash/analysis/disasm/HexBytes.h"

using namespace tidewell::disasm;

namespace {

const char* const kWineDirs[] = {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/",
#ifdef TIDEWELL_WINE64_DIR
                                 TIDEWELL_WINE64_DIR,
#endif
};
const char* const kWineDlls[] = {"ntdll.dll",   "kernelbase.dll", "msvcrt.dll",  "ucrtbase.dll", "user32.dll",
                                 "gdi32.dll",   "comctl32.dll",   "ole32.dll",   "oleaut32.dll", "msvcp140.dll",
                                 "d3dx9_43.dll", "wined3d.dll",    "jscript.dll", "gdiplus.dll"};

// The code sections of a PE32+ x86-64 file at their addresses.
struct CodeSection {
    uint64_t address;
    std::vector<uint8_t> bytes;
};
bool ReadPe64(const std::vector<uint8_t>& f, std::vector<CodeSection>& out) {
    const std::optional<debuginfo::PeImage> pe = debuginfo::PeImage::Parse(f.data(), f.size());
    if (!pe || !pe->Pe32Plus || pe->Machine != 0x8664) return false;
    for (const debuginfo::PeSection& s : pe->Sections) {
        if (!(s.Characteristics & 0x20000000u) || s.PointerToRawData >= f.size()) continue;  // executable only
        const size_t size = std::min<size_t>(
            {s.VirtualSize ? s.VirtualSize : s.SizeOfRawData, s.SizeOfRawData, f.size() - s.PointerToRawData});
        out.push_back({pe->ImageBase + s.VirtualAddress,
                       std::vector<uint8_t>(f.begin() + s.PointerToRawData, f.begin() + s.PointerToRawData + size)});
    }
    return true;
}

using test::Bytes;

// Prefixes (legacy and REX), escape and opcode bytes.
std::string ClassKey(const uint8_t* p, size_t avail) {
    size_t i = 0;
    while (i < avail && i < 5 &&
           (p[i] == 0x66 || p[i] == 0x67 || p[i] == 0xF2 || p[i] == 0xF3 || p[i] == 0xF0 || p[i] == 0x2E ||
            p[i] == 0x3E || p[i] == 0x26 || p[i] == 0x36 || p[i] == 0x64 || p[i] == 0x65 || (p[i] & 0xF0) == 0x40))
        ++i;
    if (i < avail && (p[i] == 0xC4 || p[i] == 0x62)) i += 3;
    else if (i < avail && p[i] == 0xC5) i += 2;
    else if (i < avail && p[i] == 0x0F) {
        ++i;
        if (i < avail && (p[i] == 0x38 || p[i] == 0x3A)) ++i;
    }
    return Bytes(p, std::min(i + 1, avail));
}

struct Tally {
    uint64_t instructions = 0, agree = 0;
    std::map<std::string, uint64_t> classes;
    std::map<std::string, std::string> examples;
};

void CompareSection(csh cs, const CodeSection& section, Tally& tally) {
    const BufferMemory mem(section.address, section.bytes);
    cs_insn* insn = cs_malloc(cs);
    const uint32_t size = static_cast<uint32_t>(section.bytes.size());
    uint32_t pos = 0;
    while (pos < size) {
        const uint8_t* p = section.bytes.data() + pos;
        const uint8_t* cp = p;
        size_t left = size - pos;
        uint64_t addr = section.address + pos;
        const bool theirsValid = cs_disasm_iter(cs, &cp, &left, &addr, insn);
        const uint32_t theirsLen = theirsValid ? insn->size : 0;
        const DecodedInstruction d = ParseCode(mem, section.address + pos, false, CpuMode::X64);
        const bool oursValid = d.IsValid && d.Next <= section.address + size;
        const uint32_t oursLen = oursValid ? d.Length() : 0;
        ++tally.instructions;
        if (oursValid == theirsValid && oursLen == theirsLen) {
            ++tally.agree;
        } else {
            const std::string kind = !oursValid ? "only capstone decodes" : !theirsValid ? "only we decode" : "lengths differ";
            const std::string key = kind + ": " + ClassKey(p, size - pos);
            if (tally.classes[key]++ == 0)
                tally.examples[key] = Bytes(p, std::min<size_t>(size - pos, 12)) + "  capstone: " +
                                      (theirsValid ? std::string(insn->mnemonic) + " " + insn->op_str : "invalid");
        }
        pos += oursValid ? oursLen : 1;
    }
    cs_free(insn, 1);
}

std::vector<std::string> InputFiles() {
    std::vector<std::string> files;
    std::vector<std::string> dirs(std::begin(kWineDirs), std::end(kWineDirs));
    if (const char* env = std::getenv("TIDEWELL_WINE64_DIR")) dirs.insert(dirs.begin(), std::string(env) + "/");
    for (const auto& dir : dirs) {
        for (const char* dll : kWineDlls)
            if (std::filesystem::exists(dir + dll)) files.push_back(dir + dll);
        if (!files.empty()) break;
    }
    return files;
}

TEST(DisasmDifferential64, AgreesWithCapstoneOnReal64BitCode) {
    const std::vector<std::string> files = InputFiles();
    if (files.empty()) GTEST_SKIP() << "no 64-bit Wine DLLs found (set TIDEWELL_WINE64_DIR)";
    csh cs;
    ASSERT_EQ(cs_open(CS_ARCH_X86, CS_MODE_64, &cs), CS_ERR_OK);
    Tally tally;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<CodeSection> sections;
        ASSERT_TRUE(ReadPe64(file, sections)) << path << " is no x86-64 PE32+ file";
        for (const auto& s : sections) CompareSection(cs, s, tally);
    }
    cs_close(&cs);

    std::vector<std::pair<uint64_t, std::string>> sorted;
    for (const auto& [key, count] : tally.classes) sorted.push_back({count, key});
    std::sort(sorted.rbegin(), sorted.rend());
    const uint64_t disagree = tally.instructions - tally.agree;
    std::printf("files: %zu, instructions: %llu, agreeing: %llu (%.4f%%), disagreeing: %llu\n", files.size(),
                static_cast<unsigned long long>(tally.instructions), static_cast<unsigned long long>(tally.agree),
                100.0 * static_cast<double>(tally.agree) / static_cast<double>(tally.instructions),
                static_cast<unsigned long long>(disagree));
    for (size_t i = 0; i < sorted.size() && i < 40; ++i)
        std::printf("%8llu  %-44s  e.g. %s\n", static_cast<unsigned long long>(sorted[i].first),
                    sorted[i].second.c_str(), tally.examples[sorted[i].second].c_str());

    ASSERT_GT(tally.instructions, 100000u);
    EXPECT_LE(static_cast<double>(disagree), 1e-3 * static_cast<double>(tally.instructions));
}

}  // namespace
