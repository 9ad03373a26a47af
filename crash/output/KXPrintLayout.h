#pragma once
// Laying a bug report out on printer pages: the margins from the device's metrics, one report
// line after the other with word wrap, a new page when the next line would pass the bottom.
// A report is never cut, only paged.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// A page device that draws 8-bit text with word wrap (the Win32 shell uses a printer DC).
class IKXTextDevice {
public:
  virtual ~IKXTextDevice() = default;
  // The height the text takes when wrapped within width.
  virtual int Measure(std::string_view text, int width) = 0;
  // Draws the text wrapped within width, its top left corner at (x, y); returns the height drawn.
  virtual int Draw(std::string_view text, int x, int y, int width) = 0;
  virtual bool StartPage() = 0;
  virtual bool EndPage() = 0;
};

// The device's measurements in its own units (pixels) and in millimetres.
struct KXDeviceMetrics {
  int horzRes = 0;         // printable width
  int vertRes = 0;         // printable height
  int horzSizeMm = 0;      // printable width in mm
  int vertSizeMm = 0;      // printable height in mm
  int physicalOffsetX = 0; // distance of the printable area from the paper's edge
  int physicalOffsetY = 0;
};

// Positions relative to the printable area, in device units.
struct KXPageLayout {
  int topMargin = 0;   // 10 mm from the paper's top edge
  int leftMargin = 0;  // 20 mm from the paper's left edge
  int rightMargin = 0; // 10 mm
  int bottomLimit = 0; // no line may reach below
  int textWidth = 0;
};

// nullopt for a device without usable sizes or without room for text.
std::optional<KXPageLayout> PageLayoutFor(const KXDeviceMetrics &metrics);

// The report's lines, split at CR LF.
std::vector<std::string_view> ReportLines(std::string_view report);

struct KXPrintResult {
  bool printed = false; // every page started and ended
  int pages = 0;        // pages started
};

// Prints the report from the first page on; an empty line prints as a single space, so it
// keeps the height of a line. A line goes to a new page when it would pass the bottom limit,
// unless it is the first on its page (a line taller than a page is printed as far as it fits).
KXPrintResult PrintReportPages(IKXTextDevice &device, const KXPageLayout &layout, std::string_view report);

} // namespace kx
