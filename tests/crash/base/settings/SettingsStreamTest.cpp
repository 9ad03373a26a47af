#include <gtest/gtest.h>

#include <random>

#include "crash/base/settings/KXSettingsStream.h"
#include "crash/base/settings/KXText.h"
#include "tests/crash/base/settings/FakePlatform.h"

using namespace kx;
using namespace kx::test;

namespace {

std::vector<uint8_t> Utf8Stream(const std::string &name, const std::string &utf8) {
  return StreamBuilder().Name(name).Byte(kStreamUtf8String).U32(uint32_t(utf8.size())).Raw(utf8).End();
}

} // namespace

TEST(SettingsStream, ReadsEveryValueType) {
  StreamBuilder b;
  b.Name("I8").Byte(kStreamInt8).Byte(0xFE);                     // -2
  b.Name("I16").Byte(kStreamInt16).U16(0x8000);                  // -32768
  b.Name("I32").Byte(kStreamInt32).U32(60000);
  b.Name("S6").Byte(kStreamString).Byte(3).Raw("abc");
  b.Name("F").Byte(kStreamFalse);
  b.Name("T").Byte(kStreamTrue);
  b.Name("S12").Byte(kStreamLString).U32(5).Raw("hello");
  b.Name("W").Byte(kStreamWString).U32(4).U16(u'A').U16(0xE9).U16(0x20AC).U16(u'z'); // A é € z
  b.Name("U").Byte(kStreamUtf8String).U32(7).Raw("A\xC3\xA9\xE2\x82\xACz");          // A é € z
  b.Name("E").Byte(kStreamLString).U32(0);
  TKXPropertyList list;
  StreamReadResult r = ReadSettingsStream(b.End(), list);
  ASSERT_TRUE(r.signatureOk);
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.error, "");
  ASSERT_EQ(list.Count(), 10u);

  EXPECT_EQ(list[0].typ, TPropertyType::ptInteger);
  EXPECT_EQ(list[0].vInt, -2);
  EXPECT_EQ(list[1].vInt, -32768);
  EXPECT_EQ(list[2].vInt, 60000);
  EXPECT_EQ(list[3].typ, TPropertyType::ptString);
  EXPECT_EQ(list[3].Text(), "abc");
  EXPECT_EQ(list[4].typ, TPropertyType::ptBoolean);
  EXPECT_FALSE(list[4].vBool);
  EXPECT_TRUE(list[5].vBool);
  EXPECT_EQ(list[6].Text(), "hello");
  // Wide and UTF-8 text arrive as 8-bit text; the euro sign has no 8-bit code here.
  EXPECT_EQ(list[7].typ, TPropertyType::ptString);
  EXPECT_EQ(list[7].Text(), "A\xE9?z");
  EXPECT_FALSE(list[7].HasWideText());
  EXPECT_EQ(list[8].Text(), "A\xE9?z");
  EXPECT_TRUE(list[9].vStr.empty()); // empty text: no block
}

TEST(SettingsStream, UnknownTypeStopsButKeepsWhatWasRead) {
  auto data = StreamBuilder().Int("A", 1).Bool("B", true).Name("C").Byte(0x0B).U32(0).Int("D", 4).End();
  TKXPropertyList list;
  StreamReadResult r = ReadSettingsStream(data, list);
  EXPECT_TRUE(r.signatureOk);
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.error, "Internal error: Invalid settings resource ($0B).");
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list[1].name, "B");
  EXPECT_EQ(list.Find("D"), nullptr);
}

TEST(SettingsStream, WrongSignatureGivesEmptyList) {
  TKXPropertyList list;
  auto data = StreamBuilder().Int("A", 1).End();
  data[16] = 'k'; // object name "kestrelix"
  StreamReadResult r = ReadSettingsStream(data, list);
  EXPECT_FALSE(r.signatureOk);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_FALSE(ReadSettingsStream(std::vector<uint8_t>{'T', 'P', 'F', '0'}, list).signatureOk);
  EXPECT_FALSE(ReadSettingsStream(std::vector<uint8_t>{}, list).signatureOk);
}

