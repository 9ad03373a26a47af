#pragma once
// Printing a bug report: the print dialog, and the report laid out in Courier New 8 pt on the
// chosen printer.
#include <windows.h>

#include <string>

#include "crash/base/settings/KXSettings.h"
#include "crash/capture/exception/KXException.h"
#include "crash/output/KXPrintLayout.h"

namespace kx {

// GetDeviceCaps: HORZRES, VERTRES, HORZSIZE, VERTSIZE, PHYSICALOFFSETX, PHYSICALOFFSETY.
KXDeviceMetrics DeviceMetricsOf(HDC dc);

// The font of the printout for the device context: "Courier New", 8 points, normal weight. The
// caller deletes it.
HFONT CreateReportFont(HDC dc);

// Prints the report as a document named documentName on a printer device context (the caller
// keeps the context). outputFile: a file to print into instead of the printer's port (empty: the
// port). The result tells whether every page was printed and how many were started; nothing is
// printed when the context has no usable page size or the document cannot be started.
KXPrintResult PrintReportOnDC(HDC dc, const std::string &report, const std::string &documentName,
                              const std::string &outputFile = {});

// The work behind the print button: refused with a beep while the process is blocked in the
// loader; otherwise the print dialog (owned by parent) chooses the printer and the report is
// printed as a document named by PrintBtnTxt of settings (null: of the main settings). True
// when the report was printed.
bool PrintBugReportText(const std::string &report, KXWindow parent, IKXSettings *settings = nullptr);

} // namespace kx
