// What the two source notations share: the statement lines with their numbers, decimal integers,
// and the command that writes a stream file only when the whole source compiled.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tools/kxstream/StreamSource.h"

namespace kx {
namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<std::pair<int, std::string>> Statements(std::string_view source) {
  std::vector<std::pair<int, std::string>> out;
  TSourceLines lines(source, Blank);
  std::string_view line;
  while (lines.Next(line))
    out.emplace_back(lines.Number(), std::string(line));
  return out;
}

TEST(StreamSource, StatementLinesKeepTheirNumbers) {
  using L = std::vector<std::pair<int, std::string>>;
  EXPECT_EQ(Statements("# head\n\n  A = 1  \r\n\t# indented comment\nB=2"), (L{{3, "A = 1"}, {5, "B=2"}}));
  EXPECT_EQ(Statements("A\n\n\n"), (L{{1, "A"}}));
  EXPECT_EQ(Statements(""), L{});
  // A '#' inside a line is the notation's business, not a comment line.
  EXPECT_EQ(Statements("A = '#'\n"), (L{{1, "A = '#'"}}));

  TSourceLines lines("A\n\n# c\n\n", Blank);
  std::string_view line;
  ASSERT_TRUE(lines.Next(line));
  EXPECT_FALSE(lines.Next(line));
  EXPECT_EQ(lines.Number(), 4) << "at the end: the number of the last line";
}

TEST(StreamSource, Int32Bounds) {
  struct Case {
    const char *text;
    bool plus;
    TIntegerScan result;
    int32_t value;
  };
  for (Case c : {Case{"0", false, TIntegerScan::ok, 0}, Case{"-2147483648", false, TIntegerScan::ok, INT32_MIN},
                 Case{"2147483647", false, TIntegerScan::ok, INT32_MAX}, Case{"007", false, TIntegerScan::ok, 7},
                 Case{"+7", true, TIntegerScan::ok, 7}, Case{"+7", false, TIntegerScan::notANumber, 0},
                 Case{"2147483648", false, TIntegerScan::outOfRange, 0},
                 Case{"-2147483649", false, TIntegerScan::outOfRange, 0}, Case{"-", false, TIntegerScan::notANumber, 0},
                 Case{"", false, TIntegerScan::notANumber, 0}, Case{"1 ", false, TIntegerScan::notANumber, 0},
                 Case{"--1", false, TIntegerScan::notANumber, 0}, Case{"12a", false, TIntegerScan::notANumber, 0}}) {
    int32_t value = -99;
    EXPECT_EQ(ScanInt32(c.text, c.plus, value), c.result) << c.text;
    if (c.result == TIntegerScan::ok)
      EXPECT_EQ(value, c.value) << c.text;
    else
      EXPECT_EQ(value, -99) << "untouched on failure: " << c.text;
  }
  // A million digits: out of range, and a stray character anywhere still makes it no number.
  int32_t value = 0;
  EXPECT_EQ(ScanInt32(std::string(1000000, '9'), false, value), TIntegerScan::outOfRange);
  EXPECT_EQ(ScanInt32(std::string(1000000, '9') + "x", false, value), TIntegerScan::notANumber);
}

TEST(StreamSource, TheCommandWritesOnlyAWholeStream) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "kxstream_command";
  std::filesystem::create_directories(dir);
  const std::string source = (dir / "in.txt").string(), output = (dir / "out.bin").string();
  std::ofstream(source) << "good";
  auto compile = [](std::string_view text) -> std::string {
    if (text != "good")
      throw StreamSourceError(2, "bad");
    return std::string("\0stream", 7);
  };
  ASSERT_EQ(CompileSourceFile("t", source.c_str(), output.c_str(), compile), 0);
  std::ifstream written(output, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), std::string("\0stream", 7));

  std::filesystem::remove(output);
  std::ofstream(source) << "bad";
  EXPECT_EQ(CompileSourceFile("t", source.c_str(), output.c_str(), compile), 1);
  EXPECT_FALSE(std::filesystem::exists(output));
  EXPECT_FALSE(std::filesystem::exists(output + ".tmp"));
  EXPECT_EQ(CompileSourceFile("t", (dir / "missing").string().c_str(), output.c_str(), compile), 1);
  std::filesystem::remove_all(dir);
}

} // namespace
} // namespace kx
