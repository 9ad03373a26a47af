#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crash/analysis/disasm/PageCachedMemory.h"

using namespace tidewell::disasm;

namespace {

// Memory of pages 1 to 4 (page 3 not readable) that counts the reads asked of it.
class CountingMemory final : public MemoryReader {
public:
    CountingMemory() : bytes(5 * 4096) {
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7 + i / 4096);
    }
    bool Read(uint64_t address, void* buffer, uint32_t count) const override {
        ++reads;
        const uint64_t end = uint64_t(address) + count;
        if (address < 4096 || end > bytes.size()) return false;
        if (address < 4 * 4096 && end > 3 * 4096) return false;
        std::memcpy(buffer, bytes.data() + address, count);
        return true;
    }
    bool PageGranular() const override { return granular; }
    std::vector<uint8_t> bytes;
    bool granular = false;
    mutable int reads = 0;
};

}  // namespace

TEST(PageCachedMemoryTest, ReadsEachPageOnceAndReturnsTheSourcesBytes) {
    CountingMemory source;
    PageCachedMemory cache(source);
    for (uint32_t at = 4096 + 4096 - 4; at >= 4096; at -= 4) {
        uint32_t value = 0, expected = 0;
        ASSERT_TRUE(cache.Read(at, &value, 4));
        std::memcpy(&expected, source.bytes.data() + at, 4);
        ASSERT_EQ(value, expected) << at;
    }
    EXPECT_EQ(source.reads, 1);
    // A read across a page boundary joins the two pages.
    uint8_t across[8];
    ASSERT_TRUE(cache.Read(2 * 4096 - 3, across, sizeof across));
    EXPECT_EQ(0, std::memcmp(across, source.bytes.data() + 2 * 4096 - 3, sizeof across));
    EXPECT_EQ(source.reads, 2);
}

TEST(PageCachedMemoryTest, UnreadablePagesAndBoundsFailLikeTheSource) {
    CountingMemory source;
    PageCachedMemory cache(source);
    uint8_t b[16];
    EXPECT_FALSE(cache.Read(3 * 4096 + 8, b, 4));
    EXPECT_FALSE(cache.Read(3 * 4096 - 2, b, 4)); // the readable page before it does not help
    EXPECT_TRUE(cache.Read(3 * 4096 - 4, b, 4));
    EXPECT_FALSE(cache.Read(0, b, 4));
    EXPECT_FALSE(cache.Read(0xFFFFFFFE, b, 4)); // wraps
    EXPECT_FALSE(cache.Read(5 * 4096 - 2, b, 4)); // past the end
    EXPECT_TRUE(cache.Read(123, b, 0));
}

TEST(PageCachedMemoryTest, SourceThatIsNotPageGranularIsAskedForTheBytesThemselves) {
    std::vector<uint8_t> bytes(0x40);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);
    BufferMemory source(0x12340, bytes);
    PageCachedMemory cache(source);
    uint32_t value = 0;
    ASSERT_TRUE(cache.Read(0x12344, &value, 4));
    EXPECT_EQ(value, 0x07060504u);
    EXPECT_FALSE(cache.Read(0x1237E, &value, 4));
}

TEST(PageCachedMemoryTest, KeepsTheLatestPagesAndForgetsOnClear) {
    CountingMemory source;
    PageCachedMemory cache(source, 2);
    uint8_t b;
    ASSERT_TRUE(cache.Read(1 * 4096, &b, 1));
    ASSERT_TRUE(cache.Read(2 * 4096, &b, 1));
    ASSERT_TRUE(cache.Read(1 * 4096 + 1, &b, 1)); // page 1 used last: page 2 goes next
    ASSERT_TRUE(cache.Read(4 * 4096, &b, 1));
    EXPECT_EQ(source.reads, 3);
    ASSERT_TRUE(cache.Read(1 * 4096 + 2, &b, 1));
    EXPECT_EQ(source.reads, 3);
    ASSERT_TRUE(cache.Read(2 * 4096 + 2, &b, 1));
    EXPECT_EQ(source.reads, 4);

    source.bytes[1 * 4096] ^= 0xFF;
    ASSERT_TRUE(cache.Read(1 * 4096, &b, 1));
    EXPECT_NE(b, source.bytes[1 * 4096]); // still the page as first read
    cache.Clear();
    ASSERT_TRUE(cache.Read(1 * 4096, &b, 1));
    EXPECT_EQ(b, source.bytes[1 * 4096]);
}

TEST(PageCachedMemoryTest, PagesOfAProcessThatCannotBeReadAreRememberedAndPushNothingOut) {
    CountingMemory source;
    source.granular = true;
    PageCachedMemory cache(source, 2);
    EXPECT_TRUE(cache.PageGranular());
    uint32_t value;
    ASSERT_TRUE(cache.Read(1 * 4096, &value, 4));
    ASSERT_TRUE(cache.Read(2 * 4096, &value, 4));
    // Values that merely look like addresses: one look per page, however often they come.
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(cache.Read(3 * 4096 + 16 * i, &value, 4));
        EXPECT_FALSE(cache.Read(0x7FFF0000u + 4 * i, &value, 4));
        EXPECT_FALSE(cache.Read(0x10 + i, &value, 4));
    }
    EXPECT_EQ(source.reads, 4);
    // Both readable pages are still there.
    ASSERT_TRUE(cache.Read(1 * 4096 + 8, &value, 4));
    ASSERT_TRUE(cache.Read(2 * 4096 + 8, &value, 4));
    EXPECT_EQ(source.reads, 4);
    // A read that starts readable and runs into an unreadable page fails as a whole.
    EXPECT_FALSE(cache.Read(3 * 4096 - 2, &value, 4));
}
