// Compares the decoder with Capstone, an independent decoder, over every instruction of real
// 32-bit code: the code sections of Tidewell.exe (when the cross tree has been built) and of a
// set of Wine's i386 DLLs. Both decoders walk the code linearly from the same positions;
// lengths and validity must agree. Disagreements are grouped by their leading opcode bytes
// and printed, so a regression shows which instruction class broke.
#include <capstone/capstone.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "crash/analysis/disasm/Decoder.h"
#include "crash/base/pe/PeImage.h"
#include "tests/crash/analysis/disasm/HexBytes.h"

using namespace tidewell::disasm;
using debuginfo::PeImage;
using debuginfo::PeSection;

namespace {

const char* const kWineDir = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
const char* const kWineDlls[] = {"ntdll.dll",   "kernelbase.dll", "msvcrt.dll",  "ucrtbase.dll", "user32.dll",
                                 "gdi32.dll",   "comctl32.dll",   "ole32.dll",   "oleaut32.dll", "msvcp140.dll",
                                 "d3dx9_43.dll", "wined3d.dll",    "jscript.dll", "gdiplus.dll"};

struct Tally {
    uint64_t instructions = 0;
    uint64_t agree = 0;
    std::map<std::string, uint64_t> classes;  // "kind: leading bytes" -> count
    std::map<std::string, std::string> examples;
    std::map<std::string, bool> known;
};

using test::Bytes;

// Leading bytes that identify the instruction class: prefixes, opcode bytes and the ModR/M
// reg field.
std::string ClassKey(const uint8_t* p, size_t avail) {
    size_t i = 0;
    std::string key;
    while (i < avail && i < 4 && (p[i] == 0x66 || p[i] == 0x67 || p[i] == 0xF2 || p[i] == 0xF3 || p[i] == 0xF0 ||
                                 p[i] == 0x2E || p[i] == 0x3E || p[i] == 0x26 || p[i] == 0x36 || p[i] == 0x64 ||
                                 p[i] == 0x65))
        ++i;
    size_t op = i;
    if (i < avail && p[i] == 0x0F) {
        ++i;
        if (i < avail && (p[i] == 0x38 || p[i] == 0x3A)) ++i;
    }
    if (i < avail) ++i;
    if (i < avail && op + 1 < avail && (p[op] >= 0xD8 && p[op] <= 0xDF)) {
        key = Bytes(p, i) + (p[i] >= 0xC0 ? " " + Bytes(p + i, 1) : " /" + std::to_string((p[i] >> 3) & 7));
    } else {
        key = Bytes(p, i);
    }
    return key;
}

// Opcode bytes (after the prefixes) of the known disagreement classes, with the reason.
bool KnownDisagreement(const uint8_t* p, size_t avail) {
    size_t i = 0;
    while (i < avail && i < 4 && (p[i] == 0x66 || p[i] == 0xF2 || p[i] == 0xF3)) ++i;
    if (avail - i < 3) return false;
    const uint8_t a = p[i], b = p[i + 1], c = p[i + 2];
    if (a == 0xC6 || a == 0xC7) return true;  // xabort/xbegin (TSX): not in the supported map
    if (a != 0x0F) return false;
    switch (b) {
    case 0x01: return true;                   // newer 0F 01 register forms (SGX encls, ...)
    case 0x0D: return true;                   // 3DNow! prefetch: Capstone 4 lacks most forms
    case 0x18: case 0x19: case 0x1A: case 0x1B: case 0x1C: case 0x1D: case 0x1E: case 0x1F:
        return true;                          // hint NOPs with register operands: Capstone 4 rejects
    case 0x20: case 0x21: case 0x22: case 0x23:
        return true;                          // control/debug moves need register operands here
    case 0x78: return true;                   // AMD SSE4a extrq/insertq: not in the supported map
    case 0xA6: case 0xA7: return true;        // VIA PadLock
    case 0xB9: return true;                   // ud1 has a ModR/M byte; Capstone 4 decodes 2 bytes
    case 0xC7: return true;                   // xsavec/xsaves/xrstors: not in the supported map
    case 0xFF: return true;                   // ud0: not in the supported map
    case 0x38:                                // SHA, ADX, INVEPT/INVVPID/INVPCID
        return (c >= 0xC8 && c <= 0xCD) || c == 0xF6 || (c >= 0x80 && c <= 0x82);
    case 0x3A: return c == 0xCC;              // SHA
    default: return false;
    }
}

void CompareSection(csh cs, const BufferMemory& mem, const uint8_t* code, uint32_t size, uint32_t address,
                    Tally& tally, bool firstOnly = false) {
    cs_insn* insn = cs_malloc(cs);
    uint32_t pos = 0;
    while (pos < size) {
        const uint8_t* p = code + pos;
        const uint8_t* cp = p;
        size_t left = size - pos;
        uint64_t addr = address + pos;
        bool theirsValid = cs_disasm_iter(cs, &cp, &left, &addr, insn);
        uint32_t theirsLen = theirsValid ? insn->size : 0;
        DecodedInstruction d = ParseCode(mem, address + pos, false);
        bool oursValid = d.IsValid && d.Next <= address + size;
        uint32_t oursLen = oursValid ? d.Length() : 0;
        ++tally.instructions;
        if (oursValid == theirsValid && oursLen == theirsLen) {
            ++tally.agree;
        } else {
            std::string kind = !oursValid ? "only capstone decodes"
                             : !theirsValid ? "only we decode"
                                            : "lengths differ";
            std::string key = kind + ": " + ClassKey(p, size - pos);
            if (tally.classes[key]++ == 0) {
                tally.known[key] = KnownDisagreement(p, size - pos);
                tally.examples[key] = Bytes(p, std::min<size_t>(size - pos, 12)) + "  capstone: " +
                                      (theirsValid ? std::string(insn->mnemonic) + " " + insn->op_str : "invalid");
            }
        }
        if (firstOnly) break;
        pos += oursValid ? oursLen : 1;
    }
    cs_free(insn, 1);
}

bool LoadFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::vector<std::string> InputFiles() {
    std::vector<std::string> files;
    for (const char* dll : kWineDlls) {
        std::string path = std::string(kWineDir) + dll;
        if (std::filesystem::exists(path)) files.push_back(path);
    }
#ifdef TIDEWELL_EXE
    if (std::filesystem::exists(TIDEWELL_EXE)) files.push_back(TIDEWELL_EXE);
#endif
    return files;
}

TEST(DisasmDifferential, AgreesWithCapstoneOnRealCode) {
    std::vector<std::string> files = InputFiles();
    if (files.empty()) GTEST_SKIP() << "no 32-bit PE files found";
    csh cs;
    ASSERT_EQ(cs_open(CS_ARCH_X86, CS_MODE_32, &cs), CS_ERR_OK);
    Tally tally;
    for (const auto& path : files) {
        std::vector<uint8_t> file;
        ASSERT_TRUE(LoadFile(path, file)) << path;
        auto pe = PeImage::Parse(file.data(), file.size());
        ASSERT_TRUE(pe.has_value()) << path;
        std::vector<uint8_t> image = pe->MapImage(file.data(), file.size());
        BufferMemory mem(pe->ImageBase, image);
        for (const auto& s : pe->Sections) {
            if (!s.IsCode() || s.VirtualAddress >= image.size()) continue;
            uint32_t size = std::min<uint32_t>(s.VirtualSize ? s.VirtualSize : s.SizeOfRawData, s.SizeOfRawData);
            size = std::min<uint32_t>(size, static_cast<uint32_t>(image.size()) - s.VirtualAddress);
            CompareSection(cs, mem, image.data() + s.VirtualAddress, size, pe->ImageBase + s.VirtualAddress, tally);
        }
    }
    cs_close(&cs);

    std::vector<std::pair<uint64_t, std::string>> sorted;
    for (const auto& [key, count] : tally.classes) sorted.push_back({count, key});
    std::sort(sorted.rbegin(), sorted.rend());
    std::printf("files: %zu, instructions: %llu, agreeing: %llu, disagreeing: %llu (%.4f%%)\n", files.size(),
                static_cast<unsigned long long>(tally.instructions), static_cast<unsigned long long>(tally.agree),
                static_cast<unsigned long long>(tally.instructions - tally.agree),
                100.0 * static_cast<double>(tally.instructions - tally.agree) / static_cast<double>(tally.instructions));
    for (size_t i = 0; i < sorted.size() && i < 60; ++i)
        std::printf("%8llu  %-40s  e.g. %s\n", static_cast<unsigned long long>(sorted[i].first),
                    sorted[i].second.c_str(), tally.examples[sorted[i].second].c_str());

    ASSERT_GT(tally.instructions, 100000u);
    // Essentially all instructions agree; the few known disagreement classes are listed in the
    // component README with their reasons.
    EXPECT_LT(static_cast<double>(tally.instructions - tally.agree), 1e-4 * static_cast<double>(tally.instructions));
}

// Every opcode of the one-byte, 0x0F, 0x0F38 and 0x0F3A maps, with every ModR/M byte, with
// no prefix and with 66, F3 and F2. The bytes after the ModR/M byte are fixed filler, so SIB,
// displacement and immediate lengths are all exercised.
TEST(DisasmDifferential, OpcodeSpaceAgreesWithCapstone) {
    csh cs;
    ASSERT_EQ(cs_open(CS_ARCH_X86, CS_MODE_32, &cs), CS_ERR_OK);
    Tally tally;
    const uint8_t prefixes[] = {0, 0x66, 0xF3, 0xF2};
    std::vector<std::vector<uint8_t>> openings;
    for (int op = 0; op < 256; ++op) openings.push_back({static_cast<uint8_t>(op)});
    for (int op = 0; op < 256; ++op) openings.push_back({0x0F, static_cast<uint8_t>(op)});
    for (int op = 0; op < 256; ++op) openings.push_back({0x0F, 0x38, static_cast<uint8_t>(op)});
    for (int op = 0; op < 256; ++op) openings.push_back({0x0F, 0x3A, static_cast<uint8_t>(op)});
    for (uint8_t prefix : prefixes) {
        for (const auto& opening : openings) {
            uint8_t first = opening[0];
            bool isPrefix = first == 0x66 || first == 0x67 || first == 0xF0 || first == 0xF2 || first == 0xF3 ||
                            first == 0x26 || first == 0x2E || first == 0x36 || first == 0x3E || first == 0x64 ||
                            first == 0x65;
            if (isPrefix || (opening.size() == 2 && (opening[1] == 0x38 || opening[1] == 0x3A))) continue;
            // 3DNow! needs a valid suffix to be meaningful; capstone 4 does not decode it anyway.
            if (opening.size() == 2 && opening[1] == 0x0F) continue;
            for (int modrm = 0; modrm < 256; ++modrm) {
                std::vector<uint8_t> code;
                if (prefix) code.push_back(prefix);
                code.insert(code.end(), opening.begin(), opening.end());
                code.push_back(static_cast<uint8_t>(modrm));
                const uint8_t filler[] = {0x25, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x11, 0x12};
                code.insert(code.end(), std::begin(filler), std::end(filler));
                BufferMemory mem(0x1000, code);
                CompareSection(cs, mem, code.data(), static_cast<uint32_t>(code.size()), 0x1000, tally, true);
            }
        }
    }
    cs_close(&cs);
    std::vector<std::pair<uint64_t, std::string>> sorted;
    for (const auto& [key, count] : tally.classes) sorted.push_back({count, key});
    std::sort(sorted.rbegin(), sorted.rend());
    uint64_t unexpected = 0;
    for (const auto& [key, count] : tally.classes) {
        if (!tally.known[key]) {
            unexpected += count;
            ADD_FAILURE() << "unexpected disagreement " << key << " e.g. " << tally.examples[key];
        }
    }
    EXPECT_EQ(unexpected, 0u);
    std::printf("encodings: %llu, disagreeing: %llu, classes: %zu\n",
                static_cast<unsigned long long>(tally.instructions),
                static_cast<unsigned long long>(tally.instructions - tally.agree), sorted.size());
    for (size_t i = 0; i < sorted.size() && i < 40; ++i)
        std::printf("%8llu  %-40s  e.g. %s\n", static_cast<unsigned long long>(sorted[i].first),
                    sorted[i].second.c_str(), tally.examples[sorted[i].second].c_str());
}

}  // namespace
