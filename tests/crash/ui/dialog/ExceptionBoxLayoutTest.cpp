// The dialog's geometry against its rules, with text measured by a fixed-pitch stand-in.
#include <gtest/gtest.h>

#include "crash/ui/dialog/ExceptionBoxLayout.h"

namespace kx {
namespace {

// 6 pixels per character, 13 per line; wraps at spaces and at CR LF like the message child.
class TFixedMeasure : public ITextMeasure {
public:
  int32_t TextWidth(const std::string &text) override { return int32_t(text.size()) * 6; }
  TBoxSize WrappedText(const std::string &text, int32_t width) override {
    const int32_t perLine = std::max(width / 6, 1);
    int32_t lines = 0, widest = 0;
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos)
        end = text.size();
      std::string para = text.substr(start, end - start);
      int32_t line = 0;
      size_t pos = 0;
      do { // greedy word wrap
        size_t next = para.find(' ', pos);
        std::string word = para.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        const int32_t len = int32_t(word.size());
        if (line > 0 && line + 1 + len > perLine) {
          widest = std::max(widest, line * 6);
          ++lines;
          line = len;
        } else {
          line += (line > 0 ? 1 : 0) + len;
        }
        pos = next == std::string::npos ? para.size() + 1 : next + 1;
      } while (pos <= para.size());
      widest = std::max(widest, line * 6);
      ++lines;
      start = end + 2;
    }
    return {widest, lines * 13};
  }
};

TBoxLayoutInput FullInput(std::array<bool, 7> visible) {
  TBoxLayoutInput in;
  in.form = TBoxForm::fullBox;
  in.visible = visible;
  in.captions = {"send bug report", "save bug report", "print bug report", "show bug report",
                 "continue application", "restart application", "close application"};
  in.text = "An error occurred in the application.";
  return in;
}

int32_t W(const std::string &caption) { return int32_t(caption.size()) * 6 + 39; }

TEST(ExceptionBoxLayout, OneOfContinueRestartCloseSharesRowOneWithTheOthers) {
  TFixedMeasure measure;
  for (int only : {kBtnContinue, kBtnRestart, kBtnClose}) {
    std::array<bool, 7> visible{true, false, false, true, false, false, false};
    visible[size_t(only)] = true;
    const TBoxLayoutInput in = FullInput(visible);
    const TBoxLayout L = LayoutExceptionBox(in, measure);
    EXPECT_FALSE(L.twoColumns);
    EXPECT_EQ(L.rows, 2);
    const int32_t T = 13 + 5; // one line of text
    const int32_t row1 = T + 26;
    EXPECT_EQ(L.buttons[kBtnSend].y, row1);
    EXPECT_EQ(L.buttons[kBtnShow].y, row1);
    EXPECT_EQ(L.buttons[size_t(only)].y, row1);
    // Left group from x = 6, 4 pixels apart; the single right button ends 12 pixels from W.
    EXPECT_EQ(L.buttons[kBtnSend].x, 6);
    EXPECT_EQ(L.buttons[kBtnSend].w, W(in.captions[kBtnSend]) - 4);
    EXPECT_EQ(L.buttons[kBtnShow].x, 6 + W(in.captions[kBtnSend]));
    EXPECT_EQ(L.buttons[size_t(only)].x + L.buttons[size_t(only)].w, L.width - 12);
    EXPECT_EQ(L.buttons[size_t(only)].h, 22);
    EXPECT_EQ(L.height, 2 * 26 + T + 8 + 11);
    EXPECT_EQ(L.labelY, 2 * 26 + T + 8 - 8);
    // The minimum width is the sum of the widths + 14; the message wraps into 664 - 26.
    EXPECT_EQ(L.minWidth, W(in.captions[kBtnSend]) + W(in.captions[kBtnShow]) + W(in.captions[size_t(only)]) + 14);
    EXPECT_EQ(L.width, std::max(L.minWidth, int32_t(in.text.size()) * 6 + 26));
  }
}