TEST(SettingsStream, TruncatedDataNeverReadsPastTheEnd) {
  auto full = StreamBuilder()
                  .Int("A", 7)
                  .Text("B", "some text")
                  .Name("W")
                  .Byte(kStreamWString)
                  .U32(2)
                  .U16('x')
                  .U16('y')
                  .Name("S")
                  .Byte(kStreamString)
                  .Byte(2)
                  .Raw("ok")
                  .End();
  size_t header = SettingsStreamSignature().size();
  for (size_t n = header; n < full.size() - 1; ++n) {
    std::vector<uint8_t> cut(full.begin(), full.begin() + std::ptrdiff_t(n));
    TKXPropertyList list;
    StreamReadResult r = ReadSettingsStream(cut, list);
    EXPECT_TRUE(r.signatureOk);
    EXPECT_FALSE(r.complete) << n;
    EXPECT_EQ(r.error, TruncatedStreamMessage()) << n;
    EXPECT_LE(list.Count(), 4u);
  }
  // Lengths far beyond the data, including ones that overflow when doubled.
  for (uint32_t huge : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu}) {
    for (uint8_t type : {kStreamLString, kStreamWString, kStreamUtf8String}) {
      TKXPropertyList list;
      auto data = StreamBuilder().Int("A", 1).Name("X").Byte(type).U32(huge).Raw("abcd").End();
      StreamReadResult r = ReadSettingsStream(data, list);
      EXPECT_EQ(r.error, TruncatedStreamMessage());
      EXPECT_EQ(list.Count(), 1u);
    }
  }
}

TEST(SettingsStream, Utf8DecodingIsSafeOnMalformedInput) {
  TKXPropertyList list;
  // A lone continuation byte, a truncated sequence at the end, an overlong form, a surrogate.
  ReadSettingsStream(Utf8Stream("U", "a\x80" "b\xC0\xAF" "c\xED\xA0\x80" "d\xE2\x82"), list);
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list[0].Text(), "a?b?c?d?");
}

TEST(SettingsStream, WriterRoundTripsAndEndsWithTwoZeros) {
  TKXPropertyList src;
  src.Append("Enabled", TPropertyType::ptBoolean).vBool = true;
  src.Append("NoSettings", TPropertyType::ptBoolean).vBool = false;
  src.Append("FreezeTimeout", TPropertyType::ptInteger).vInt = -5;
  src.Append("F1Classes", TPropertyType::ptString).SetText("EDBEditError");
  src.Append("F2Classes", TPropertyType::ptString);
  std::vector<uint8_t> data = WriteSettingsStream(src);
  ASSERT_GE(data.size(), 2u);
  EXPECT_EQ(data[data.size() - 1], 0);
  EXPECT_EQ(data[data.size() - 2], 0);
  std::vector<uint8_t> sig(SettingsStreamSignature().begin(), SettingsStreamSignature().end());
  EXPECT_TRUE(std::equal(sig.begin(), sig.end(), data.begin()));

  TKXPropertyList back;
  ASSERT_TRUE(ReadSettingsStream(data, back).complete);
  ASSERT_EQ(back.Count(), 5u);
  EXPECT_TRUE(back[0].vBool);
  EXPECT_EQ(back[1].typ, TPropertyType::ptBoolean);
  EXPECT_FALSE(back[1].vBool);
  EXPECT_EQ(back[2].vInt, -5);
  EXPECT_EQ(back[3].Text(), "EDBEditError");
  EXPECT_EQ(back[4].typ, TPropertyType::ptString);
  EXPECT_TRUE(back[4].vStr.empty());

  TKXPropertyList bad;
  bad.Append("Blob", TPropertyType::ptBinary);
  EXPECT_THROW(WriteSettingsStream(bad), std::invalid_argument);
  TKXPropertyList longName;
  longName.Append(std::string(256, 'n'), TPropertyType::ptBoolean);
  EXPECT_THROW(WriteSettingsStream(longName), std::invalid_argument);
}

