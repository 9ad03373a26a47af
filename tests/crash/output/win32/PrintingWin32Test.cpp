// Printing on Win32: the DrawTextA text device on a bitmap, and a report printed into a file
// through a PostScript printer (Wine's PostScript driver; installed for the test when the
// system has no PostScript printer), paged, with every line drawn.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>

#include "crash/output/win32/KXWin32Printing.h"
#include "crash/output/win32/KXWin32TextDevice.h"
#include "tests/crash/output/win32/Win32TestFolder.h"

namespace kx::test {
namespace {

// --- the text device on a bitmap ---------------------------------------------------------------

struct Bitmap {
  static constexpr int kWidth = 400, kHeight = 300;
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ oldBitmap = nullptr;
  uint32_t *pixels = nullptr;

  Bitmap() {
    HDC screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    pixels = static_cast<uint32_t *>(bits);
    if (bitmap)
      oldBitmap = SelectObject(dc, bitmap);
    if (pixels)
      std::memset(pixels, 0xFF, size_t(kWidth) * kHeight * 4);
  }
  ~Bitmap() {
    if (oldBitmap)
      SelectObject(dc, oldBitmap);
    if (bitmap)
      DeleteObject(bitmap);
    DeleteDC(dc);
  }
  bool Dark(int x, int y) const { return (pixels[y * kWidth + x] & 0xFFFFFF) != 0xFFFFFF; }
};

TEST(TextDeviceWin32, MeasuresWrapsAndDrawsWhereAsked) {
  Bitmap b;
  ASSERT_TRUE(b.pixels);
  GdiFlush();
  HFONT font = CreateReportFont(b.dc);
  ASSERT_NE(font, nullptr);
  HGDIOBJ oldFont = SelectObject(b.dc, font);
  KXWin32TextDevice device(b.dc);

  int line = device.Measure("x", 380);
  EXPECT_GT(line, 0);
  EXPECT_EQ(device.Measure(" ", 380), line) << "a blank line keeps the height of a line";
  std::string words;
  for (int i = 0; i < 60; ++i)
    words += "word ";
  EXPECT_GE(device.Measure(words, 380), 3 * line) << "300 characters wrap within 380 pixels";

  int drawn = device.Draw("X&X&X&X&", 10, 50, 380);
  GdiFlush();
  EXPECT_EQ(drawn, line);
  int top = Bitmap::kHeight, bottom = -1, left = Bitmap::kWidth, right = -1;
  for (int y = 0; y < Bitmap::kHeight; ++y)
    for (int x = 0; x < Bitmap::kWidth; ++x)
      if (b.Dark(x, y)) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
        left = std::min(left, x);
        right = std::max(right, x);
      }
  ASSERT_GE(bottom, 0) << "nothing was drawn";
  EXPECT_GE(top, 50);
  EXPECT_LT(bottom, 50 + line);
  EXPECT_GE(left, 10);
  // Eight characters are drawn, '&' included: wider than four.
  SIZE four{};
  GetTextExtentPoint32A(b.dc, "XXXX", 4, &four);
  EXPECT_GT(right - left + 1, four.cx) << "'&' was taken for a prefix";

  SelectObject(b.dc, oldFont);
  DeleteObject(font);
}

// --- a PostScript printer ------------------------------------------------------------------------

constexpr wchar_t kTestPrinter[] = L"Tidewell Test PostScript";
constexpr wchar_t kWineDriver[] = L"Wine PostScript Driver";

std::wstring FindPostScriptPrinter() {
  DWORD needed = 0, count = 0;
  EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
  if (needed == 0)
    return {};
  std::vector<BYTE> buffer(needed);
  if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count))
    return {};
  auto *printers = reinterpret_cast<PRINTER_INFO_2W *>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    std::wstring driver = printers[i].pDriverName ? printers[i].pDriverName : L"";
    std::transform(driver.begin(), driver.end(), driver.begin(), ::towlower);
    if (driver.find(L"postscript") != std::wstring::npos || driver.find(L" ps ") != std::wstring::npos)
      return printers[i].pPrinterName;
  }
  return {};
}

// The generic PPD that Wine carries as a resource (winspool.drv or wineps.drv).
struct PpdSearch {
  HMODULE module;
  std::string ppd;
};

