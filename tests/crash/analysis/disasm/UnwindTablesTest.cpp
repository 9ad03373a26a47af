#include <gtest/gtest.h>

#include <vector>

#include "crash/analysis/disasm/FunctionAnalysis.h"
#include "crash/analysis/disasm/UnwindTables.h"

using namespace tidewell::disasm;

namespace {

constexpr uint32_t kBase = 0x00600000;

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// Memory with code at kBase, an .eh_frame at kBase + 0x100 and an exception table at +0x200.
struct Image {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(0x300, 0xCC);
    uint32_t ehBegin = kBase + 0x100, ehEnd = 0;

    Image(uint8_t fdeEncoding, bool withLsda) {
        std::vector<uint8_t> eh;
        // CIE: version 1, "zLR", code align 1, data align -4, return address 8.
        std::vector<uint8_t> cie = {0, 0, 0, 0, 1, 'z', 'L', 'R', 0, 1, 0x7C, 8, 2, 0x00, fdeEncoding};
        Put32(eh, static_cast<uint32_t>(cie.size()));
        eh.insert(eh.end(), cie.begin(), cie.end());
        // FDE for [kBase, kBase + 0x40).
        const uint32_t fdeAt = static_cast<uint32_t>(eh.size());
        std::vector<uint8_t> fde;
        Put32(fde, fdeAt + 4);  // back to the CIE
        const uint32_t pcField = ehBegin + fdeAt + 8;
        Put32(fde, fdeEncoding == 0x1B ? kBase - pcField : kBase);
        Put32(fde, 0x40);
        fde.push_back(4);
        Put32(fde, withLsda ? kBase + 0x200 : 0);
        Put32(eh, static_cast<uint32_t>(fde.size()));
        eh.insert(eh.end(), fde.begin(), fde.end());
        Put32(eh, 0);  // terminator
        std::copy(eh.begin(), eh.end(), bytes.begin() + 0x100);
        ehEnd = ehBegin + static_cast<uint32_t>(eh.size());
        // LSDA: no landing-pad base, no type table, call sites in ULEB128.
        const std::vector<uint8_t> lsda = {0xFF, 0xFF, 0x01, 12,
                                           0x00, 0x05, 0x20, 0x00,   // [0,5) -> pad 20
                                           0x05, 0x03, 0x00, 0x00,   // [5,8) no pad
                                           0x08, 0x02, 0x30, 0x01};  // [8,10) -> pad 30
        std::copy(lsda.begin(), lsda.end(), bytes.begin() + 0x200);
        // Code: the body returns at 0A; the pads are reached by the unwinder only.
        const std::vector<uint8_t> body = {0x55, 0x89, 0xE5, 0x90, 0x90, 0x90, 0x90, 0x90, 0x5D, 0x90, 0xC3};
        std::copy(body.begin(), body.end(), bytes.begin());
        bytes[0x20] = 0x40;  // pad: inc eax / ret
        bytes[0x21] = 0xC3;
        bytes[0x30] = 0x48;  // pad: dec eax / ret
        bytes[0x31] = 0xC3;
    }
};

TEST(UnwindTables, FrameDescriptionsAndLandingPads) {
    for (uint8_t encoding : {uint8_t{0x00}, uint8_t{0x1B}}) {  // absolute, and pc-relative sdata4
        Image image(encoding, true);
        BufferMemory mem(kBase, image.bytes);
        auto fdes = ReadFrameDescriptions(mem, image.ehBegin, image.ehEnd);
        ASSERT_EQ(fdes.size(), 1u) << int(encoding);
        EXPECT_EQ(fdes[0].begin, kBase);
        EXPECT_EQ(fdes[0].end, kBase + 0x40);
        EXPECT_EQ(fdes[0].lsda, kBase + 0x200);
        EXPECT_EQ(LandingPads(mem, fdes[0]), (std::vector<uint32_t>{kBase + 0x20, kBase + 0x30}));
        EXPECT_EQ(LandingPadsAt(mem, image.ehBegin, image.ehEnd, kBase + 5).size(), 2u);
        EXPECT_TRUE(LandingPadsAt(mem, image.ehBegin, image.ehEnd, kBase + 0x40).empty());

        // The analysis takes the pads in as part of the function.
        AnalysisOptions options;
        const std::vector<uint32_t> pads = LandingPads(mem, fdes[0]);
        options.extraEntries.assign(pads.begin(), pads.end());
        FunctionInfo f = ParseFunction(mem, kBase, options);
        ASSERT_TRUE(f.IsValid);
        EXPECT_EQ(f.CodeLen, 0x32u);
        EXPECT_EQ(ParseFunction(mem, kBase).CodeLen, 0x0Bu);
    }
}

TEST(UnwindTables, DamagedTablesAreSkippedWithoutReadingOutside) {
    Image image(0x00, false);
    BufferMemory mem(kBase, image.bytes);
    auto fdes = ReadFrameDescriptions(mem, image.ehBegin, image.ehEnd);
    ASSERT_EQ(fdes.size(), 1u);
    EXPECT_EQ(fdes[0].lsda, 0u);
    EXPECT_TRUE(LandingPads(mem, fdes[0]).empty());
    // A record length beyond the section, a CIE pointer before it, a section that ends inside
    // the image: no results, no reads beyond the buffer (the sanitizer would see them).
    Image broken(0x00, true);
    broken.bytes[0x100] = 0xF0;
    BufferMemory brokenMem(kBase, broken.bytes);
    EXPECT_TRUE(ReadFrameDescriptions(brokenMem, broken.ehBegin, broken.ehEnd).empty());
    Image badCie(0x00, true);
    badCie.bytes[0x100 + 4 + 15 + 4] = 0xFF;  // the FDE's CIE pointer
    BufferMemory badCieMem(kBase, badCie.bytes);
    EXPECT_TRUE(ReadFrameDescriptions(badCieMem, badCie.ehBegin, badCie.ehEnd).empty());
    EXPECT_TRUE(ReadFrameDescriptions(mem, kBase + 0x2F0, kBase + 0x400).empty());
    FrameDescription outside{kBase, kBase + 0x40, kBase + 0x2FE};
    EXPECT_TRUE(LandingPads(mem, outside).empty());
}

}  // namespace
