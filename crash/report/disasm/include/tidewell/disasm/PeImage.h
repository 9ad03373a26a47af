// Minimal reader of 32-bit PE images held in memory as file bytes: the image base, the entry
// point and the sections. Used to find the code range of a module and by host tools.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tidewell/disasm/Decoder.h"

namespace tidewell::disasm {

struct PeSection {
    std::string name;
    uint32_t virtualAddress = 0;  // relative to the image base
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;
    uint32_t characteristics = 0;
    bool IsCode() const { return (characteristics & 0x20000020u) != 0; }  // code / executable
};

struct PeImage {
    uint32_t imageBase = 0;
    uint32_t entryPoint = 0;  // relative
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    std::vector<PeSection> sections;

    // Parses the headers of a PE32 (i386) file; nullopt for anything else or truncated data.
    static std::optional<PeImage> Parse(const std::vector<uint8_t>& file);

    // The image as it is laid out in memory (sections at their virtual addresses, the rest 0).
    std::vector<uint8_t> MapImage(const std::vector<uint8_t>& file) const;
};

}  // namespace tidewell::disasm