BOOL CALLBACK OnResourceName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  auto *search = reinterpret_cast<PpdSearch *>(param);
  HRSRC found = FindResourceW(module, name, type);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const char *data = loaded ? static_cast<const char *>(LockResource(loaded)) : nullptr;
  DWORD size = found ? SizeofResource(module, found) : 0;
  if (data && size > 10 && std::memcmp(data, "*PPD-Adobe", 10) == 0) {
    search->ppd.assign(data, strnlen(data, size));
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK OnResourceType(HMODULE module, LPWSTR type, LONG_PTR param) {
  EnumResourceNamesW(module, type, OnResourceName, param);
  return reinterpret_cast<PpdSearch *>(param)->ppd.empty();
}

std::string WinePpd() {
  for (const wchar_t *name : {L"winspool.drv", L"wineps.drv"}) {
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
      continue;
    PpdSearch search{module, {}};
    EnumResourceTypesW(module, OnResourceType, reinterpret_cast<LONG_PTR>(&search));
    FreeLibrary(module);
    if (!search.ppd.empty())
      return search.ppd;
  }
  return {};
}

// Installs Wine's PostScript driver with its generic PPD and a printer on the FILE: port.
std::wstring InstallPostScriptPrinter(const Win32TestFolder &folder, std::string &why) {
  std::string ppd = WinePpd();
  if (ppd.empty()) {
    why = "no PPD resource in winspool.drv or wineps.drv";
    return {};
  }
  std::wstring ppdPath = folder.Write(L"generic.ppd", ppd);
  wchar_t system[MAX_PATH];
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  std::wstring driverPath = std::wstring(system, n) + L"\\wineps.drv";
  DRIVER_INFO_3W driver{};
  driver.cVersion = 3;
  driver.pName = const_cast<wchar_t *>(kWineDriver);
  driver.pDriverPath = driverPath.data();
  driver.pDataFile = ppdPath.data();
  driver.pConfigFile = driverPath.data();
  driver.pDefaultDataType = const_cast<wchar_t *>(L"RAW");
  AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE *>(&driver), APD_COPY_NEW_FILES | APD_COPY_FROM_DIRECTORY);
  DWORD driverError = GetLastError();

  PRINTER_INFO_2W info{};
  info.pPrinterName = const_cast<wchar_t *>(kTestPrinter);
  info.pPortName = const_cast<wchar_t *>(L"FILE:");
  info.pDriverName = const_cast<wchar_t *>(kWineDriver);
  // Wine spools a document as EMF and plays it back on the driver in its "wineps" print
  // processor; with Windows' "WinPrint" and RAW its StartDocPrinter refuses the EMF data type.
  info.pPrintProcessor = const_cast<wchar_t *>(L"wineps");
  info.pDatatype = const_cast<wchar_t *>(L"NT EMF 1.003");
  info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE *>(&info));
  if (!printer && GetLastError() != ERROR_PRINTER_ALREADY_EXISTS) {
    why = "AddPrinterW failed with error " + std::to_string(GetLastError()) + " (AddPrinterDriverExW: " +
          std::to_string(driverError) + ")";
    return {};
  }
  if (printer)
    ClosePrinter(printer);
  return kTestPrinter;
}

void RemoveTestPrinter() {
  HANDLE printer = nullptr;
  PRINTER_DEFAULTSW access{nullptr, nullptr, PRINTER_ALL_ACCESS};
  if (OpenPrinterW(const_cast<wchar_t *>(kTestPrinter), &printer, &access)) {
    DeletePrinter(printer);
    ClosePrinter(printer);
  }
}

// Records what the printer device is asked to do and passes it on.
class RecordingDevice : public IKXTextDevice {
public:
  struct Line {
    int page;
    std::string text;
    int y, height;
  };
  explicit RecordingDevice(IKXTextDevice &inner) : FInner(inner) {}
  std::vector<Line> lines;
  int pages = 0;

  int Measure(std::string_view text, int width) override { return FInner.Measure(text, width); }
  int Draw(std::string_view text, int x, int y, int width) override {
    int height = FInner.Draw(text, x, y, width);
    lines.push_back({pages, std::string(text), y, height});
    return height;
  }
  bool StartPage() override {
    ++pages;
    return FInner.StartPage();
  }
  bool EndPage() override { return FInner.EndPage(); }

private:
  IKXTextDevice &FInner;
};