TEST(SettingsStream, PasswordsAreDecipheredAfterReading) {
  std::string stored = EncipherPassword("s3cret pass", "smtp.example.com", "reporter");
  EXPECT_NE(stored, "s3cret pass");
  EXPECT_EQ(DecipherPassword(stored, "smtp.example.com", "reporter"), "s3cret pass");
  // The key matters: another account gives another text.
  EXPECT_NE(DecipherPassword(stored, "smtp.example.com", "other"), "s3cret pass");
  EXPECT_EQ(EncipherPassword("", "a", "b"), "");
  EXPECT_EQ(DecipherPassword("", "a", "b"), "");

  auto data = StreamBuilder()
                  .Text("SmtpServer", "smtp.example.com")
                  .Text("SmtpAccount", "reporter")
                  .Text("SmtpPassword", stored)
                  .Text("HttpPassword", "") // empty stays empty
                  .End();
  TKXPropertyList list;
  LoadSettingsList(data, list, nullptr);
  EXPECT_EQ(list.Find("SmtpPassword")->Text(), "s3cret pass");
  EXPECT_TRUE(list.Find("HttpPassword")->vStr.empty());

  // The tool's direction: plain passwords in a list become stored ones, keyed by the same list.
  TKXPropertyList plain;
  plain.Append("HttpServer", TPropertyType::ptString).SetText("https://upload.example.com/");
  plain.Append("HttpPassword", TPropertyType::ptString).SetText("pw");
  EncipherStoredPasswords(plain);
  EXPECT_NE(plain.Find("HttpPassword")->Text(), "pw");
  DecipherStoredPasswords(plain);
  EXPECT_EQ(plain.Find("HttpPassword")->Text(), "pw");

  // A stored form that is not Base64 yields no password rather than the raw text.
  TKXPropertyList broken;
  broken.Append("SmtpPassword", TPropertyType::ptString).SetText("not*base64");
  DecipherStoredPasswords(broken);
  EXPECT_TRUE(broken.Find("SmtpPassword")->vStr.empty());
}

TEST(SettingsStream, LoadReportsTheFailureText) {
  std::vector<std::string> shown;
  TKXPropertyList list;
  LoadSettingsList(StreamBuilder().Int("A", 1).Name("B").Byte(0xFF).End(), list,
                   [&shown](const std::string &t) { shown.push_back(t); });
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Internal error: Invalid settings resource ($FF).");
  EXPECT_EQ(list.Count(), 1u);
}

TEST(PropertyList, GrowsByTwentyFromItsStartingRoom) {
  TKXPropertyList list;
  EXPECT_EQ(list.Capacity(), 131u);
  std::vector<TKXProperty *> first;
  for (int i = 0; i < 131; ++i)
    first.push_back(&list.Append("K" + std::to_string(i), TPropertyType::ptInteger));
  EXPECT_EQ(list.Capacity(), 131u);
  list.Append("K131", TPropertyType::ptInteger);
  EXPECT_EQ(list.Capacity(), 151u);
  for (int i = 132; i < 152; ++i)
    list.Append("K" + std::to_string(i), TPropertyType::ptInteger);
  EXPECT_EQ(list.Capacity(), 171u);
  // Entries stay where they are while the list grows.
  EXPECT_EQ(list.Find("K0"), first[0]);
  EXPECT_EQ(list.Find("k0"), nullptr); // names are case-sensitive
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Capacity(), 131u);
}

TEST(PropertyList, WideTextBlockLayout) {
  TKXProperty p;
  p.SetWideText(u"ab\u00e9");
  // 8-bit text, NUL, UTF-16 text, NUL: 3·n + 3 bytes.
  ASSERT_EQ(p.vStr.size(), 3u * 3 + 3);
  EXPECT_EQ(p.Text(), "ab\xE9");
  EXPECT_TRUE(p.HasWideText());
  EXPECT_EQ(p.WideText(), u"ab\u00e9");
  EXPECT_EQ(p.vStr[3], '\0');
  EXPECT_EQ(p.vStr[4], 'a');
  EXPECT_EQ(p.vStr[5], '\0');

  // Characters outside the 8-bit range keep their UTF-16 form next to the lossy 8-bit text.
  p.SetWideText(u"\u4e2d\U0001F600x");
  EXPECT_EQ(p.Text(), "??x");
  EXPECT_EQ(p.WideText(), u"\u4e2d\U0001F600x");

  // An embedded NUL ends the text; the rest is never mistaken for a UTF-16 copy.
  p.SetText(std::string("a\0bcdefgh", 9));
  EXPECT_EQ(p.vStr.size(), 2u);
  EXPECT_EQ(p.WideText(), u"a");
  p.SetWideText(std::u16string(u"x\0yz", 4));
  EXPECT_EQ(p.vStr.size(), 6u);
  EXPECT_EQ(p.WideText(), u"x");

  p.SetText("plain");
  EXPECT_EQ(p.vStr.size(), 6u);
  EXPECT_FALSE(p.HasWideText());
  EXPECT_EQ(p.WideText(), u"plain");
  p.SetWideText(u"");
  EXPECT_TRUE(p.vStr.empty());
}

