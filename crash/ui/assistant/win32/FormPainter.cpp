#include "crash/ui/assistant/win32/FormPainter.h"

#include <algorithm>

#include "crash/ui/assistant/AssistantBitmaps.h"
#include "crash/ui/assistant/FormColours.h"
#include "runtime/win32/WideText.h"

namespace kx {

namespace {

HFONT MakeFont(int height, int weight, const wchar_t *face) {
  return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

RECT AsRect(const TNVRect &r) { return {r.left, r.top, r.right, r.bottom}; }

void Fill(HDC dc, const RECT &r, COLORREF colour) {
  if (r.right <= r.left || r.bottom <= r.top)
    return;
  SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

void Fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  Fill(dc, RECT{left, top, right, bottom}, colour);
}

// A frame of the given width along the inside of r.
void Frame(HDC dc, const RECT &r, int width, COLORREF colour) {
  Fill(dc, r.left, r.top, r.right, r.top + width, colour);
  Fill(dc, r.left, r.bottom - width, r.right, r.bottom, colour);
  Fill(dc, r.left, r.top + width, r.left + width, r.bottom - width, colour);
  Fill(dc, r.right - width, r.top + width, r.right, r.bottom - width, colour);
}

// A dotted frame of dots width x width, a dot's width apart, along the inside of r.
void DottedFrame(HDC dc, const RECT &r, int width, COLORREF colour) {
  const int step = 2 * width;
  for (int x = r.left; x < r.right; x += step) {
    Fill(dc, x, r.top, std::min<int>(x + width, r.right), r.top + width, colour);
    Fill(dc, x, r.bottom - width, std::min<int>(x + width, r.right), r.bottom, colour);
  }
  for (int y = r.top + step; y < r.bottom - width; y += step) {
    Fill(dc, r.left, y, r.left + width, std::min<int>(y + width, r.bottom), colour);
    Fill(dc, r.right - width, y, r.right, std::min<int>(y + width, r.bottom), colour);
  }
}

void Text(HDC dc, const std::wstring &text, RECT r, UINT format, COLORREF colour) {
  SetTextColor(dc, colour);
  DrawTextW(dc, text.c_str(), int(text.size()), &r, format | DT_NOPREFIX);
}

// The text in colour over a one-pixel white halo.
void HaloText(HDC dc, const std::wstring &text, const RECT &r, UINT format, COLORREF colour) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      if (dx || dy)
        Text(dc, text, RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}, format, RGB(255, 255, 255));
  Text(dc, text, r, format, colour);
}

// Selects a font and the transparent background for the life of the object.
class TTextSetup {
public:
  TTextSetup(HDC dc, HFONT font) : FDC(dc), FOld(SelectObject(dc, font)), FMode(SetBkMode(dc, TRANSPARENT)) {}
  ~TTextSetup() {
    SetBkMode(FDC, FMode);
    SelectObject(FDC, FOld);
  }

private:
  HDC FDC;
  HGDIOBJ FOld;
  int FMode;
};

} // namespace

TNVFormPainter::TNVFormPainter() {
  FMeasureDC = CreateCompatibleDC(nullptr);
  FItems = MakeFont(11, FW_NORMAL, L"Tahoma");
  FButton = MakeFont(15, FW_NORMAL, L"Arial");
  FHeading = MakeFont(15, FW_BOLD, L"Arial");
  FTick = MakeFont(13, FW_NORMAL, L"Marlett");
}

TNVFormPainter::~TNVFormPainter() {
  if (FMeasureDC)
    DeleteDC(FMeasureDC);
  for (HFONT font : {FItems, FButton, FHeading, FTick})
    if (font)
      DeleteObject(font);
}

HFONT TNVFormPainter::Font(TNVFont font) const {
  switch (font) {
  case TNVFont::items:
    return FItems;
  case TNVFont::button:
    return FButton;
  case TNVFont::heading:
    return FHeading;
  }
  return FItems;
}