std::string LongReport() {
  std::string report = "date/time          : 2026-03-09, 14:03:07, 45ms\r\n"
                       "exception message  : 'abc' is not a valid integer value & more.\r\n\r\nmain thread ($1a2c):\r\n";
  for (int i = 0; i < 150; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "%08x +%03x Tidewell.exe MainUnit %4d +%d TForm1.btnSetClick", 0x401000 + i * 16,
                  i % 256, 100 + i, i % 7);
    report += line;
    report += "\r\n";
  }
  for (int i = 0; i < 40; ++i)
    report += "a long line that the printer has to wrap ";
  report += "\r\n\r\nlast line";
  return report;
}

size_t Count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

TEST(PrintingWin32, AReportPrintsPagedIntoAPostScriptFile) {
  Win32TestFolder folder(L"kxprint-");
  ASSERT_TRUE(folder.Created);
  std::string why;
  RemoveTestPrinter(); // one left behind by an earlier run that stopped half-way
  std::wstring printer = FindPostScriptPrinter();
  bool installed = false;
  if (printer.empty()) {
    printer = InstallPostScriptPrinter(folder, why);
    installed = !printer.empty();
  }
  if (printer.empty())
    GTEST_SKIP() << "no PostScript printer: " << why;
  HDC dc = CreateDCW(L"WINSPOOL", printer.c_str(), nullptr, nullptr);
  if (!dc)
    dc = CreateDCW(nullptr, printer.c_str(), nullptr, nullptr);
  if (!dc) {
    if (installed)
      RemoveTestPrinter();
    GTEST_SKIP() << "CreateDCW fails for the printer (error " << GetLastError() << ")";
  }

  const std::string report = LongReport();
  std::wstring outputW = folder.Path + L"report.ps";
  std::string output(outputW.begin(), outputW.end()); // the temporary path is ASCII here
  KXPrintResult result = PrintReportOnDC(dc, report, "print bug report", output);
  EXPECT_TRUE(result.printed);
  EXPECT_GE(result.pages, 2);
  std::string ps = Win32TestFolder::Read(outputW);
  EXPECT_EQ(ps.substr(0, 4), "%!PS");
  EXPECT_EQ(Count(ps, "\n%%Page: "), size_t(result.pages));

  // The same report through a recording device on the same printer: every line drawn, in order,
  // none below the bottom limit, each page starting at the top margin.
  std::optional<KXPageLayout> layout = PageLayoutFor(DeviceMetricsOf(dc));
  ASSERT_TRUE(layout);
  SetMapMode(dc, MM_TEXT);
  HFONT font = CreateReportFont(dc);
  HGDIOBJ oldFont = SelectObject(dc, font);
  std::string second = output + ".2";
  DOCINFOA doc{sizeof(doc), "print bug report", second.c_str(), nullptr, 0};
  ASSERT_GT(StartDocA(dc, &doc), 0);
  KXWin32TextDevice device(dc);
  RecordingDevice recorder(device);
  KXPrintResult recorded = PrintReportPages(recorder, *layout, report);
  EndDoc(dc);
  SelectObject(dc, oldFont);
  DeleteObject(font);
  DeleteDC(dc);
  if (installed)
    RemoveTestPrinter();

  EXPECT_EQ(recorded.pages, result.pages);
  std::vector<std::string_view> lines = ReportLines(report);
  ASSERT_EQ(recorder.lines.size(), lines.size());
  int singleHeight = recorder.lines[0].height;
  for (size_t i = 0; i < lines.size(); ++i) {
    const RecordingDevice::Line &l = recorder.lines[i];
    EXPECT_EQ(l.text, lines[i].empty() ? " " : std::string(lines[i])) << i;
    bool firstOnPage = i == 0 || recorder.lines[i - 1].page != l.page;
    if (firstOnPage) {
      EXPECT_EQ(l.y, layout->topMargin) << i;
    } else {
      EXPECT_LE(l.y + l.height, layout->bottomLimit) << i;
    }
    if (lines[i].size() > 1000) {
      EXPECT_GT(l.height, 2 * singleHeight) << "the long line wraps";
    }
  }
  EXPECT_EQ(recorder.lines.back().page, result.pages);
}

} // namespace
} // namespace kx::test
