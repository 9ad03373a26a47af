// The property-stream codec on its own: what the writer picks for each value, what the reader
// accepts, and data that ends early or claims more than it holds.
#include <gtest/gtest.h>

#include <vector>

#include "crash/base/propstream/PropertyStream.h"

namespace kx {
namespace {

using TStatus = TPropertyStreamReader::TStatus;

constexpr TPropValueTypes kEveryType = {
    TPropValueType::vaInt8,  TPropValueType::vaInt16, TPropValueType::vaInt32,   TPropValueType::vaString,
    TPropValueType::vaIdent, TPropValueType::vaFalse, TPropValueType::vaTrue,    TPropValueType::vaLString,
    TPropValueType::vaWString, TPropValueType::vaUtf8String};

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values)
    out += char(uint8_t(v));
  return out;
}

std::string Short(const std::string &text) { return char(uint8_t(text.size())) + text; }

struct TRead {
  std::string name;
  TPropValue value;
};

// Reads the properties of the one object of a stream until the end of its list or a failure.
TStatus ReadAll(std::string_view bytes, std::vector<TRead> &read, TPropValueTypes accepted = kEveryType) {
  ByteReader in(bytes);
  TPropertyStreamReader stream(in);
  std::string_view className, objectName;
  if (!stream.Signature() || !stream.ObjectHeader(className, objectName))
    return TStatus::truncated;
  for (;;) {
    std::string_view name;
    TPropValue value;
    TStatus status = stream.Property(name, value, accepted);
    if (status != TStatus::property) {
      if (status == TStatus::badType)
        read.push_back({"", value});
      return status;
    }
    read.push_back({std::string(name), value});
  }
}

TEST(PropertyStream, WriterPicksTheTypeAndTheReaderGivesTheValueBack) {
  TPropertyStreamWriter w;
  w.BeginObject("TClass", "Object");
  const int32_t integers[] = {0, 127, -128, 128, -129, 32767, -32768, 32768, -32769, INT32_MAX, INT32_MIN};
  for (int32_t v : integers)
    w.Integer("i", v);
  w.Int32("fixed", 5);
  w.String("short", std::string(255, 's'));
  w.String("long", std::string(256, 'l'));
  w.LString("lstring", "x");
  w.Ident("ident", "nvoHeader");
  w.Boolean("yes", true);
  w.Boolean("no", false);
  w.EndList();
  w.EndList();

  std::vector<TRead> read;
  ASSERT_EQ(ReadAll(w.Bytes(), read), TStatus::endOfList);
  ASSERT_EQ(read.size(), std::size(integers) + 7);
  const TPropValueType widths[] = {TPropValueType::vaInt8,  TPropValueType::vaInt8,  TPropValueType::vaInt8,
                                   TPropValueType::vaInt16, TPropValueType::vaInt16, TPropValueType::vaInt16,
                                   TPropValueType::vaInt16, TPropValueType::vaInt32, TPropValueType::vaInt32,
                                   TPropValueType::vaInt32, TPropValueType::vaInt32};
  for (size_t i = 0; i < std::size(integers); ++i) {
    EXPECT_EQ(read[i].value.type, widths[i]) << integers[i];
    EXPECT_EQ(read[i].value.integer, integers[i]);
  }
  const TRead *rest = &read[std::size(integers)];
  EXPECT_EQ(rest[0].value.type, TPropValueType::vaInt32);
  EXPECT_EQ(rest[0].value.integer, 5);
  EXPECT_EQ(rest[1].value.type, TPropValueType::vaString);
  EXPECT_EQ(rest[1].value.text, std::string(255, 's'));
  EXPECT_EQ(rest[2].value.type, TPropValueType::vaLString);
  EXPECT_EQ(rest[2].value.text, std::string(256, 'l'));
  EXPECT_EQ(rest[3].value.type, TPropValueType::vaLString);
  EXPECT_EQ(rest[4].value.type, TPropValueType::vaIdent);
  EXPECT_EQ(rest[4].value.text, "nvoHeader");
  EXPECT_TRUE(rest[5].value.boolean);
  EXPECT_TRUE(rest[5].value.IsBoolean());
  EXPECT_FALSE(rest[6].value.boolean);
  EXPECT_EQ(rest[6].name, "no");
}

TEST(PropertyStream, WriterCutsNamesAndShortTextsAt255) {
  TPropertyStreamWriter w;
  w.BeginObject(std::string(300, 'C'), "O");
  w.Ident(std::string(256, 'n'), std::string(400, 'v'));
  w.EndList();
  ByteReader in(w.Bytes());
  TPropertyStreamReader stream(in);
  std::string_view className, objectName, name;
  TPropValue value;
  ASSERT_TRUE(stream.Signature());
  ASSERT_TRUE(stream.ObjectHeader(className, objectName));
  EXPECT_EQ(className.size(), 255u);
  ASSERT_EQ(stream.Property(name, value, kEveryType), TStatus::property);
  EXPECT_EQ(name.size(), 255u);
  EXPECT_EQ(value.text.size(), 255u);
}

