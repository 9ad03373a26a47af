// kxdisasm: prints what the crash reporter's decoder makes of 32-bit x86 code.
//
//   kxdisasm --raw FILE BASE           linear listing of a raw file loaded at BASE (hex)
//   kxdisasm PE [SECTION]              linear listing of the code sections (or one section)
//   kxdisasm PE --function ADDR        analysis and disassembly text of the function at ADDR
//   kxdisasm PE --entry                the same for the entry point
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tidewell/disasm/Decoder.h"
#include "tidewell/disasm/PeImage.h"

using namespace tidewell::disasm;

namespace {

bool ReadFile(const char* path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool ParseHex(const char* s, uint32_t& v) {
    char* end = nullptr;
    unsigned long long x = std::strtoull(s, &end, 16);
    if (!*s || *end || x > 0xFFFFFFFFull) return false;
    v = static_cast<uint32_t>(x);
    return true;
}

// One line per instruction: address, tab, length, tab, text; undecodable bytes count as one.
void Linear(const MemoryReader& mem, uint32_t begin, uint32_t end) {
    std::string out;
    for (uint32_t a = begin; a < end && a >= begin;) {
        InstructionText text;
        DecodedInstruction d = ParseCode(mem, a, nullptr, text, false);
        uint32_t len = d.IsValid ? d.Length() : 1;
        if (d.IsValid && d.Next > end) len = 1, d.IsValid = false;
        out += Hex8(a);
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

int Usage() {
    std::fprintf(stderr,
                 "usage: kxdisasm --raw FILE BASE\n"
                 "       kxdisasm PEFILE [SECTION]\n"
                 "       kxdisasm PEFILE --function ADDR | --entry\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string first = argv[1];
    std::vector<uint8_t> file;
    if (first == "--raw") {
        uint32_t base = 0;
        if (argc != 4 || !ParseHex(argv[3], base)) return Usage();
        if (!ReadFile(argv[2], file)) {
            std::fprintf(stderr, "kxdisasm: cannot read %s\n", argv[2]);
            return 1;
        }
        BufferMemory mem(base, file);
        Linear(mem, base, base + static_cast<uint32_t>(file.size()));
        return 0;
    }
    if (!ReadFile(argv[1], file)) {
        std::fprintf(stderr, "kxdisasm: cannot read %s\n", argv[1]);
        return 1;
    }
    auto pe = PeImage::Parse(file);
    if (!pe) {
        std::fprintf(stderr, "kxdisasm: %s is not a 32-bit PE file\n", argv[1]);
        return 1;
    }
    std::vector<uint8_t> image = pe->MapImage(file);
    BufferMemory mem(pe->imageBase, image);
    if (argc == 2 || argc == 3) {
        for (const auto& s : pe->sections) {
            if (argc == 3 ? s.name != argv[2] : !s.IsCode()) continue;
            std::printf("; section %s\n", s.name.c_str());
            std::fflush(stdout);
            uint32_t size = s.virtualSize ? std::min(s.virtualSize, s.rawSize) : s.rawSize;
            Linear(mem, pe->imageBase + s.virtualAddress, pe->imageBase + s.virtualAddress + size);
        }
        return 0;
    }
    return Usage();
}
