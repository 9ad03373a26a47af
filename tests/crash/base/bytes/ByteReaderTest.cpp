#include "crash/base/bytes/ByteReader.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ByteReader, ReadsLittleEndianFieldsAndFailsPastTheEnd) {
  const std::vector<uint8_t> b = {0x01, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89,
                                  0x67, 0x45, 0x23, 0x01, 0xAA};
  kx::ByteReader r(b.data(), b.size());
  EXPECT_EQ(r.U8(), 0x01);
  EXPECT_EQ(r.U16(), 0x1234);
  EXPECT_EQ(r.U32(), 0x12345678u);
  EXPECT_EQ(r.U64(), 0x0123456789ABCDEFull);
  EXPECT_FALSE(r.Failed());
  EXPECT_EQ(r.Remaining(), 1u);
  // Two bytes wanted, one left: zero, failed, and the position at the end.
  EXPECT_EQ(r.U16(), 0);
  EXPECT_TRUE(r.Failed());
  EXPECT_EQ(r.Position(), b.size());
  EXPECT_EQ(r.U8(), 0);
  EXPECT_TRUE(r.Bytes(1).empty());
}

TEST(ByteReader, EmptyAndNullInputsReadNothing) {
  kx::ByteReader none(nullptr, 100);
  EXPECT_EQ(none.Size(), 0u);
  EXPECT_EQ(none.U32(), 0u);
  EXPECT_TRUE(none.Failed());
  kx::ByteReader empty;
  EXPECT_TRUE(empty.Bytes(0).empty());
  EXPECT_FALSE(empty.Failed());
  EXPECT_EQ(empty.Peek(), 0);
  EXPECT_FALSE(empty.Failed()); // peeking at the end is no failure
}

TEST(ByteReader, SignExtendsFromTheTopBitOfEachWidth) {
  const std::vector<uint8_t> b = {0x80, 0x7F, 0x00, 0x00, 0x00, 0x80, 0xFE, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF};
  kx::ByteReader r(b.data(), b.size());
  EXPECT_EQ(r.S8(), -128);
  EXPECT_EQ(r.S16(), 0x7F);
  EXPECT_EQ(r.Signed(3), -0x800000);
  EXPECT_EQ(r.Signed(3), -2);
  EXPECT_EQ(r.Signed(1), 0x7F);
  EXPECT_EQ(r.S16(), -1);
  EXPECT_FALSE(r.Failed());
  kx::ByteReader widths(b.data(), b.size());
  EXPECT_EQ(widths.Signed(0), 0);
  EXPECT_TRUE(widths.Failed());
  kx::ByteReader wide(b.data(), b.size());
  EXPECT_EQ(wide.Unsigned(9), 0u);
  EXPECT_TRUE(wide.Failed());
}

TEST(ByteReader, Leb128WithinTenBytesAndFailingBeyond) {
  {
    const std::vector<uint8_t> b = {0xE5, 0x8E, 0x26, 0x7F, 0x80, 0x7F, 0xC0, 0xBB, 0x78};
    kx::ByteReader r(b.data(), b.size());
    EXPECT_EQ(r.ULeb128(), 624485u);
    EXPECT_EQ(r.SLeb128(), -1);
    EXPECT_EQ(r.SLeb128(), -128);
    EXPECT_EQ(r.SLeb128(), -123456);
    EXPECT_FALSE(r.Failed());
  }
  {
    // The largest value in ten bytes; bits past 64 are dropped.
    const std::vector<uint8_t> b = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    kx::ByteReader r(b.data(), b.size());
    EXPECT_EQ(r.ULeb128(), ~uint64_t(0));
    EXPECT_FALSE(r.Failed());
    kx::ByteReader s(b.data(), b.size());
    EXPECT_EQ(s.SLeb128(), -1);
    EXPECT_FALSE(s.Failed());
  }
  {
    // Eleven bytes are too long, however they end.
    const std::vector<uint8_t> b(11, 0x80);
    std::vector<uint8_t> terminated = b;
    terminated.push_back(0x00);
    kx::ByteReader r(terminated.data(), terminated.size());
    EXPECT_EQ(r.ULeb128(), 0u);
    EXPECT_TRUE(r.Failed());
    kx::ByteReader s(terminated.data(), terminated.size());
    EXPECT_EQ(s.SLeb128(), 0);
    EXPECT_TRUE(s.Failed());
  }
  {
    const std::vector<uint8_t> unterminated = {0x80, 0x80};
    kx::ByteReader r(unterminated.data(), unterminated.size());
    EXPECT_EQ(r.ULeb128(), 0u);
    EXPECT_TRUE(r.Failed());
    EXPECT_EQ(r.Remaining(), 0u);
  }
}

TEST(ByteReader, SeekSkipAndViewsStayInside) {
  const std::string text = "abcdef";
  kx::ByteReader r(text);
  EXPECT_EQ(r.Text(2), "ab");
  EXPECT_EQ(r.Peek(), 'c');
  r.Skip(3);
  EXPECT_FALSE(r.Failed());
  EXPECT_EQ(r.Text(1), "f");
  EXPECT_TRUE(r.Seek(6)); // the end itself is a position
  EXPECT_FALSE(r.Failed());
  EXPECT_TRUE(r.Seek(1));
  EXPECT_EQ(r.Bytes(2).size(), 2u);
  EXPECT_FALSE(r.Failed());

  kx::ByteReader skip(text);
  skip.Skip(7);
  EXPECT_TRUE(skip.Failed());
  EXPECT_EQ(skip.Position(), 6u);

  kx::ByteReader seek(text);
  EXPECT_FALSE(seek.Seek(7));
  EXPECT_TRUE(seek.Failed());
  EXPECT_EQ(seek.U8(), 0);

  kx::ByteReader huge(text);
  EXPECT_TRUE(huge.Text(SIZE_MAX).empty()); // no overflow in the bounds check
  EXPECT_TRUE(huge.Failed());
  kx::ByteReader skipHuge(text);
  skipHuge.U8();
  skipHuge.Skip(SIZE_MAX);
  EXPECT_TRUE(skipHuge.Failed());
}

} // namespace