TEST(TextHelpers, Base64) {
  for (const std::string &s : std::vector<std::string>{"", "f", "fo", "foo", "foob", "fooba", "foobar", std::string("\0\xff\x10", 3)})
    EXPECT_EQ(Base64Decode(Base64Encode(s)), s);
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64Decode("Zm9v\r\nYg=="), "foob");
  EXPECT_EQ(Base64Decode("Zm9=v"), std::nullopt);
  EXPECT_EQ(Base64Decode("Z"), std::nullopt);
}

TEST(TextHelpers, EncodeUtf8CoversEveryLengthAndReplacesLoneSurrogates) {
  EXPECT_EQ(EncodeUtf8(u"a\u00e9\u20ac\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(EncodeUtf8(std::u16string{u'x', char16_t(0xD800), u'y', char16_t(0xDC00)}), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
  EXPECT_EQ(EncodeUtf8(u""), "");
}

namespace {
std::string UpperNarrow(std::u16string_view t) {
  std::string s;
  for (char16_t c : t)
    s += c == u'\u20ac' ? '\x80' : char(c < 256 ? c : '_');
  return s;
}
std::u16string PlainWiden(std::string_view t) { return std::u16string(t.begin(), t.end()); }
} // namespace

TEST(TextHelpers, TheShellCanInstallItsCodePage) {
  SetCodePageConversion(UpperNarrow, PlainWiden);
  TKXPropertyList list;
  ReadSettingsStream(Utf8Stream("U", "\xE2\x82\xAC\xE4\xB8\xAD"), list);
  SetCodePageConversion(nullptr, nullptr);
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list[0].Text(), "\x80_");
  EXPECT_EQ(NarrowUtf16(u"\u20ac"), "?");
}

// Random mutations of a stream with every value type: the reader must stop cleanly, within the
// data, and keep only whole properties (the sanitizers watch the reads).
TEST(SettingsStream, SurvivesRandomMutations) {
  StreamBuilder b;
  b.Name("I8").Byte(kStreamInt8).Byte(1).Name("I16").Byte(kStreamInt16).U16(2).Int("I32", 3);
  b.Name("S6").Byte(kStreamString).Byte(2).Raw("ab").Bool("F", false).Bool("T", true).Text("S12", "text");
  b.Name("W").Byte(kStreamWString).U32(2).U16('x').U16(0xD800);
  b.Name("U").Byte(kStreamUtf8String).U32(3).Raw("\xE2\x82\xAC");
  const std::vector<uint8_t> seed = b.End();
  const size_t header = SettingsStreamSignature().size();
  std::mt19937 rng(4242);
  for (int iteration = 0; iteration < 20000; ++iteration) {
    std::vector<uint8_t> data = seed;
    int edits = 1 + int(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t at = header + rng() % (data.size() - header);
      switch (rng() % 3) {
      case 0:
        data[at] = uint8_t(rng());
        break;
      case 1:
        data.erase(data.begin() + std::ptrdiff_t(at), data.end());
        data.push_back(uint8_t(rng()));
        break;
      default:
        data.insert(data.begin() + std::ptrdiff_t(at), uint8_t(rng()));
        break;
      }
    }
    TKXPropertyList list;
    StreamReadResult r = ReadSettingsStream(data, list);
    ASSERT_TRUE(r.signatureOk);
    ASSERT_TRUE(r.complete || !r.error.empty());
    for (size_t i = 0; i < list.Count(); ++i)
      (void)list[i].WideText();
  }
}
