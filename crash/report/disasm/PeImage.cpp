#include "tidewell/disasm/PeImage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tidewell::disasm {
namespace {

bool Get16(const std::vector<uint8_t>& f, size_t at, uint16_t& v) {
    if (at > f.size() || f.size() - at < 2) return false;
    v = static_cast<uint16_t>(f[at] | (f[at + 1] << 8));
    return true;
}

bool Get32(const std::vector<uint8_t>& f, size_t at, uint32_t& v) {
    if (at > f.size() || f.size() - at < 4) return false;
    v = static_cast<uint32_t>(f[at]) | static_cast<uint32_t>(f[at + 1]) << 8 |
        static_cast<uint32_t>(f[at + 2]) << 16 | static_cast<uint32_t>(f[at + 3]) << 24;
    return true;
}

}  // namespace

std::optional<PeImage> PeImage::Parse(const std::vector<uint8_t>& f) {
    uint16_t mz = 0, machine = 0, count = 0, optSize = 0, magic = 0;
    uint32_t peOffset = 0, signature = 0;
    if (!Get16(f, 0, mz) || mz != 0x5A4D || !Get32(f, 0x3C, peOffset)) return std::nullopt;
    if (!Get32(f, peOffset, signature) || signature != 0x00004550) return std::nullopt;
    const size_t coff = static_cast<size_t>(peOffset) + 4;
    if (!Get16(f, coff, machine) || machine != 0x14C || !Get16(f, coff + 2, count) ||
        !Get16(f, coff + 16, optSize))
        return std::nullopt;
    const size_t opt = coff + 20;
    PeImage pe;
    if (!Get16(f, opt, magic) || magic != 0x10B || !Get32(f, opt + 16, pe.entryPoint) ||
        !Get32(f, opt + 28, pe.imageBase) || !Get32(f, opt + 56, pe.sizeOfImage) ||
        !Get32(f, opt + 60, pe.sizeOfHeaders))
        return std::nullopt;
    size_t at = opt + optSize;
    for (uint16_t i = 0; i < count; ++i, at += 40) {
        if (at > f.size() || f.size() - at < 40) return std::nullopt;
        PeSection s;
        char name[9] = {};
        std::memcpy(name, f.data() + at, 8);
        s.name = name;
        // Long names ("/4") point into the COFF string table after the symbol table.
        uint32_t symbols = 0, symbolCount = 0;
        if (name[0] == '/' && Get32(f, coff + 8, symbols) && Get32(f, coff + 12, symbolCount) && symbols) {
            const uint64_t strings = symbols + static_cast<uint64_t>(symbolCount) * 18;
            const uint64_t at = strings + std::strtoul(name + 1, nullptr, 10);
            if (at < f.size()) {
                std::string longName;
                for (uint64_t i = at; i < f.size() && f[i] && longName.size() < 256; ++i) longName += static_cast<char>(f[i]);
                s.name = longName;
            }
        }
        Get32(f, at + 8, s.virtualSize);
        Get32(f, at + 12, s.virtualAddress);
        Get32(f, at + 16, s.rawSize);
        Get32(f, at + 20, s.rawOffset);
        Get32(f, at + 36, s.characteristics);
        pe.sections.push_back(s);
    }
    return pe;
}

std::vector<uint8_t> PeImage::MapImage(const std::vector<uint8_t>& file) const {
    // Cap the image at 256 MiB: a hostile header must not make us allocate without limit.
    const uint32_t size = std::min<uint32_t>(sizeOfImage, 256u << 20);
    std::vector<uint8_t> image(size, 0);
    const uint64_t headers = std::min<uint64_t>({sizeOfHeaders, file.size(), size});
    std::memcpy(image.data(), file.data(), static_cast<size_t>(headers));
    for (const auto& s : sections) {
        if (s.rawOffset >= file.size() || s.virtualAddress >= size) continue;
        uint64_t n = std::min<uint64_t>(s.rawSize, s.virtualSize ? s.virtualSize : s.rawSize);
        n = std::min<uint64_t>(n, file.size() - s.rawOffset);
        n = std::min<uint64_t>(n, size - s.virtualAddress);
        std::memcpy(image.data() + s.virtualAddress, file.data() + s.rawOffset, static_cast<size_t>(n));
    }
    return image;
}

}  // namespace tidewell::disasm
