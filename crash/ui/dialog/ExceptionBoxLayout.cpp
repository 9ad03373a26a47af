#include "crash/ui/dialog/ExceptionBoxLayout.h"

#include <algorithm>

namespace kx {
namespace {

constexpr int32_t kMaxTextWidth = 664;
constexpr int32_t kDetailsHeight = 491;

bool IsMessageBox(TBoxForm form) { return form != TBoxForm::fullBox; }

} // namespace

std::array<bool, kBoxButtonCount> BoxButtonVisibility(TBoxForm form,
                                                      const std::array<bool, kBoxButtonCount> &settingsVisible) {
  if (form == TBoxForm::fullBox)
    return settingsVisible;
  std::array<bool, kBoxButtonCount> v{};
  v[kBtnContinue] = true;
  v[kBtnShow] = form == TBoxForm::detailBox;
  return v;
}

namespace {

TBoxLayout Layout(const TBoxLayoutInput &in, ITextMeasure &measure, int32_t cutTextBy) {
  TBoxLayout L;
  const bool msgBox = IsMessageBox(in.form);
  L.btnHeight = msgBox ? 23 : in.uglyBtns ? 26 : 22;

  // Widths; continue, restart and close also make the right-hand column's width.
  for (int i = 0; i < kBoxButtonCount; ++i) {
    L.widths[size_t(i)] = in.visible[size_t(i)] ? measure.TextWidth(in.captions[size_t(i)]) + 39 : 0;
    if (i >= kBtnContinue)
      L.lastW = std::max(L.lastW, L.widths[size_t(i)]);
  }
  if (msgBox) {
    for (int i : {kBtnContinue, kBtnShow})
      if (in.visible[size_t(i)] && L.widths[size_t(i)] < 75)
        L.widths[size_t(i)] = 79;
  }
  const auto &w = L.widths;
  L.tmpWidth = std::max({w[kBtnSend], w[kBtnSave], w[kBtnPrint], w[kBtnShow], L.lastW}) - 4;

  // One row or two columns.
  int32_t B = int32_t(in.visible[kBtnContinue]) + int32_t(in.visible[kBtnRestart]) + int32_t(in.visible[kBtnClose]);
  const bool anyLeft = in.visible[kBtnSend] || in.visible[kBtnSave] || in.visible[kBtnPrint] || in.visible[kBtnShow];
  L.twoColumns = !msgBox && B > 1 && anyLeft;
  // With one of continue, restart and close (or none) the buttons share row 1 as with two.
  if (B < 2)
    B = 2;

  int32_t R;
  if (msgBox) {
    L.minWidth = w[kBtnContinue] + 26;
    if (in.visible[kBtnShow])
      L.minWidth += w[kBtnShow] + 2;
    R = 26;
  } else if (L.twoColumns) {
    L.minWidth = w[kBtnSend] + w[kBtnSave] + w[kBtnPrint] + w[kBtnShow] + L.lastW + 14;
    R = L.lastW + 40;
  } else {
    L.minWidth = 14;
    for (int32_t x : w)
      L.minWidth += x;
    R = 26;
  }

  if (in.hasIcon) {
    L.icon = {9, 10, 32, 32};
    R += 40;
  }
  const int32_t wrapWidth = std::max(std::max(L.minWidth, kMaxTextWidth) - R, 1);
  TBoxSize text = measure.WrappedText(in.text, wrapWidth);
  text.h = std::max(text.h - cutTextBy, 0);
  int32_t W = std::max(L.minWidth, text.w + R);
  const TBoxMetrics &m = in.metrics;
  const int32_t sMax = std::min(m.screenWidth - 5 * m.captionHeight, kMaxTextWidth);
  if (in.resizable)
    W = std::max(W, sMax);

  // Rows.
  int32_t T = in.hasIcon && text.h < 26 ? 31 : text.h + 5;
  if (B == 3) {
    if (L.twoColumns)
      T = std::max(T - (L.btnHeight + 4), 7);
    else
      B = 2;
  }
  L.rows = B;
  const int32_t step = L.btnHeight + 4;
  auto place = [&](int index, int32_t x, int32_t row, int32_t width) {
    L.buttons[size_t(index)] = {x, T + row * step, width - 4, L.btnHeight};
  };
  int32_t H;
  if (!msgBox) {
    int32_t x = 6;
    for (int i : {kBtnSend, kBtnSave, kBtnPrint, kBtnShow})
      if (in.visible[size_t(i)]) {
        place(i, x, B - 1, w[size_t(i)]);
        x += w[size_t(i)];
      }
    if (L.twoColumns) {
      x = W - L.lastW - 8;
      if (in.visible[kBtnContinue])
        place(kBtnContinue, x, 0, L.lastW);
      if (in.visible[kBtnRestart])
        place(kBtnRestart, x, in.visible[kBtnContinue] ? 1 : 0, L.lastW);
      if (in.visible[kBtnClose])
        place(kBtnClose, x, B - 1, L.lastW);
    } else {
      x = W - w[kBtnContinue] - w[kBtnRestart] - w[kBtnClose] - 8;
      for (int i : {kBtnContinue, kBtnRestart, kBtnClose})
        if (in.visible[size_t(i)]) {
          place(i, x, 1, w[size_t(i)]);
          x += w[size_t(i)];
        }
    }
    H = B * step + T + 8;
  } else {
    const int32_t okX = in.visible[kBtnShow] ? (W - w[kBtnContinue] - w[kBtnShow] + 2) / 2 - 3
                                              : (W - w[kBtnContinue] + 4) / 2 - 3;
    place(kBtnContinue, okX, 1, w[kBtnContinue]);
    if (in.visible[kBtnShow])
      place(kBtnShow, okX + w[kBtnContinue] + 2, 1, w[kBtnShow]);
    H = T + 2 * step + 13;
  }

  // The message beside the icon, centred on it when lower.
  if (in.hasIcon)
    L.message = {51, 12 + (text.h < 26 ? (26 - text.h) / 2 : 0), text.w, text.h};
  else
    L.message = {11, 12, text.w, text.h};

  // Label strip and details pane.
  if (in.form != TBoxForm::simpleBox) {
    L.labelY = H - 8;
    H += in.resizable ? 9 : 11;
  }
  const int32_t H0 = H;
  if (in.resizable)
    H += kDetailsHeight;
  H = std::min(H, m.screenHeight - 5 * m.captionHeight);
  if (in.resizable) {
    L.hasDetails = true;
    L.details = {5, H0 - 4, W - 15, std::max(H - H0 - 6, 0)};
  }
  L.width = W;
  L.height = H;
  L.heightWanted = H0;
  L.outer = {W + (in.resizable ? m.frameExtraX : 0), H + m.captionHeight + (in.resizable ? m.frameExtraY : 0)};
  return L;
}

} // namespace

TBoxLayout LayoutExceptionBox(const TBoxLayoutInput &in, ITextMeasure &measure) {
  TBoxLayout L = Layout(in, measure, 0);
  // A message too long for the screen is cut so that the buttons below it stay on the screen.
  const int32_t limit = in.metrics.screenHeight - 5 * in.metrics.captionHeight;
  if (L.heightWanted > limit && L.message.h > 0)
    L = Layout(in, measure, std::min(L.heightWanted - limit, L.message.h));
  return L;
}

TBoxRect CentreOnScreen(TBoxSize outer, const TBoxMetrics &m) {
  return {(m.screenWidth - outer.w) / 2, (m.screenHeight - outer.h) / 2, outer.w, outer.h};
}

} // namespace kx
