#include "crash/output/win32/KXWin32TextDevice.h"

#include <climits>

namespace kx {

namespace {
// Word wrap and the font's external leading between lines. A report is plain text: '&' is
// printed, never taken for an accelerator prefix.
constexpr UINT kFormat = DT_WORDBREAK | DT_EXTERNALLEADING | DT_NOPREFIX;

int Length(std::string_view text) { return text.size() > INT_MAX ? INT_MAX : int(text.size()); }
} // namespace

RECT KXWin32TextDevice::Bounds(std::string_view text, int width) {
  RECT r{0, 0, width, 0};
  DrawTextA(FDC, text.data(), Length(text), &r, kFormat | DT_CALCRECT);
  return r;
}

int KXWin32TextDevice::Measure(std::string_view text, int width) {
  RECT r = Bounds(text, width);
  return r.bottom - r.top;
}

int KXWin32TextDevice::Draw(std::string_view text, int x, int y, int width) {
  RECT r = Bounds(text, width);
  OffsetRect(&r, x, y);
  return DrawTextA(FDC, text.data(), Length(text), &r, kFormat);
}

bool KXWin32TextDevice::StartPage() { return ::StartPage(FDC) > 0; }

bool KXWin32TextDevice::EndPage() { return ::EndPage(FDC) > 0; }

} // namespace kx
