// Printing's page layout over a fake device whose lines are 10 units high and whose characters
// are 10 units wide: margins from the metrics, paging, blank lines, wrapped lines.
#include <gtest/gtest.h>

#include "crash/output/KXPrintLayout.h"

namespace kx::test {
namespace {

struct DrawnLine {
  int page;
  std::string text;
  int x, y, height;
};

class FakeTextDevice : public IKXTextDevice {
public:
  static constexpr int kLineHeight = 10;
  static constexpr int kCharWidth = 10;
  std::vector<DrawnLine> drawn;
  int page = 0;
  bool pageOpen = false;
  int failStartPage = -1; // the page number whose start fails
  std::vector<std::string> protocol;

  int Measure(std::string_view text, int width) override {
    int perLine = std::max(1, width / kCharWidth);
    int lines = std::max<int>(1, int((text.size() + perLine - 1) / perLine));
    return lines * kLineHeight;
  }
  int Draw(std::string_view text, int x, int y, int width) override {
    EXPECT_TRUE(pageOpen);
    int h = Measure(text, width);
    drawn.push_back({page, std::string(text), x, y, h});
    return h;
  }
  bool StartPage() override {
    EXPECT_FALSE(pageOpen);
    if (page + 1 == failStartPage)
      return false;
    ++page;
    pageOpen = true;
    protocol.push_back("start");
    return true;
  }
  bool EndPage() override {
    EXPECT_TRUE(pageOpen);
    pageOpen = false;
    protocol.push_back("end");
    return true;
  }
};

std::string Lines(int count, const std::string &prefix = "line ") {
  std::string report;
  for (int i = 1; i <= count; ++i)
    report += (i > 1 ? "\r\n" : "") + prefix + std::to_string(i);
  return report;
}

// 10 units per millimetre; the printable area starts 5 mm right and 4 mm below the paper edge.
const KXDeviceMetrics kMetrics{2000, 2800, 200, 280, 50, 40};

TEST(PageLayout, MarginsComeFromTheDeviceMetrics) {
  std::optional<KXPageLayout> layout = PageLayoutFor(kMetrics);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->topMargin, 100 - 40);  // 10 mm from the paper's top edge
  EXPECT_EQ(layout->leftMargin, 200 - 50); // 20 mm from the paper's left edge
  EXPECT_EQ(layout->rightMargin, 100);
  EXPECT_EQ(layout->bottomLimit, 2800 - 2 * 60);
  EXPECT_EQ(layout->textWidth, 2000 + 50 - 150 - 100);

  // Millimetres round to the nearest device unit: 10 mm of 1000 units over 280 mm are 35.7.
  std::optional<KXPageLayout> rounded = PageLayoutFor({1000, 1000, 280, 280, 0, 0});
  ASSERT_TRUE(rounded);
  EXPECT_EQ(rounded->topMargin, 36);
  EXPECT_EQ(rounded->rightMargin, 36);
}

TEST(PageLayout, DevicesWithoutSizesOrRoomGiveNoLayout) {
  EXPECT_FALSE(PageLayoutFor({2000, 2800, 0, 280, 0, 0}));
  EXPECT_FALSE(PageLayoutFor({2000, 2800, 200, 0, 0, 0}));
  EXPECT_FALSE(PageLayoutFor({0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(PageLayoutFor({20, 2800, 20, 280, 0, 0})) << "30 mm of margins on a 20 mm wide page";
}

TEST(ReportLines, SplitAtCrLfOnly) {
  EXPECT_EQ(ReportLines("a\r\n\r\nb\nc\r\n"), (std::vector<std::string_view>{"a", "", "b\nc", ""}));
  EXPECT_EQ(ReportLines(""), (std::vector<std::string_view>{""}));
}

class Printing : public ::testing::Test {
protected:
  FakeTextDevice device;
  // 100 units of text height per page: ten single lines.
  KXPageLayout layout{20, 30, 10, 120, 200};
};

TEST_F(Printing, PagesFillToTheBottomLimitAndStartAtTheTopMargin) {
  KXPrintResult result = PrintReportPages(device, layout, Lines(25));
  EXPECT_TRUE(result.printed);
  EXPECT_EQ(result.pages, 3);
  ASSERT_EQ(device.drawn.size(), 25u);
  for (size_t i = 0; i < device.drawn.size(); ++i) {
    const DrawnLine &d = device.drawn[i];
    EXPECT_EQ(d.text, "line " + std::to_string(i + 1));
    EXPECT_EQ(d.page, int(i / 10 + 1)) << d.text;
    EXPECT_EQ(d.y, 20 + int(i % 10) * 10) << d.text;
    EXPECT_EQ(d.x, 30);
    EXPECT_LE(d.y + d.height, layout.bottomLimit);
  }
  EXPECT_EQ(device.protocol, (std::vector<std::string>{"start", "end", "start", "end", "start", "end"}));
}

TEST_F(Printing, EmptyLinesPrintAsASpaceOfNormalHeight) {
  PrintReportPages(device, layout, "header\r\n\r\n\r\nsection");
  ASSERT_EQ(device.drawn.size(), 4u);
  EXPECT_EQ(device.drawn[1].text, " ");
  EXPECT_EQ(device.drawn[2].text, " ");
  EXPECT_EQ(device.drawn[2].y, 40);
  EXPECT_EQ(device.drawn[3].y, 50);
}

TEST_F(Printing, LongLinesWrapAndMoveWholeToTheNextPage) {
  // 20 characters a line; 45 characters take three lines.
  std::string longLine(45, 'x');
  std::string report = Lines(8) + "\r\n" + longLine + "\r\nafter";
  KXPrintResult result = PrintReportPages(device, layout, report);
  EXPECT_EQ(result.pages, 2);
  ASSERT_EQ(device.drawn.size(), 10u);
  const DrawnLine &wrapped = device.drawn[8];
  EXPECT_EQ(wrapped.text, longLine) << "a line is never cut";
  EXPECT_EQ(wrapped.page, 2) << "at y 100 its 30 units would pass the limit 120";
  EXPECT_EQ(wrapped.y, 20);
  EXPECT_EQ(wrapped.height, 30);
  EXPECT_EQ(device.drawn[9].y, 50);
}

TEST_F(Printing, ALineTallerThanAPageStandsOnItsOwnPageWithoutAnEmptyOneBefore) {
  std::string huge(20 * 15, 'y'); // 15 lines of wrap
  KXPrintResult result = PrintReportPages(device, layout, huge + "\r\nnext");
  EXPECT_TRUE(result.printed);
  EXPECT_EQ(result.pages, 2);
  ASSERT_EQ(device.drawn.size(), 2u);
  EXPECT_EQ(device.drawn[0].page, 1);
  EXPECT_EQ(device.drawn[1].page, 2);
}

TEST_F(Printing, AFailedPageStartStopsPrinting) {
  device.failStartPage = 1;
  KXPrintResult result = PrintReportPages(device, layout, Lines(5));
  EXPECT_FALSE(result.printed);
  EXPECT_TRUE(device.drawn.empty());

  FakeTextDevice second;
  second.failStartPage = 2;
  result = PrintReportPages(second, layout, Lines(25));
  EXPECT_FALSE(result.printed);
  EXPECT_EQ(second.drawn.size(), 10u);
  EXPECT_FALSE(second.pageOpen);
}

} // namespace
} // namespace kx::test