TNVSize TNVFormPainter::TextSize(TNVFont font, const std::string &text) {
  if (!FMeasureDC)
    return {};
  HGDIOBJ old = SelectObject(FMeasureDC, Font(font));
  const std::wstring wide = Widen(text.empty() ? std::string(" ") : text);
  RECT r{0, 0, 0, 0};
  DrawTextW(FMeasureDC, wide.c_str(), int(wide.size()), &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(FMeasureDC, old);
  return {text.empty() ? 0 : int32_t(r.right - r.left), int32_t(r.bottom - r.top)};
}

TNVSize TNVFormPainter::WrappedTextSize(TNVFont font, const std::string &text, int32_t width) {
  if (!FMeasureDC)
    return {};
  HGDIOBJ old = SelectObject(FMeasureDC, Font(font));
  const std::wstring wide = Widen(text.empty() ? std::string(" ") : text);
  RECT r{0, 0, width > 0 ? width : 1, 0};
  DrawTextW(FMeasureDC, wide.c_str(), int(wide.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(FMeasureDC, old);
  return {text.empty() ? 0 : int32_t(r.right - r.left), int32_t(r.bottom - r.top)};
}

TNVSize TNVFormPainter::CheckMarkSize() { return {GetSystemMetrics(SM_CXMENUCHECK), GetSystemMetrics(SM_CYMENUCHECK)}; }

int32_t TNVFormPainter::ScreenHeight() { return GetSystemMetrics(SM_CYSCREEN); }

void TNVFormPainter::PaintForm(HDC dc, TNVForm &form) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const int32_t w = form.FWidth;
  RECT client{0, 0, w, form.FHeight};
  Fill(dc, client, AdjustColour(face, 8));

  const int32_t continueTop = form.ItemList().empty() ? form.FHeight : form.Item(0).FRect.top;
  const RECT panel = AsRect(PanelRect(w, continueTop));
  Fill(dc, panel, face);
  DottedFrame(dc, panel, 2, AdjustColour(face, -16));

  TTextSetup setup(dc, FHeading);
  HaloText(dc, Widen(form.FMessage), RECT{11, 6, w, 25}, DT_LEFT | DT_TOP | DT_SINGLELINE,
           GetSysColor(COLOR_3DDKSHADOW));

  const int32_t steps = form.FSteps;
  if (steps <= 0 || steps > 99)
    return;
  if (form.FStep >= 1 && form.FStep <= steps) {
    const RECT box = AsRect(StepBoxRect(w, steps, form.FStep));
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    Fill(dc, box, GetSysColor(COLOR_BTNSHADOW));
    Fill(dc, box.left + 2, box.top + 2, box.right - 2, box.bottom - 2, window);
    for (int row = 7; row <= 19 && box.top + row < box.bottom - 2; ++row)
      Fill(dc, box.left + 2, box.top + row, box.right - 2, box.top + row + 1, StepBoxRow(window, row));
  }
  for (int32_t number = 1; number <= steps; ++number) {
    const int32_t x = StepNumberLeft(w, steps, number);
    const std::wstring digits = std::to_wstring(number);
    const RECT r{x, 4, x + kStepWidth, 24};
    if (number == form.FStep)
      HaloText(dc, digits, r, DT_LEFT | DT_TOP | DT_SINGLELINE, GetSysColor(COLOR_WINDOWTEXT));
    else
      Text(dc, digits, r, DT_LEFT | DT_TOP | DT_SINGLELINE, GetSysColor(COLOR_BTNSHADOW));
  }
}

void TNVFormPainter::PaintItems(HDC dc, TNVForm &form, HWND focus) {
  const COLORREF light = HalfwayToWhite(GetSysColor(COLOR_BTNFACE));
  for (const std::shared_ptr<TNVItem> &item : form.ItemList()) {
    if (item->Kind() == TNVItemKind::edit) {
      const RECT r = AsRect(item->FRect);
      if (item->FHandle && HWND(item->FHandle) == focus) {
        Frame(dc, r, 1, GetSysColor(COLOR_BTNSHADOW));
        Frame(dc, RECT{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, 1, GetSysColor(COLOR_WINDOW));
      } else {
        Frame(dc, r, 2, light);
      }
    } else if (item->Kind() == TNVItemKind::image) {
      PaintImage(dc, static_cast<TNVImage &>(*item));
    }
  }
}

void TNVFormPainter::PaintImage(HDC dc, TNVImage &image) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  RECT r = AsRect(image.FRect);
  if (image.FClickable) {
    Frame(dc, r, 2, HalfwayToWhite(face));
    Frame(dc, RECT{r.left + 2, r.top + 2, r.right - 2, r.bottom - 2}, 1, face);
    InflateRect(&r, -3, -3);
  }
  if (image.FBorder) {
    Frame(dc, r, 1, GetSysColor(COLOR_WINDOWTEXT));
    InflateRect(&r, -1, -1);
  }
  std::shared_ptr<IKXAssistantBitmaps> bitmaps = AssistantBitmaps();
  std::shared_ptr<INVBitmap> bitmap = image.FBitmap;
  if (!bitmap || !bitmaps) {
    Fill(dc, r, face);
    return;
  }
  int32_t w = 0, h = 0;
  try {
    w = std::clamp<int32_t>(bitmaps->Width(*bitmap), 0, r.right - r.left);
    h = std::clamp<int32_t>(bitmaps->Height(*bitmap), 0, r.bottom - r.top);
    // The picture stays inside its area.
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    bitmaps->Draw(*bitmap, std::uintptr_t(dc), r.left, r.top);
    RestoreDC(dc, saved);
  } catch (...) {
    w = h = 0; // a picture that cannot be drawn leaves its area plain
  }
  Fill(dc, r.left + w, r.top, r.right, r.bottom, face);
  Fill(dc, r.left, r.top + h, r.left + w, r.bottom, face);
}

void TNVFormPainter::DrawButton(const DRAWITEMSTRUCT &draw, TNVButton &button) {
  HDC dc = draw.hDC;
  const RECT r = draw.rcItem;
  const int h = r.bottom - r.top;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const TNVButtonScheme scheme = ButtonScheme(button.FIndex);
  const std::wstring caption = Widen(button.ShownCaption());
  TTextSetup setup(dc, FButton);
  const UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
  RECT text = r;
  if (draw.itemState & ODS_SELECTED)
    OffsetRect(&text, 1, 1);

  if (draw.itemState & ODS_DISABLED) {
    Fill(dc, r, face);
    Fill(dc, r.left + 2, r.top + 2, r.right - 2, r.bottom - 2, AdjustColour(face, 16));
    Text(dc, caption, text, format, AdjustColour(face, -20));
  } else if (draw.itemState & ODS_FOCUS) {
    Fill(dc, r, GetSysColor(COLOR_WINDOWTEXT));
    for (int y = r.top + h - 4, k = 0; y >= r.top + 2; --y, ++k)
      Fill(dc, r.left + 2, y, r.right - 2, y + 1, FocusedButtonRow(k, scheme.step));
    DottedFrame(dc, RECT{r.left + 3, r.top + 3, r.right - 3, r.bottom - 3}, 1, scheme.frame);
    Text(dc, caption, text, format, GetSysColor(COLOR_WINDOW));
  } else {
    Fill(dc, r, GetSysColor(COLOR_BTNSHADOW));
    Fill(dc, r.left + 2, r.top + 2, r.right - 2, r.bottom - 2, face);
    for (int y = r.top + 3, j = 0; y <= r.top + h - 5; ++y, ++j)
      Fill(dc, r.left + 3, y, r.right - 3, y + 1, NormalButtonRow(j, scheme.step));
    HaloText(dc, caption, text, format, GetSysColor(COLOR_WINDOWTEXT));
  }
}

void TNVFormPainter::DrawCheckBox(const DRAWITEMSTRUCT &draw, TNVCheckBox &box) {
  HDC dc = draw.hDC;
  const RECT r = draw.rcItem;
  const int side = r.bottom - r.top;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const bool disabled = draw.itemState & ODS_DISABLED, pressed = draw.itemState & ODS_SELECTED;
  Fill(dc, r, face);
  const RECT square{r.left, r.top, r.left + side, r.bottom};
  Fill(dc, square, HalfwayToWhite(face));
  Fill(dc, square.left + 2, square.top + 2, square.right - 2, square.bottom - 2,
       pressed || disabled ? face : GetSysColor(COLOR_WINDOW));
  if (box.FChecked) {
    TTextSetup tick(dc, FTick);
    Text(dc, L"a", square, DT_CENTER | DT_VCENTER | DT_SINGLELINE,
         GetSysColor(disabled ? COLOR_BTNSHADOW : COLOR_WINDOWTEXT));
  }
  TTextSetup setup(dc, FItems);
  const std::wstring caption = Widen(box.ShownCaption());
  RECT text{square.right + 4, r.top, r.right, r.bottom};
  const UINT format = DT_LEFT | DT_VCENTER | DT_SINGLELINE;
  if (disabled) {
    Text(dc, caption, RECT{text.left + 1, text.top + 1, text.right + 1, text.bottom + 1}, format, RGB(255, 255, 255));
    Text(dc, caption, text, format, GetSysColor(COLOR_BTNSHADOW));
  } else {
    Text(dc, caption, text, format, GetSysColor(COLOR_BTNTEXT));
  }
  if (draw.itemState & ODS_FOCUS) {
    RECT focus = text;
    DrawTextW(dc, caption.c_str(), int(caption.size()), &focus, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    const int height = focus.bottom - focus.top;
    focus.top = r.top + (side - height) / 2;
    focus.bottom = focus.top + height;
    InflateRect(&focus, 1, 0);
    DrawFocusRect(dc, &focus);
  }
}

} // namespace kx
