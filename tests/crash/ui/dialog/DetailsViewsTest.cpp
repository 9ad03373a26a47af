// Column detection and the views of the details pane's tabs.
#include <gtest/gtest.h>

#include "crash/ui/dialog/DetailsViews.h"

namespace kx {
namespace {

std::vector<std::string> Cells(const TDetailsRow &row) {
  std::vector<std::string> cells;
  size_t start = 0;
  for (;;) {
    const size_t at = row.captions.find('\t', start);
    cells.push_back(row.captions.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos)
      return cells;
    start = at + 1;
  }
}

TEST(DetailsViews, ParseColumnCaptionsMarkers) {
  const auto c = ParseColumnCaptions("^handle|file name| version|path");
  ASSERT_EQ(c.size(), 4u);
  EXPECT_TRUE(c[0].upperCase);
  EXPECT_EQ(c[0].caption, "handle");
  EXPECT_TRUE(c[2].rightAligned);
  EXPECT_EQ(c[2].caption, "version");
  EXPECT_FALSE(c[3].upperCase || c[3].rightAligned);
}

TEST(DetailsViews, StrictDetectionKeepsTheLastSpaceOfARunOnEveryLine) {
  std::vector<std::string> lines{"00400000 Tidewell.exe 1.0.0.0 C:\\x",
                                 "7c800000 kernel32.dll 5.1.2.3 C:\\y",
                                 "77d40000 user32.dll   5.1.2.0 C:\\z"};
  const auto b = DetectColumns(lines, true);
  // Positions 9, 22 and 30 are spaces on every line; the spaces after "user32.dll" before 22 are not.
  EXPECT_EQ(b, (std::vector<size_t>{10, 23, 31}));
  const auto rows = SplitRows(lines, b);
  EXPECT_EQ(Cells(rows[0]), (std::vector<std::string>{"00400000", "Tidewell.exe", "1.0.0.0", "C:\\x"}));
  EXPECT_EQ(Cells(rows[2]), (std::vector<std::string>{"77d40000", "user32.dll  ", "5.1.2.0", "C:\\z"}));
}

TEST(DetailsViews, SeparatorsOtherThanSpaceAndMarkerLines) {
  std::vector<std::string> lines{"eax = 00000001", "ebx = 7ffd8000", ">> a long marker line that does not count",
                                 "ecx = 0012ff60"};
  const auto b = DetectColumns(lines, true);
  EXPECT_EQ(b, (std::vector<size_t>{5, 6, 7}));
  EXPECT_EQ(lines[0], "eax   00000001"); // the kept "=" is blanked
  const auto rows = SplitRows(lines, b);
  EXPECT_EQ(Cells(rows[0]), (std::vector<std::string>{"eax", "", "", "00000001"}));
  EXPECT_EQ(rows[2].captions, ">> a long marker line that does not count");
}

TEST(DetailsViews, StrictModeDropsASeparatorOnlyOneLineShows) {
  // Position 2 is a double space on the first line and past the end of the second.
  std::vector<std::string> lines{"a  b", "c"};
  EXPECT_TRUE(DetectColumns(lines, true).empty());
  std::vector<std::string> again{"a  b", "c"};
  EXPECT_EQ(DetectColumns(again, false), (std::vector<size_t>{3}));
}

std::string Lines(int shortLines, int longLines) {
  std::string text;
  for (int i = 0; i < shortLines; ++i)
    text += "short " + std::to_string(i) + "\r\n";
  for (int i = 0; i < longLines; ++i)
    text += std::string(90, 'x') + "\r\n";
  text.resize(text.size() - 2);
  return text;
}

TEST(DetailsViews, AutomaticFormatNeedsFiveTimesMoreShortLines) {
  EXPECT_FALSE(PrepareDetailsView(2, "hardware", Lines(8, 2)).IsTable()); // 10 is not less than 8
  EXPECT_TRUE(PrepareDetailsView(2, "hardware", Lines(9, 1)).IsTable());  // 5 is less than 9
  EXPECT_FALSE(PrepareDetailsView(2, "hardware", "one line").IsTable());
}

TEST(DetailsViews, AutomaticFormatWithCaptionsTabsAndTrees) {
  const TDetailsTable captioned = PrepareDetailsView(2, "plugin", "^name\t value\r\na\t1\r\nb\t2");
  ASSERT_EQ(captioned.columns.size(), 2u);
  EXPECT_TRUE(captioned.columns[1].rightAligned);
  EXPECT_TRUE(captioned.showHeaders);
  EXPECT_EQ(captioned.rows.size(), 2u);

  const TDetailsTable tree = PrepareDetailsView(2, "hardware", "+ CPU\r\n - Intel\r\n+ Disk\r\n - 80 GB");
  ASSERT_TRUE(tree.IsTable());
  EXPECT_EQ(tree.columns.size(), 1u);
  EXPECT_TRUE(tree.fixedPitch);
  EXPECT_EQ(tree.rows[0].forceColor, 0xFFF8F0u);
  EXPECT_EQ(tree.rows[1].captions[0], char(0xA0)); // the indentation survives trimming
}

TEST(DetailsViews, NamedViews) {
  const TDetailsTable general = PrepareDetailsView(0, "", "date/time\t2026-12-09\r\nexception class\tEFoo");
  ASSERT_EQ(general.columns.size(), 2u);
  EXPECT_EQ(general.columns[0].caption, "description");
  EXPECT_EQ(Cells(general.rows[1]), (std::vector<std::string>{"exception class", "EFoo"}));

  const std::string dumpLine = "0012ff60  01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  ................";
  const TDetailsTable dump = PrepareDetailsView(3, "stack dump", dumpLine);
  ASSERT_TRUE(dump.IsTable());
  EXPECT_TRUE(dump.fixedPitch);
  EXPECT_EQ(Cells(dump.rows[0])[0], "0012ff60");
  EXPECT_EQ(Cells(dump.rows[0]).size(), 3u);

  // A process list whose columns cannot be told apart is shown as text.
  EXPECT_FALSE(PrepareDetailsView(4, "processes", "0001 a.exe\r\n0002 b.exe").IsTable());
  // Call stacks and placeholders of an unfinished report.
  EXPECT_TRUE(PrepareDetailsView(1, "", "00401234 +004 Tidewell.exe").IsTable());
  EXPECT_FALSE(PrepareDetailsView(5, "disassembling", "a\r\nb").IsTable());
}

TEST(DetailsViews, DisassemblyMarksTheCurrentInstructionAndSplitsComments) {
  const std::string text = "00401230 public TForm1.btnSetClick:  ; function entry point\r\n"
                           "00401230   push    ebp\r\n"
                           "00401231 > mov     eax, [ebx]\r\n"
                           "00401233\r\n"
                           "00401233 ; ---------------------------------------------------------";
  const TDetailsTable t = PrepareDetailsView(5, "disassembling", text);
  ASSERT_TRUE(t.IsTable());
  EXPECT_TRUE(t.fixedPitch);
  ASSERT_EQ(t.columns.size(), 3u);
  EXPECT_EQ(t.columns[1].caption, "asm code");
  EXPECT_EQ(Cells(t.rows[2]), (std::vector<std::string>{"00401231", "\xA0 mov     eax, [ebx]"}));
  EXPECT_EQ(t.rows[2].forceColor, 0xD0D0FFu);
  EXPECT_EQ(t.rows[1].forceColor, 0u);
  EXPECT_EQ(Cells(t.rows[0]), (std::vector<std::string>{"00401230", "public TForm1.btnSetClick:  ", "; function entry point"}));
  EXPECT_EQ(Cells(t.rows[3]), (std::vector<std::string>{"00401233"}));
  // The separator line is kept in one piece and shortened.
  EXPECT_EQ(Cells(t.rows[4]), (std::vector<std::string>{"00401233", "; --" + std::string(57 - 2 - 28, '-')}));

  // With line numbers the marker moves right and a line column appears.
  const TDetailsTable lines = PrepareDetailsView(5, "disassembling", "00401231 0131 > mov     eax, [ebx]");
  ASSERT_EQ(lines.columns.size(), 4u);
  EXPECT_EQ(Cells(lines.rows[0]), (std::vector<std::string>{"00401231", "0131", "\xA0 mov     eax, [ebx]"}));
}

} // namespace
} // namespace kx

