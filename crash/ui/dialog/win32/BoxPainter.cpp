#include "crash/ui/dialog/win32/BoxPainter.h"

#include <algorithm>
#include <vector>

#include "crash/ui/dialog/BoxColours.h"
#include "crash/ui/dialog/ExceptionBoxRules.h"
#include "runtime/win32/WideText.h"

namespace kx {
namespace {

HFONT MakeFont(int height, const wchar_t *face) {
  return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

// The message child draws with these flags (see SS_NOPREFIX), so measuring with them wraps alike.
constexpr UINT kMessageFlags = DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX;

// The icon resource of an index with its pixels top-down; empty when missing or of another size.
std::vector<uint32_t> LoadIcon(HMODULE module, int index, int side) {
  const std::string name = BoxIconResource(index);
  HRSRC res = FindResourceA(module, name.c_str(), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
  if (!res)
    return {};
  const DWORD size = SizeofResource(module, res);
  HGLOBAL data = LoadResource(module, res);
  const void *bytes = data ? LockResource(data) : nullptr;
  return IconPixels(static_cast<const uint8_t *>(bytes), size, side);
}

void CopyPixels(HDC hDC, int x, int y, int w, int h, const uint32_t *topDown) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(hDC, x, y, DWORD(w), DWORD(h), 0, 0, 0, UINT(h), topDown, &info, DIB_RGB_COLORS);
}

} // namespace

bool TBoxPainter::DeepDisplay() {
  HDC screen = GetDC(nullptr);
  const int bits = GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  return bits > 14;
}

TBoxPainter::TBoxPainter(HMODULE iconModule, bool uglyBtns) : FModule(iconModule), FUgly(uglyBtns) {
  FFont1 = MakeFont(-11, L"Tahoma");
  if (!FFont1)
    FFont1 = MakeFont(-12, L"MS Sans Serif");
  FFont2 = MakeFont(-11, L"Courier New");
  FFont3 = MakeFont(-8, L"Small Fonts");
  FTmpDC = CreateCompatibleDC(nullptr);
  if (FTmpDC) {
    FOldFont = SelectObject(FTmpDC, FFont1 ? FFont1 : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(FTmpDC, TRANSPARENT);
  }
}

TBoxPainter::~TBoxPainter() {
  if (FTmpDC) {
    if (FOldBmp)
      SelectObject(FTmpDC, FOldBmp);
    SelectObject(FTmpDC, FOldFont);
    DeleteDC(FTmpDC);
  }
  if (FTmpBmp)
    DeleteObject(FTmpBmp);
  for (HFONT f : {FFont1, FFont2, FFont3})
    if (f)
      DeleteObject(f);
}

int32_t TBoxPainter::TextWidth(const std::string &text) {
  SIZE size{};
  if (FTmpDC && !text.empty())
    GetTextExtentPoint32A(FTmpDC, text.data(), int(text.size()), &size);
  return size.cx;
}

TBoxSize TBoxPainter::WrappedText(const std::string &text, int32_t width) {
  RECT r{0, 0, width, 0};
  if (FTmpDC)
    DrawTextA(FTmpDC, text.c_str(), int(text.size()), &r, kMessageFlags | DT_CALCRECT);
  return {r.right - r.left, r.bottom - r.top};
}

void TBoxPainter::MakeButtonBitmap(int32_t width, int32_t height) {
  if (!FTmpDC)
    return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = std::max(width, 1);
  info.bmiHeader.biHeight = std::max(height, 1); // bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void *bits = nullptr;
  HBITMAP bmp = CreateDIBSection(FTmpDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bmp)
    return;
  HGDIOBJ old = SelectObject(FTmpDC, bmp);
  if (FTmpBmp)
    DeleteObject(FTmpBmp);
  else
    FOldBmp = old;
  FTmpBmp = bmp;
  FTmpBits = static_cast<uint32_t *>(bits);
  FTmpWidth = info.bmiHeader.biWidth;
  FTmpHeight = info.bmiHeader.biHeight;
}

bool TBoxPainter::HasIcon(int index) const {
  return FindResourceA(FModule, BoxIconResource(index).c_str(), MAKEINTRESOURCEA(2)) != nullptr;
}

void TBoxPainter::DrawGraphic(HDC hDC, int offset, int index, int side, COLORREF background, bool overBitmap) {
  std::vector<uint32_t> pixels = LoadIcon(FModule, index, side);
  if (pixels.empty())
    return;
  if (overBitmap) {
    // Blended in place into the off-screen bitmap (bottom-up rows), clipped to it.
    if (!FTmpBits)
      return;
    GdiFlush();
    for (int y = 0; y < side; ++y) {
      const int by = offset + y;
      if (by < 0 || by >= FTmpHeight)
        continue;
      uint32_t *row = FTmpBits + size_t(FTmpHeight - 1 - by) * size_t(FTmpWidth);
      for (int x = 0; x < side; ++x) {
        const int bx = offset + x;
        if (bx >= 0 && bx < FTmpWidth)
          row[bx] = BlendPixel(row[bx], pixels[size_t(y) * size_t(side) + size_t(x)]);
      }
    }
    return;
  }
  const uint32_t back = ColourToPixel(background);
  for (uint32_t &p : pixels)
    p = BlendPixel(back, p);
  CopyPixels(hDC, offset, offset, side, side, pixels.data());
}

void TBoxPainter::DrawButton(const TButtonLook &look, HWND button, HDC hDC, TCountdownLine &countdown,
                             int32_t newX, bool pushed, bool focused) {
  if (!FTmpDC || !FTmpBits)
    return;
  RECT rc;
  GetClientRect(button, &rc);
  const int w = std::min<int>(rc.right, FTmpWidth), h = std::min<int>(rc.bottom, FTmpHeight);
  const bool enabled = IsWindowEnabled(button);
  const bool deep = DeepDisplay();
  COLORREF back = look.back;
  if (look.shift && deep)
    back = ShiftColour(back, enabled ? look.shift : look.shift / 2);

  RECT r{0, 0, w, h};
  COLORREF lineColour;
  int offset;
  if (FUgly) {
    DrawFrameControl(FTmpDC, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    lineColour = GetSysColor(COLOR_3DDKSHADOW);
    offset = 2;
    back = GetSysColor(COLOR_BTNFACE);
  } else {
    HBRUSH brush = CreateSolidBrush(back);
    FillRect(FTmpDC, &r, brush);
    DeleteObject(brush);
    lineColour = GetSysColor(COLOR_BTNFACE);
    offset = 0;
  }

  if (countdown.button == button) {
    if (newX != -1)
      countdown.x = newX;
    auto line = [&](int x, COLORREF colour) {
      HPEN pen = CreatePen(PS_SOLID, 1, colour);
      HGDIOBJ old = SelectObject(FTmpDC, pen);
      MoveToEx(FTmpDC, x, 2 * offset, nullptr);
      LineTo(FTmpDC, x, h - 2 * offset);
      SelectObject(FTmpDC, old);
      DeleteObject(pen);
    };
    line(countdown.x, lineColour);
    if (deep)
      for (int i = 0; i < 4; ++i) {
        const COLORREF c = PixelToColour(QuarterMix(ColourToPixel(lineColour), ColourToPixel(back), i + 1));
        line(countdown.x - i - 1, c);
        line(countdown.x + i + 1, c);
      }
  }

  if (FUgly && focused) {
    RECT f = r;
    InflateRect(&f, -3, -3);
    DrawFocusRect(FTmpDC, &f);
  }

  const int index = int(GetWindowLongPtrW(button, GWLP_USERDATA));
  DrawGraphic(FTmpDC, offset + 3, index, 16, back, true);

  std::string caption = WindowText(button);
  if (caption.size() > 29)
    caption.resize(29);
  const int x = (w - TextWidth(caption) - 35) / 2;
  if (enabled) {
    SetTextColor(FTmpDC, look.text);
    TextOutA(FTmpDC, x + 27, offset + 4, caption.data(), int(caption.size()));
  } else {
    SetTextColor(FTmpDC, RGB(255, 255, 255));
    TextOutA(FTmpDC, x + 28, offset + 5, caption.data(), int(caption.size()));
    SetTextColor(FTmpDC, GetSysColor(COLOR_3DDKSHADOW));
    TextOutA(FTmpDC, x + 27, offset + 4, caption.data(), int(caption.size()));
  }
  GdiFlush();
  BitBlt(hDC, 0, 0, w, h, FTmpDC, 0, 0, SRCCOPY);
}

void TBoxPainter::FlashButton(TButtonLook look1, TButtonLook look2, HWND button, HDC hDC,
                              TCountdownLine &countdown, bool focused) {
  if (DeepDisplay()) {
    if (look1.shift)
      look1.back = ShiftColour(look1.back, look1.shift);
    else if (look2.shift)
      look2.back = ShiftColour(look2.back, look2.shift);
  }
  for (int n = 7; n >= 0; --n) {
    const TButtonLook frame{FadeColour(look1.text, look2.text, n), FadeColour(look1.back, look2.back, n), 0};
    DrawButton(frame, button, hDC, countdown, -1, false, focused);
    if (n)
      Sleep(10);
  }
}

} // namespace kx
