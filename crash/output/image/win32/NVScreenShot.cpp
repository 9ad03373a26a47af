#include "crash/output/image/win32/NVScreenShot.h"

#include <windows.h>

#include <vector>

#include "crash/output/image/NVAppRegion.h"
#include "crash/output/image/win32/NVWin32Bitmap.h"

namespace kx {

namespace {

class DisplayDC {
public:
  DisplayDC() : FDC(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr)) {}
  ~DisplayDC() {
    if (FDC)
      DeleteDC(FDC);
  }
  DisplayDC(const DisplayDC &) = delete;
  DisplayDC &operator=(const DisplayDC &) = delete;
  HDC Get() const { return FDC; }

private:
  HDC FDC;
};

NVRect CapturedArea(HDC display) {
  if (GetSystemMetrics(SM_CMONITORS) > 0) {
    const int32_t left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  }
  return {0, 0, GetDeviceCaps(display, HORZRES), GetDeviceCaps(display, VERTRES)};
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  NVTopWindow entry;
  RECT rect;
  if (GetWindowRect(window, &rect))
    entry.rect = {rect.left, rect.top, rect.right, rect.bottom};
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  entry.own = process == GetCurrentProcessId();
  entry.visible = IsWindowVisible(window) != 0;
  entry.minimised = IsIconic(window) != 0;
  reinterpret_cast<std::vector<NVTopWindow> *>(list)->push_back(entry);
  return TRUE;
}

// The top-level windows in Z-order, the topmost first (the order EnumWindows reports them in).
std::vector<NVTopWindow> TopLevelWindows() {
  std::vector<NVTopWindow> windows;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// Limits drawing into dc to the region's parts.
bool ClipTo(HDC dc, const std::vector<NVRect> &parts) {
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  if (!region)
    return false;
  bool ok = true;
  for (const NVRect &part : parts) {
    const RECT rect{part.left, part.top, part.right, part.bottom};
    HRGN piece = CreateRectRgnIndirect(&rect);
    if (!piece || CombineRgn(region, region, piece, RGN_OR) == ERROR)
      ok = false;
    if (piece)
      DeleteObject(piece);
  }
  RECT box;
  ok = ok && GetRgnBox(region, &box) != NULLREGION && SelectClipRgn(dc, region) != ERROR;
  DeleteObject(region);
  return ok;
}

// Draws the mouse cursor where it is, when the system says it is showing.
void DrawCursor(HDC dc, const NVRect &area) {
  using GetCursorInfoFn = BOOL(WINAPI *)(PCURSORINFO);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto getCursorInfo = user32 ? reinterpret_cast<GetCursorInfoFn>(
                                    reinterpret_cast<void *>(GetProcAddress(user32, "GetCursorInfo")))
                              : nullptr;
  if (!getCursorInfo)
    return;
  CURSORINFO cursor{};
  cursor.cbSize = sizeof(cursor);
  if (!getCursorInfo(&cursor) || !(cursor.flags & CURSOR_SHOWING) || !cursor.hCursor)
    return;
  ICONINFO icon{};
  if (!GetIconInfo(cursor.hCursor, &icon))
    return;
  if (icon.hbmMask)
    DeleteObject(icon.hbmMask);
  if (icon.hbmColor)
    DeleteObject(icon.hbmColor);
  DrawIconEx(dc, cursor.ptScreenPos.x - int(icon.xHotspot) - area.left,
             cursor.ptScreenPos.y - int(icon.yHotspot) - area.top, cursor.hCursor, 0, 0, 0, nullptr, DI_NORMAL);
}

} // namespace

std::shared_ptr<INVBitmap> ScreenShot(bool appOnly) {
  try {
    DisplayDC display;
    if (!display.Get())
      return nullptr;
    NVRect area = CapturedArea(display.Get());
    std::vector<NVRect> parts;
    if (appOnly) {
      auto region = AppOnlyRegion(area, TopLevelWindows());
      if (!region)
        return nullptr;
      area = region->area;
      parts = std::move(region->parts);
    }

    const int32_t width = area.right - area.left, height = area.bottom - area.top;
    auto bitmap = TNVWin32Bitmap::Create(width, height);
    if (!bitmap)
      return nullptr;
    HDC dc = bitmap->DC();
    if (appOnly) {
      const RECT all{0, 0, width, height};
      FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      if (!ClipTo(dc, parts))
        return nullptr;
    }
    if (!BitBlt(dc, 0, 0, width, height, display.Get(), area.left, area.top, SRCCOPY))
      return nullptr;
    DrawCursor(dc, area);
    SelectClipRgn(dc, nullptr);
    GdiFlush();
    return bitmap;
  } catch (...) {
    return nullptr;
  }
}

} // namespace kx
