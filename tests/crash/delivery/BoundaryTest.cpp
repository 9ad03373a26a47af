// The multipart boundary: its form, the choice against the content, the search across pieces.
#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "crash/delivery/KXBoundary.h"
#include "crash/delivery/KXHeaderValue.h"
#include "tests/crash/delivery/MultipartParts.h"

namespace kx {
namespace {

TEST(Boundary, FormAndVariety) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string b = RandomBoundary({});
    ASSERT_EQ(b.size(), kBoundaryLength);
    EXPECT_EQ(b.substr(0, kBoundaryPrefix.size()), kBoundaryPrefix);
    for (char c : b.substr(kBoundaryPrefix.size()))
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << b;
    seen.insert(b);
  }
  EXPECT_EQ(seen.size(), 200u) << "the system's source repeats itself";
  // A random source that always gives the same word still yields a valid boundary.
  EXPECT_EQ(RandomBoundary([] { return 0u; }), std::string(kBoundaryPrefix) + std::string(kBoundaryRandomChars, 'A'));
}

TEST(Boundary, ChoiceSkipsCandidatesInTheContent) {
  KXRandomFn candidates = test::SequenceRandom(5);
  std::vector<std::string> expected;
  for (int i = 0; i < kBoundaryTries; ++i)
    expected.push_back(RandomBoundary(candidates));

  std::vector<std::string> asked;
  std::string content = expected[0] + expected[1];
  auto contains = [&](std::string_view candidate) {
    asked.emplace_back(candidate);
    return content.find(candidate) != std::string::npos;
  };
  EXPECT_EQ(ChooseBoundary(contains, test::SequenceRandom(5)), expected[2]);
  EXPECT_EQ(asked, (std::vector<std::string>{expected[0], expected[1], expected[2]}));

  for (const std::string &candidate : expected)
    content += candidate;
  EXPECT_EQ(ChooseBoundary(contains, test::SequenceRandom(5)), "") << "every candidate collides";
}

TEST(Boundary, FinderSeesMatchesAcrossPieces) {
  const std::string needle = "--abcdef";
  struct Case {
    std::vector<std::string> pieces;
    bool found;
  } cases[] = {
      {{"xx--abc", "def"}, true},
      {{"-", "-", "a", "b", "c", "d", "e", "f"}, true},
      {{"--abcde", "", "f"}, true},
      {{"--abcde", "x", "f"}, false},
      {{"zz--abcdefzz"}, true},
      {{"--abc", "--abcdeF"}, false},
      {{"-", "--abcd", "ef"}, true},
      {{"--abcdef"}, true},
      {{}, false},
  };
  for (const Case &c : cases) {
    KXStreamFinder finder(needle);
    std::string joined;
    for (const std::string &piece : c.pieces) {
      finder.Feed(piece);
      joined += piece;
    }
    EXPECT_EQ(finder.Found(), c.found) << joined;
  }
}

TEST(HeaderValue, LinesAndQuotes) {
  EXPECT_TRUE(IsSingleLineValue("Kestrelix <a@b.com>"));
  EXPECT_TRUE(IsSingleLineValue(""));
  for (std::string bad : {std::string("a\rb"), std::string("a\nb"), std::string("a\0b", 3), std::string("\r\n")})
    EXPECT_FALSE(IsSingleLineValue(bad));
  EXPECT_EQ(EscapedQuotedValue("plain.txt"), "plain.txt");
  EXPECT_EQ(EscapedQuotedValue("a\"b\\c"), "a\\\"b\\\\c");
}

} // namespace
} // namespace kx
