#pragma once
// The text device of printing over a device context: DrawTextA with word wrap and external
// leading, in the font selected into the context.
#include <windows.h>

#include "crash/output/KXPrintLayout.h"

namespace kx {

class KXWin32TextDevice : public IKXTextDevice {
public:
  explicit KXWin32TextDevice(HDC dc) : FDC(dc) {}

  // DrawTextA with DT_CALCRECT in a rectangle of the given width.
  int Measure(std::string_view text, int width) override;
  // Measures, moves the rectangle to (x, y) and draws in it.
  int Draw(std::string_view text, int x, int y, int width) override;
  bool StartPage() override;
  bool EndPage() override;

private:
  RECT Bounds(std::string_view text, int width);

  HDC FDC;
};

} // namespace kx
