#include "crash/output/win32/KXWin32Printing.h"

#include <commdlg.h>

#include "crash/base/settings/KXDefaults.h"
#include "crash/base/settings/win32/KXSettingsShell.h"
#include "crash/capture/threads/win32/ProcessLock.h"
#include "crash/output/win32/KXWin32TextDevice.h"

namespace kx {

namespace {
constexpr DWORD kLockWaitMs = 250;
constexpr int kFontPoints = 8;

std::string DocumentName(IKXSettings *settings) {
  if (settings)
    return settings->GetPrintBtnCaption();
  if (std::shared_ptr<IKXModuleSettings> main = KXSettingsShell::Instance().MainSettings())
    return main->GetPrintBtnCaption();
  const TKXProperty *fallback = FindDefault("PrintBtnTxt");
  return fallback ? fallback->Text() : std::string();
}
} // namespace

KXDeviceMetrics DeviceMetricsOf(HDC dc) {
  KXDeviceMetrics m;
  m.horzRes = GetDeviceCaps(dc, HORZRES);
  m.vertRes = GetDeviceCaps(dc, VERTRES);
  m.horzSizeMm = GetDeviceCaps(dc, HORZSIZE);
  m.vertSizeMm = GetDeviceCaps(dc, VERTSIZE);
  m.physicalOffsetX = GetDeviceCaps(dc, PHYSICALOFFSETX);
  m.physicalOffsetY = GetDeviceCaps(dc, PHYSICALOFFSETY);
  return m;
}

HFONT CreateReportFont(HDC dc) {
  return CreateFontW(-GetDeviceCaps(dc, LOGPIXELSY) * kFontPoints / 72, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN,
                     L"Courier New");
}

KXPrintResult PrintReportOnDC(HDC dc, const std::string &report, const std::string &documentName,
                              const std::string &outputFile) {
  KXPrintResult result;
  SetMapMode(dc, MM_TEXT);
  std::optional<KXPageLayout> layout = PageLayoutFor(DeviceMetricsOf(dc));
  if (!layout)
    return result;
  HFONT font = CreateReportFont(dc);
  HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;

  DOCINFOA doc{};
  doc.cbSize = sizeof(doc);
  doc.lpszDocName = documentName.c_str();
  doc.lpszOutput = outputFile.empty() ? nullptr : outputFile.c_str();
  if (StartDocA(dc, &doc) > 0) {
    KXWin32TextDevice device(dc);
    result = PrintReportPages(device, *layout, report);
    if (result.printed)
      result.printed = EndDoc(dc) > 0;
    else
      AbortDoc(dc);
  }

  if (font) {
    SelectObject(dc, oldFont);
    DeleteObject(font);
  }
  return result;
}

bool PrintBugReportText(const std::string &report, KXWindow parent, IKXSettings *settings) {
  if (ProcessLockHeld(kLockWaitMs)) {
    MessageBeep(0xFFFFFFFF);
    return false;
  }
  PRINTDLGW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = reinterpret_cast<HWND>(parent);
  dialog.Flags = PD_NOSELECTION | PD_NOPAGENUMS | PD_NOWARNING | PD_RETURNDC | PD_USEDEVMODECOPIESANDCOLLATE |
                 PD_HIDEPRINTTOFILE | PD_NONETWORKBUTTON;
  BOOL chosen = PrintDlgW(&dialog);
  if (dialog.hDevMode)
    GlobalFree(dialog.hDevMode);
  if (dialog.hDevNames)
    GlobalFree(dialog.hDevNames);
  if (!chosen || !dialog.hDC) {
    if (dialog.hDC)
      DeleteDC(dialog.hDC);
    return false;
  }
  bool printed = PrintReportOnDC(dialog.hDC, report, DocumentName(settings)).printed;
  DeleteDC(dialog.hDC);
  return printed;
}

} // namespace kx
