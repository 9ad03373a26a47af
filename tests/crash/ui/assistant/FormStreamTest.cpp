// The definition stream: reading every value type, nesting, and bad streams that must end in a
// clear failure with what was read kept.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "crash/ui/assistant/FormStream.h"
#include "tests/crash/ui/assistant/AssistantTestSupport.h"
#ifdef TIDEWELL_FORM_FUZZ_CORPUS
#include "tests/fuzz/FormStreamFuzzing.h"
#endif

namespace kx::test {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values)
    out += char(uint8_t(v));
  return out;
}

std::string Short(const std::string &text) { return char(uint8_t(text.size())) + text; }

TEST(FormStream, ReadsEveryValueTypeAsText) {
  std::string stream = "TPF0" + Short("TKXTestForm") + Short("TestForm");
  stream += Short("A") + Bytes({2, 0xFE});                   // -2
  stream += Short("B") + Bytes({3, 0x18, 0xFC});             // -1000
  stream += Short("C") + Bytes({4, 0x40, 0x42, 0x0F, 0x00}); // 1000000
  stream += Short("D") + Bytes({6}) + Short("two words");
  stream += Short("E") + Bytes({7}) + Short("nvoHeader");
  stream += Short("F") + Bytes({8}) + Short("G") + Bytes({9});
  stream += Short("H") + Bytes({12, 3, 0, 0, 0}) + "abc";
  stream += Bytes({0, 0});
  TNVStreamContent content = ReadFormStream(stream);
  EXPECT_TRUE(content.signature);
  EXPECT_EQ(content.failure, "");
  ASSERT_EQ(content.objects.size(), 1u);
  EXPECT_EQ(content.objects[0].className, "TKXTestForm");
  EXPECT_EQ(content.objects[0].objectName, "TestForm");
  EXPECT_EQ(content.objects[0].properties,
            (std::vector<TNVStreamProperty>{{"A", "-2"}, {"B", "-1000"}, {"C", "1000000"}, {"D", "two words"},
                                            {"E", "nvoHeader"}, {"F", "0"}, {"G", "1"}, {"H", "abc"}}));
}

TEST(FormStream, ChildrenFollowTheirParentInStreamOrder) {
  TNVStreamWriter w;
  w.BeginObject("TKXForm", "Form");
  w.EndProperties();
  w.BeginObject("TNVPanel", "Panel");
  w.Integer("Lines", 3);
  w.EndProperties();
  w.BeginObject("TNVEdit", "Inner");
  w.EndProperties();
  w.EndObject();
  w.EndObject();
  w.BeginObject("TNVLabel", "After");
  w.EndProperties();
  w.EndObject();
  w.EndObject();
  TNVStreamContent content = ReadFormStream(w.Bytes() + "trailing bytes are not read");
  EXPECT_EQ(content.failure, "");
  ASSERT_EQ(content.objects.size(), 4u);
  EXPECT_EQ(content.objects[1].objectName, "Panel");
  EXPECT_EQ(content.objects[1].depth, 1);
  EXPECT_EQ(content.objects[2].objectName, "Inner");
  EXPECT_EQ(content.objects[2].depth, 2);
  EXPECT_EQ(content.objects[3].objectName, "After");
  EXPECT_EQ(content.objects[3].depth, 1);
}

TEST(FormStream, WithoutTheSignatureNothingIsReadAndNothingFails) {
  for (const std::string &stream : {std::string(), std::string("TPF"), std::string("XPF0\x05TForm")}) {
    TNVStreamContent content = ReadFormStream(stream);
    EXPECT_FALSE(content.signature);
    EXPECT_TRUE(content.objects.empty());
    EXPECT_EQ(content.failure, "");
  }
}

TEST(FormStream, AnUnsupportedValueTypeEndsTheReadingAndKeepsWhatWasRead) {
  std::string stream = "TPF0" + Short("TKXTestForm") + Short("TestForm") + Short("Message") + Bytes({6}) +
                       Short("kept") + Short("Bad") + Bytes({0x0B, 1, 2, 3}) + Short("Lost") + Bytes({9, 0, 0});
  TNVStreamContent content = ReadFormStream(stream);
  EXPECT_EQ(content.failure, "Internal error: Invalid assistant resource (b).");
  ASSERT_EQ(content.objects.size(), 1u);
  EXPECT_EQ(content.objects[0].properties, (std::vector<TNVStreamProperty>{{"Message", "kept"}}));

  EXPECT_EQ(ReadFormStream("TPF0" + Short("T") + Short("F") + Short("X") + Bytes({0xF0})).failure,
            "Internal error: Invalid assistant resource (f0).");
}