TEST(ExceptionBoxLayout, OneRowWithTwoOfTheRightGroupPlacesThemInOrder) {
  TFixedMeasure measure;
  const TBoxLayoutInput in = FullInput({false, false, false, false, true, false, true});
  const TBoxLayout L = LayoutExceptionBox(in, measure);
  EXPECT_FALSE(L.twoColumns);
  const int32_t wc = W(in.captions[kBtnContinue]), wx = W(in.captions[kBtnClose]);
  EXPECT_EQ(L.buttons[kBtnContinue].x, L.width - wc - wx - 8);
  EXPECT_EQ(L.buttons[kBtnClose].x, L.buttons[kBtnContinue].x + wc);
  EXPECT_EQ(L.buttons[kBtnClose].y, L.buttons[kBtnContinue].y);
  EXPECT_EQ(L.outer.w, L.width);
  EXPECT_EQ(L.outer.h, L.height + in.metrics.captionHeight);
}

TEST(ExceptionBoxLayout, TwoColumnsStackTheRightGroupBesideTheMessage) {
  TFixedMeasure measure;
  TBoxLayoutInput in = FullInput({true, true, true, true, true, true, true});
  in.hasIcon = true;
  const TBoxLayout L = LayoutExceptionBox(in, measure);
  ASSERT_TRUE(L.twoColumns);
  EXPECT_EQ(L.rows, 3);
  const int32_t lastW = W(in.captions[kBtnContinue]); // the longest of the three
  EXPECT_EQ(L.lastW, lastW);
  // Icon and one line of text: T = 31, less one row, but at least 7.
  const int32_t T = std::max(31 - 26, 7);
  for (int i : {kBtnContinue, kBtnRestart, kBtnClose}) {
    EXPECT_EQ(L.buttons[size_t(i)].x, L.width - lastW - 8);
    EXPECT_EQ(L.buttons[size_t(i)].w, lastW - 4);
    EXPECT_EQ(L.buttons[size_t(i)].y, T + (i - kBtnContinue) * 26);
  }
  EXPECT_EQ(L.buttons[kBtnPrint].y, T + 2 * 26);
  EXPECT_EQ(L.minWidth, W(in.captions[0]) + W(in.captions[1]) + W(in.captions[2]) + W(in.captions[3]) + lastW + 14);
  EXPECT_EQ(L.height, 3 * 26 + T + 8 + 11);
  EXPECT_EQ(L.icon, (TBoxRect{9, 10, 32, 32}));
  EXPECT_EQ(L.message.x, 51);
  EXPECT_EQ(L.message.y, 12 + (26 - 13) / 2);
  EXPECT_EQ(L.tmpWidth, std::max(W(in.captions[kBtnPrint]), lastW) - 4);
}

TEST(ExceptionBoxLayout, TwoColumnsWithoutContinueStartRestartAtTheTop) {
  TFixedMeasure measure;
  const TBoxLayoutInput in = FullInput({true, false, false, true, false, true, true});
  const TBoxLayout L = LayoutExceptionBox(in, measure);
  ASSERT_TRUE(L.twoColumns);
  const int32_t T = 13 + 5;
  EXPECT_EQ(L.buttons[kBtnRestart].y, T);
  EXPECT_EQ(L.buttons[kBtnClose].y, T + 26);
  EXPECT_EQ(L.buttons[kBtnSend].y, T + 26);
}

TEST(ExceptionBoxLayout, LongMessageWrapsBesideTheColumnAndWidensTheWindow) {
  TFixedMeasure measure;
  TBoxLayoutInput in = FullInput({true, false, false, true, true, true, true});
  in.text = std::string(30, 'x') + " " + std::string(30, 'y') + " " + std::string(30, 'z');
  const TBoxLayout L = LayoutExceptionBox(in, measure);
  const int32_t R = L.lastW + 40;
  const int32_t wrap = std::max(L.minWidth, 664) - R;
  EXPECT_LE(L.message.w, wrap);
  EXPECT_EQ(L.message.h, 2 * 13); // 30+1+30 characters fit into the wrap width, the rest on line 2
  EXPECT_EQ(L.width, std::max(L.minWidth, L.message.w + R));
}

