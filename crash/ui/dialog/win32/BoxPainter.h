#pragma once
// The crash dialog's off-screen drawing: the fonts, the memory device context with its 32-bit
// bitmap, text measuring for the layout, the icons and the owner-drawn buttons with their fades.
#include <windows.h>

#include <cstdint>
#include <string>

#include "crash/ui/dialog/ExceptionBoxLayout.h"

namespace kx {

// How a button looks: text and background colour (COLORREF) and the background's colour shift.
struct TButtonLook {
  COLORREF text = 0, back = 0;
  uint32_t shift = 0;
};

// The countdown line the painter draws on the countdown button.
struct TCountdownLine {
  HWND button = nullptr; // 0: no countdown runs
  int32_t x = 0;         // last drawn x position
};

class TBoxPainter : public ITextMeasure {
public:
  TBoxPainter(HMODULE iconModule, bool uglyBtns);
  ~TBoxPainter() override;
  TBoxPainter(const TBoxPainter &) = delete;
  TBoxPainter &operator=(const TBoxPainter &) = delete;

  HFONT DialogFont() const { return FFont1; }
  HFONT FixedFont() const { return FFont2; }
  HFONT LabelFont() const { return FFont3; }
  HDC TmpDC() const { return FTmpDC; }

  // ITextMeasure, in the dialog font.
  int32_t TextWidth(const std::string &text) override;
  TBoxSize WrappedText(const std::string &text, int32_t width) override;

  // Makes the off-screen bitmap the buttons are drawn into.
  void MakeButtonBitmap(int32_t width, int32_t height);

  // True when the module carries the bitmap resource of the index (of any size).
  bool HasIcon(int index) const;
  // Blends the icon of the index (side 16, or 32 for the big icon) at (offset, offset) of hDC, over
  // the background colour, or over the off-screen bitmap's pixels when overBitmap is set.
  void DrawGraphic(HDC hDC, int offset, int index, int side, COLORREF background, bool overBitmap);

  // Draws a button into the off-screen bitmap and copies it to hDC. The look's colour shift
  // applies on deep displays (half of it on a disabled button).
  void DrawButton(const TButtonLook &look, HWND button, HDC hDC, TCountdownLine &countdown, int32_t newX,
                  bool pushed, bool focused);
  // Eight frames from look1 to look2, 10 ms apart.
  void FlashButton(TButtonLook look1, TButtonLook look2, HWND button, HDC hDC, TCountdownLine &countdown,
                   bool focused);

  static bool DeepDisplay();

private:
  HMODULE FModule;
  bool FUgly;
  HFONT FFont1 = nullptr, FFont2 = nullptr, FFont3 = nullptr;
  HDC FTmpDC = nullptr;
  HBITMAP FTmpBmp = nullptr;
  HGDIOBJ FOldBmp = nullptr, FOldFont = nullptr;
  uint32_t *FTmpBits = nullptr;
  int32_t FTmpWidth = 0, FTmpHeight = 0;
};

} // namespace kx