TEST(FormStream, EveryCutOfAValidStreamFailsAsTruncatedWithoutReadingPastTheEnd) {
  const std::string full = FormBuilder("Form", "TKXForm", {{"Message", "Hello"}, {"Timer", "#250"}})
                               .Child("TNVEdit", "Edit", {{"Lines", "#40000"}, {"Optional", "?true"}})
                               .Child("TNVLabel", "Label", {{"Caption", std::string(300, 'x')}})
                               .End();
  ASSERT_EQ(ReadFormStream(full).failure, "");
  for (size_t cut = 4; cut < full.size(); ++cut) {
    // A copy of exactly the cut length, so that the sanitizer sees any read past it.
    const std::string part = full.substr(0, cut);
    TNVStreamContent content = ReadFormStream(part);
    EXPECT_EQ(content.failure, "Internal error: Invalid assistant resource (truncated).") << "cut at " << cut;
  }
}

TEST(FormStream, LengthsBeyondTheDataFailInsteadOfAllocating) {
  const std::string stream = "TPF0" + Short("T") + Short("F") + Short("Text") + Bytes({12, 0xFF, 0xFF, 0xFF, 0xFF}) + "abc";
  TNVStreamContent content = ReadFormStream(stream);
  EXPECT_EQ(content.failure, "Internal error: Invalid assistant resource (truncated).");
  ASSERT_EQ(content.objects.size(), 1u);
  EXPECT_TRUE(content.objects[0].properties.empty());
}

TEST(FormStream, DeepNestingNeedsNoStack) {
  std::string stream = "TPF0";
  const int depth = 100000;
  for (int i = 0; i < depth; ++i)
    stream += Short("TNVLabel") + Short("L") + Bytes({0});
  stream += std::string(size_t(depth), '\0');
  TNVStreamContent content = ReadFormStream(stream);
  EXPECT_EQ(content.failure, "");
  EXPECT_EQ(content.objects.size(), size_t(depth));
}

TEST(FormStream, WriterPicksTheSmallestIntegerTypeAndTheLongTextForm) {
  TNVStreamWriter w;
  w.BeginObject("T", "F");
  w.Integer("a", 127);
  w.Integer("b", -128);
  w.Integer("c", 128);
  w.Integer("d", -32768);
  w.Integer("e", 32768);
  w.String("f", std::string(256, 'y'));
  w.EndProperties();
  w.EndObject();
  const std::string &bytes = w.Bytes();
  EXPECT_EQ(bytes.substr(0, 4), "TPF0");
  EXPECT_EQ(bytes[4 + 2 + 2 + 2], char(2)); // "a": int8
  TNVStreamContent content = ReadFormStream(bytes);
  ASSERT_EQ(content.objects.size(), 1u);
  const auto &p = content.objects[0].properties;
  ASSERT_EQ(p.size(), 6u);
  EXPECT_EQ(p[0].value, "127");
  EXPECT_EQ(p[1].value, "-128");
  EXPECT_EQ(p[2].value, "128");
  EXPECT_EQ(p[3].value, "-32768");
  EXPECT_EQ(p[4].value, "32768");
  EXPECT_EQ(p[5].value, std::string(256, 'y'));
  EXPECT_EQ(bytes.size(), 4u + 2 + 2 + (2 + 1 + 1) * 2 + (2 + 1 + 2) * 2 + (2 + 1 + 4) + (2 + 1 + 4 + 256) + 2);
}

#ifdef TIDEWELL_FORM_FUZZ_CORPUS
// The fuzzer's kept inputs (the program's definitions and streams that once went wrong), replayed
// with the sanitizers of this build.
TEST(FormStream, FuzzCorpusReplays) {
  size_t replayed = 0;
  for (const auto &entry : std::filesystem::directory_iterator(TIDEWELL_FORM_FUZZ_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fuzz::FuzzFormStream(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    ++replayed;
  }
  EXPECT_GE(replayed, 3u);
  EXPECT_EQ(AssistantBitmaps(), nullptr);
}
#endif

} // namespace
} // namespace kx::test