TEST(PropertyStream, WideAndUtf8TextsAreHandedOutRaw) {
  std::string stream = "TPF0" + Short("T") + Short("O");
  stream += Short("W") + Bytes({18, 3, 0, 0, 0, 'A', 0, 0xAC, 0x20, 0x3D, 0xD8});
  stream += Short("U") + Bytes({20, 2, 0, 0, 0, 0xC3, 0xA9}) + Bytes({0});
  std::vector<TRead> read;
  ASSERT_EQ(ReadAll(stream, read), TStatus::endOfList);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].value.WideText(), (std::u16string{u'A', u'\u20ac', char16_t(0xD83D)}));
  EXPECT_EQ(read[1].value.text, "\xC3\xA9");
}

TEST(PropertyStream, TypesOutsideTheAcceptedSetStopTheReading) {
  const std::string head = "TPF0" + Short("T") + Short("O") + Short("A") + Bytes({2, 5});
  constexpr TPropValueTypes integersOnly = {TPropValueType::vaInt8};
  for (uint8_t type : {uint8_t(0), uint8_t(1), uint8_t(7), uint8_t(31), uint8_t(32), uint8_t(0xFF)}) {
    std::vector<TRead> read;
    EXPECT_EQ(ReadAll(head + Short("B") + Bytes({type, 0, 0, 0, 0, 0}), read, integersOnly), TStatus::badType);
    ASSERT_EQ(read.size(), 2u) << int(type);
    EXPECT_EQ(read[0].value.integer, 5);
    EXPECT_EQ(uint8_t(read[1].value.type), type);
  }
}

TEST(PropertyStream, EveryCutFailsAsTruncatedWithinTheData) {
  TPropertyStreamWriter w;
  w.BeginObject("TClass", "Object");
  w.Integer("a", 1);
  w.Integer("b", 1000);
  w.Integer("c", 100000);
  w.String("d", "text");
  w.String("e", std::string(300, 'e'));
  w.Ident("f", "id");
  w.Boolean("g", true);
  std::string full = w.Bytes();
  full += Short("h") + Bytes({18, 2, 0, 0, 0, 'x', 0, 'y', 0});
  full += Short("i") + Bytes({20, 1, 0, 0, 0, 'z'}) + Bytes({0});
  std::vector<TRead> whole;
  ASSERT_EQ(ReadAll(full, whole), TStatus::endOfList);
  for (size_t cut = 4 + 7 + 7; cut < full.size(); ++cut) {
    const std::vector<char> part(full.begin(), full.begin() + std::ptrdiff_t(cut)); // exact size for ASan
    std::vector<TRead> read;
    EXPECT_EQ(ReadAll(std::string_view(part.data(), part.size()), read), TStatus::truncated) << cut;
    EXPECT_LE(read.size(), whole.size());
  }
}

TEST(PropertyStream, LengthsBeyondTheDataFailWithoutWrapping) {
  for (uint8_t type : {uint8_t(12), uint8_t(18), uint8_t(20)})
    for (uint32_t huge : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 3u}) {
      std::string stream = "TPF0" + Short("T") + Short("O") + Short("X") + char(type);
      for (int i = 0; i < 4; ++i)
        stream += char(uint8_t(huge >> (8 * i)));
      stream += "ab"; // fewer bytes than any of the lengths claims
      std::vector<TRead> read;
      EXPECT_EQ(ReadAll(stream, read), TStatus::truncated) << int(type) << " " << huge;
      EXPECT_TRUE(read.empty());
    }
}

TEST(PropertyStream, SignatureAndChildListEnds) {
  for (std::string_view data : {std::string_view(""), std::string_view("TPF"), std::string_view("TPF1xx")}) {
    ByteReader in(data);
    TPropertyStreamReader stream(in);
    EXPECT_FALSE(stream.Signature());
    EXPECT_EQ(in.Position(), 0u);
    EXPECT_FALSE(stream.Truncated());
  }
  const std::string data = Bytes({0, 5});
  ByteReader in(data);
  TPropertyStreamReader stream(in);
  EXPECT_TRUE(stream.EndOfChildren());
  EXPECT_FALSE(stream.EndOfChildren()) << "a child object begins";
  EXPECT_EQ(in.Position(), 1u);
  in.U8();
  EXPECT_FALSE(stream.Truncated());
  EXPECT_FALSE(stream.EndOfChildren()) << "the data ended";
  EXPECT_TRUE(stream.Truncated());
}

} // namespace
} // namespace kx
