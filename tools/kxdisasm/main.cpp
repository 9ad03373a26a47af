// kxdisasm: prints what the crash reporter's decoder makes of x86 code (32-bit or 64-bit).
//
//   kxdisasm --raw FILE BASE [--64]    linear listing of a raw file loaded at BASE (hex)
//   kxdisasm PE [SECTION]              linear listing of the code sections (or one section)
//   kxdisasm PE --function ADDR        analysis and disassembly text of the function at ADDR
//   kxdisasm PE --entry                the same for the entry point
// A PE file's mode comes from its headers (x86-64 machine or PE32+ optional header: 64-bit).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "crash/analysis/disasm/Decoder.h"
#include "crash/analysis/disasm/Disassembly.h"
#include "crash/analysis/disasm/FunctionAnalysis.h"
#include "crash/analysis/disasm/ModuleImage.h"
#include "crash/base/pe/PeImage.h"

using namespace tidewell::disasm;
using debuginfo::PeImage;
using debuginfo::PeSection;

namespace {

bool ReadFile(const char* path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// A hexadecimal address: at most 32 bits in 32-bit mode, 64 in 64-bit mode.
bool ParseHex(const char* s, uint64_t& v, CpuMode mode) {
    char* end = nullptr;
    errno = 0;
    unsigned long long x = std::strtoull(s, &end, 16);
    if (!*s || *end || errno || (mode == CpuMode::X86 && x > 0xFFFFFFFFull)) return false;
    v = x;
    return true;
}

// One line per instruction: address, tab, length, tab, text; undecodable bytes count as one.
void Linear(const MemoryReader& mem, uint64_t begin, uint64_t end, CpuMode mode) {
    std::string out;
    for (uint64_t a = begin; a < end && a >= begin;) {
        InstructionText text;
        DecodedInstruction d = ParseCode(mem, a, nullptr, text, false, mode);
        uint32_t len = d.IsValid ? d.Length() : 1;
        if (d.IsValid && d.Next > end) len = 1, d.IsValid = false;
        out += HexAddress(a, mode);
        out += '\t';
        out += std::to_string(len);
        out += '\t';
        out += d.IsValid ? text.Plain() : "invalid";
        out += '\n';
        if (out.size() > 1 << 16) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
        a += len;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// Names from the image's export directory: the tool has no other debug information.
class ExportNames : public SymbolProvider {
public:
    ExportNames(const MemoryReader& mem, uint64_t base, std::string module) : module_(std::move(module)) {
        const ModuleImage image(mem, base);
        std::optional<debuginfo::PeImage> pe = debuginfo::PeImage::Parse(image);
        if (!pe) return;
        const auto [rva, size] = pe->Directory(debuginfo::kDirectoryExport);
        for (debuginfo::PeExport& e : debuginfo::ReadExports(image, rva, size))
            names_.emplace(base + e.Rva, std::move(e.Name));
    }
    std::string ProcedureName(uint64_t a) const override {
        auto it = names_.find(a);
        return it == names_.end() ? std::string() : it->second;
    }
    std::string ModuleFileName(uint64_t) const override { return module_; }

private:
    std::map<uint64_t, std::string> names_;
    std::string module_;
};

// The analysis of the function at `entry`, then its disassembly text.
int Function(const MemoryReader& mem, uint64_t entry, uint64_t imageBase, uint64_t mark, int limit, bool format,
             const std::string& module, CpuMode mode) {
    DisassemblyOptions options;
    options.analysis.mode = mode;
    auto hex = [mode](uint64_t a) { return HexAddress(a, mode); };
    ExportNames names(mem, imageBase, module);
    options.symbols = &names;
    auto range = ModuleCodeRange(mem, imageBase);
    options.analysis.rangeBegin = range.first;
    options.analysis.rangeEnd = range.second;
    FunctionInfo f = ParseFunction(mem, entry, options.analysis);
    std::printf("; function %s: %s", hex(entry).c_str(), f.IsValid ? "valid" : "invalid");
    if (!f.IsValid) {
        std::printf(" (error %u at %s: %s)\n", f.LastErrorNo, hex(f.LastErrorAddr).c_str(), f.LastErrorStr.c_str());
        return 1;
    }
    std::printf(", code %s +%llu, copy buffer %u, %sinterceptable\n", hex(f.CodeBegin).c_str(),
                static_cast<unsigned long long>(f.CodeLen), f.Copy.BufferLen, f.Interceptable ? "" : "not ");
    for (const auto& a : f.CodeAreas)
        std::printf(";   area %s-%s%s%s%s\n", hex(a.AreaBegin).c_str(), hex(a.AreaEnd).c_str(),
                    a.CaseBlock ? " case table" : "", a.OnExceptBlock ? " exception table" : "",
                    a.CalledFrom ? (" from " + hex(a.CalledFrom)).c_str() : "");
    for (const auto& c : f.FarCalls)
        std::printf(";   far %s at %s to %s\n", c.Call ? "call" : "jump", hex(c.CodeAddr1).c_str(),
                    hex(c.Target).c_str());
    for (const auto& u : f.UnknownTargets)
        std::printf(";   unknown %s at %s\n", u.Call ? "call" : "jump", hex(u.CodeAddr1).c_str());
    std::string text = DisassembleFunction(mem, entry, mark, limit, format, options);
    std::printf("%s\n", text.c_str());
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kxdisasm --raw FILE BASE [--64]\n"
                 "       kxdisasm PEFILE [SECTION]\n"
                 "       kxdisasm PEFILE --function ADDR | --entry [--mark ADDR] [--limit N] [--format]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string first = argv[1];
    std::vector<uint8_t> file;
    if (first == "--raw") {
        const bool x64 = argc == 5 && std::string(argv[4]) == "--64";
        const CpuMode mode = x64 ? CpuMode::X64 : CpuMode::X86;
        uint64_t base = 0;
        if ((argc != 4 && !x64) || !ParseHex(argv[3], base, mode)) return Usage();
        if (!ReadFile(argv[2], file)) {
            std::fprintf(stderr, "kxdisasm: cannot read %s\n", argv[2]);
            return 1;
        }
        if (file.size() > UINT32_MAX || (mode == CpuMode::X64 && file.size() > UINT64_MAX - base)) {
            std::fprintf(stderr, "kxdisasm: %s does not fit the address space at that base\n", argv[2]);
            return 1;
        }
        BufferMemory mem(base, file);
        // In 32-bit mode bytes past 4 GiB are not code (the decoder reads nothing there).
        Linear(mem, base, base + file.size(), mode);
        return 0;
    }
    if (!ReadFile(argv[1], file)) {
        std::fprintf(stderr, "kxdisasm: cannot read %s\n", argv[1]);
        return 1;
    }
    auto pe = PeImage::Parse(file.data(), file.size());
    if (!pe) {
        std::fprintf(stderr, "kxdisasm: %s is not a PE file\n", argv[1]);
        return 1;
    }
    const CpuMode mode = pe->Machine == 0x8664 || pe->Pe32Plus ? CpuMode::X64 : CpuMode::X86;
    const uint64_t imageBase = pe->ImageBase;
    std::vector<uint8_t> image = pe->MapImage(file.data(), file.size());
    BufferMemory mem(imageBase, image);
    if (argc == 2 || (argc == 3 && argv[2][0] != '-')) {
        for (const auto& s : pe->Sections) {
            if (argc == 3 ? s.Name != argv[2] : !s.IsCode()) continue;
            std::printf("; section %s\n", s.Name.c_str());
            std::fflush(stdout);
            uint32_t size = s.VirtualSize ? std::min(s.VirtualSize, s.SizeOfRawData) : s.SizeOfRawData;
            Linear(mem, imageBase + s.VirtualAddress, imageBase + s.VirtualAddress + size, mode);
        }
        return 0;
    }
    std::string view = argv[2];
    uint64_t entry = 0, mark = 0;
    int limit = 0;
    bool format = false;
    if (view == "--entry") entry = imageBase + pe->AddressOfEntryPoint;
    else if (view != "--function" || argc < 4 || !ParseHex(argv[3], entry, mode)) return Usage();
    for (int i = view == "--entry" ? 3 : 4; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "--format") format = true;
        else if (opt == "--mark" && i + 1 < argc && ParseHex(argv[i + 1], mark, mode)) ++i;
        else if (opt == "--limit" && i + 1 < argc) limit = std::atoi(argv[++i]);
        else return Usage();
    }
    std::string module = argv[1];
    module = module.substr(module.find_last_of('/') + 1);
    return Function(mem, entry, imageBase, mark ? mark : entry, limit, format, module, mode);
}