TEST(ExceptionBoxLayout, MessageBoxesCentreOkAndDetails) {
  TFixedMeasure measure;
  TBoxLayoutInput in;
  in.form = TBoxForm::detailBox;
  in.visible = BoxButtonVisibility(in.form, {true, true, true, true, true, true, true});
  EXPECT_EQ(in.visible, (std::array<bool, 7>{false, false, false, true, true, false, false}));
  in.captions[kBtnContinue] = "&OK";      // 3*6+39 = 57 < 75: raised to 79
  in.captions[kBtnShow] = "&Details";     // 8*6+39 = 87 stays
  in.text = "Short.";
  TBoxLayout L = LayoutExceptionBox(in, measure);
  EXPECT_EQ(L.btnHeight, 23);
  EXPECT_EQ(L.widths[kBtnContinue], 79);
  EXPECT_EQ(L.widths[kBtnShow], 87);
  EXPECT_EQ(L.minWidth, 79 + 26 + 87 + 2);
  EXPECT_EQ(L.buttons[kBtnContinue].x, (L.width - 79 - 87 + 2) / 2 - 3);
  EXPECT_EQ(L.buttons[kBtnShow].x, L.buttons[kBtnContinue].x + 79 + 2);
  const int32_t T = 13 + 5;
  EXPECT_EQ(L.buttons[kBtnContinue].y, T + 27);
  EXPECT_EQ(L.labelY, T + 2 * 27 + 13 - 8);
  EXPECT_EQ(L.height, T + 2 * 27 + 13 + 11);

  in.form = TBoxForm::simpleBox;
  in.visible = BoxButtonVisibility(in.form, in.visible);
  L = LayoutExceptionBox(in, measure);
  EXPECT_FALSE(L.twoColumns);
  EXPECT_EQ(L.buttons[kBtnContinue].x, (L.width - 79 + 4) / 2 - 3);
  EXPECT_EQ(L.labelY, 0);
  EXPECT_EQ(L.height, T + 2 * 27 + 13); // no label strip
}

TEST(ExceptionBoxLayout, ResizableFormWidensAndAddsTheDetailsPaneWithinTheScreen) {
  TFixedMeasure measure;
  TBoxLayoutInput in = FullInput({false, false, false, false, true, true, true});
  in.resizable = true;
  in.metrics = {1024, 768, 19, 4, 4};
  TBoxLayout L = LayoutExceptionBox(in, measure);
  EXPECT_EQ(L.width, std::min(1024 - 5 * 19, 664));
  ASSERT_TRUE(L.hasDetails);
  const int32_t H0 = 2 * 26 + 18 + 8 + 9;
  EXPECT_EQ(L.details, (TBoxRect{5, H0 - 4, L.width - 15, 491 - 6}));
  EXPECT_EQ(L.height, H0 + 491);
  EXPECT_EQ(L.outer.w, L.width + 4);
  EXPECT_EQ(L.outer.h, L.height + 19 + 4);

  in.metrics.screenHeight = 480; // the pane shrinks to fit the screen
  L = LayoutExceptionBox(in, measure);
  EXPECT_EQ(L.height, 480 - 5 * 19);
  EXPECT_EQ(L.details.h, L.height - H0 - 6);
}

TEST(ExceptionBoxLayout, ButtonsStayBelowTheMessageWithoutContinueRestartOrClose) {
  TFixedMeasure measure;
  const TBoxLayoutInput in = FullInput({true, false, false, false, false, false, false});
  const TBoxLayout L = LayoutExceptionBox(in, measure);
  EXPECT_GE(L.buttons[kBtnSend].y, L.message.y + L.message.h);
  EXPECT_LE(L.buttons[kBtnSend].y + L.buttons[kBtnSend].h, L.labelY);
}

TEST(ExceptionBoxLayout, MessageTallerThanTheScreenIsCutSoTheButtonsStayVisible) {
  TFixedMeasure measure;
  TBoxLayoutInput in;
  in.form = TBoxForm::simpleBox;
  in.visible = BoxButtonVisibility(in.form, {});
  in.captions[kBtnContinue] = "&OK";
  for (int i = 0; i < 100; ++i)
    in.text += "line\r\n";
  in.text += "end";
  in.metrics = {800, 600, 19, 0, 0};
  const TBoxLayout L = LayoutExceptionBox(in, measure);
  EXPECT_EQ(L.height, 600 - 5 * 19);
  EXPECT_LE(L.buttons[kBtnContinue].y + L.buttons[kBtnContinue].h, L.height);
  EXPECT_LT(L.message.h, 101 * 13);
}

TEST(ExceptionBoxLayout, CentresOnTheScreen) {
  const TBoxRect r = CentreOnScreen({301, 200}, {1024, 768, 19, 0, 0});
  EXPECT_EQ(r, (TBoxRect{361, 284, 301, 200}));
}

} // namespace
} // namespace kx
