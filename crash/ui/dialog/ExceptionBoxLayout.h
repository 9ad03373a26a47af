#pragma once
// The crash dialog's geometry: button widths, one row or two columns, rows, the message, the
// icon, the label strip, the details pane and the window's outer (and minimum) size. Text is
// measured through ITextMeasure so the arithmetic runs without a window.
#include <array>
#include <cstdint>
#include <string>

#include "crash/ui/dialog/ExceptionBoxRules.h"

namespace kx {

struct TBoxRect {
  int32_t x = 0, y = 0, w = 0, h = 0;
  bool operator==(const TBoxRect &) const = default;
};

struct TBoxSize {
  int32_t w = 0, h = 0;
};

// Text extents in the dialog font.
class ITextMeasure {
public:
  virtual ~ITextMeasure() = default;
  // Width of a single line of text.
  virtual int32_t TextWidth(const std::string &text) = 0;
  // Size of the text word-wrapped into the given width, as the message child draws it.
  virtual TBoxSize WrappedText(const std::string &text, int32_t width) = 0;
};

struct TBoxMetrics {
  int32_t screenWidth = 1024, screenHeight = 768;
  int32_t captionHeight = 19;
  int32_t frameExtraX = 0, frameExtraY = 0; // 2*(SM_CXFRAME-SM_CXDLGFRAME), 2*(SM_CYFRAME-SM_CYDLGFRAME)
};

struct TBoxLayoutInput {
  TBoxForm form = TBoxForm::fullBox;
  bool resizable = false; // the full dialog with the details pane (AutoShowBugRep)
  bool uglyBtns = false;
  bool hasIcon = false;
  std::array<bool, kBoxButtonCount> visible{};
  std::array<std::string, kBoxButtonCount> captions;
  std::string text;
  TBoxMetrics metrics;
};

struct TBoxLayout {
  std::array<int32_t, kBoxButtonCount> widths{}; // w: caption width + 39, 0 when invisible
  int32_t lastW = 0;                              // width of the right-hand column
  int32_t btnHeight = 22;
  int32_t tmpWidth = 0; // width of the off-screen button bitmap
  bool twoColumns = false;
  int32_t rows = 2;                          // B after adjustment
  std::array<TBoxRect, kBoxButtonCount> buttons{}; // meaningful where visible
  TBoxRect icon;                             // w = 0 without icon
  TBoxRect message;
  int32_t width = 0, height = 0;  // W and H (before the caption is added)
  int32_t heightWanted = 0;       // H without the details pane, before the screen limit
  int32_t minWidth = 0;           // Wmin
  int32_t labelY = 0;             // y of the web-address strip
  bool hasDetails = false;
  TBoxRect details;               // the tab control of the details pane
  TBoxSize outer;                 // the window's outer size, also its minimum tracking size
};

// The visibility of the seven buttons in a form; settingsVisible is SendBtnVis..CloseBtnVis.
std::array<bool, kBoxButtonCount> BoxButtonVisibility(TBoxForm form,
                                                      const std::array<bool, kBoxButtonCount> &settingsVisible);

TBoxLayout LayoutExceptionBox(const TBoxLayoutInput &in, ITextMeasure &measure);

// The top-left corner that centres a window of the given outer size on the screen.
TBoxRect CentreOnScreen(TBoxSize outer, const TBoxMetrics &m);

} // namespace kx