namespace kx {
namespace {

std::vector<std::string> RowCells(const TDetailsRow &row) {
  std::vector<std::string> cells;
  size_t start = 0;
  for (;;) {
    const size_t at = row.captions.find('\t', start);
    std::string cell = row.captions.substr(start, at == std::string::npos ? std::string::npos : at - start);
    const size_t a = cell.find_first_not_of(' '), b = cell.find_last_not_of(' ');
    cells.push_back(a == std::string::npos ? std::string() : cell.substr(a, b - a + 1));
    if (at == std::string::npos)
      return cells;
    start = at + 1;
  }
}

TEST(DetailsViews, ThreadViewFindsTheStackColumnsPerPiece) {
  // Each thread's lines have their own column widths.
  const std::string text = ">> main thread ($1a4)\r\n"
                           "0045a1f3 +01b Tidewell.exe MainUnit  131 +5 TForm1.btnSetClick\r\n"
                           "0045b000 +2c0 Tidewell.exe Forms    2210 +9 TApplication.Run\r\n"
                           "7c816fd7 +000 kernel32.dll                  BaseProcessStart\r\n"
                           "\r\n"
                           ">> worker ($2b8)\r\n"
                           "00461010 +010 Tidewell.exe Worker 12 +2 TWorker.Execute\r\n"
                           ">> created by main thread ($1a4) at:\r\n"
                           "00462000 Tidewell.exe Worker 40 TForm1.StartWorker";
  const TDetailsTable t = PrepareDetailsView(1, "", text);
  ASSERT_TRUE(t.IsTable());
  std::vector<std::string> captions;
  for (const auto &c : t.columns)
    captions.push_back(c.caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"address", "rel.", "module", "unit", "line", "rel.", "function"}));
  EXPECT_TRUE(t.columns[0].upperCase);
  EXPECT_TRUE(t.columns[4].rightAligned);
  ASSERT_EQ(t.rows.size(), 9u);
  EXPECT_TRUE(t.rows[0].title);
  EXPECT_EQ(t.rows[0].forceColor, 0xFFFFFFu);
  EXPECT_EQ(RowCells(t.rows[1]),
            (std::vector<std::string>{"0045a1f3", "+01b", "Tidewell.exe", "MainUnit", "131", "+5", "TForm1.btnSetClick"}));
  EXPECT_EQ(RowCells(t.rows[3]), (std::vector<std::string>{"7c816fd7", "+000", "kernel32.dll", "", "", "", "BaseProcessStart"}));
  EXPECT_FALSE(t.rows[4].title); // the empty row
  EXPECT_TRUE(t.rows[5].title);  // ">> worker" follows it
  EXPECT_FALSE(t.rows[7].title); // the creation stack's marker follows a stack row
  // The creation stack is its own piece, without relative columns, placed in the common header.
  EXPECT_EQ(RowCells(t.rows[8]),
            (std::vector<std::string>{"00462000", "", "Tidewell.exe", "Worker", "40", "", "TForm1.StartWorker"}));
}

} // namespace
} // namespace kx
