#pragma once
// The drawing of a form window: its fonts, text measuring for the layout, the background with
// the panel, heading and step indicator, the painted frames of edits and images, and the
// owner-drawn buttons and check boxes.
#include <windows.h>

#include "crash/ui/assistant/FormLayout.h"

namespace kx {

class TNVFormPainter : public INVFormMeasure {
public:
  TNVFormPainter();
  ~TNVFormPainter() override;
  TNVFormPainter(const TNVFormPainter &) = delete;
  TNVFormPainter &operator=(const TNVFormPainter &) = delete;

  // Tahoma at 11 pixels: the items and plain buttons.
  HFONT ItemsFont() const { return FItems; }

  // INVFormMeasure
  TNVSize TextSize(TNVFont font, const std::string &text) override;
  TNVSize WrappedTextSize(TNVFont font, const std::string &text, int32_t width) override;
  TNVSize CheckMarkSize() override;
  int32_t ScreenHeight() override;

  // The background (erase): the lightened client area, the panel with its dotted frame, the
  // heading and the step indicator.
  void PaintForm(HDC dc, TNVForm &form);
  // The parts of the items the form paints: the frames around edits (dark around the focused
  // one) and the images.
  void PaintItems(HDC dc, TNVForm &form, HWND focus);
  // An owner-drawn button (a main button or an extra one) or check box.
  void DrawButton(const DRAWITEMSTRUCT &draw, TNVButton &button);
  void DrawCheckBox(const DRAWITEMSTRUCT &draw, TNVCheckBox &box);

private:
  HFONT Font(TNVFont font) const;
  void PaintImage(HDC dc, TNVImage &image);

  HDC FMeasureDC = nullptr;
  HFONT FItems = nullptr, FButton = nullptr, FHeading = nullptr, FTick = nullptr;
};

} // namespace kx
