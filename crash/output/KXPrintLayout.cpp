#include "crash/output/KXPrintLayout.h"

#include <cstdint>

namespace kx {

namespace {
// Millimetres in device units, rounded to the nearest unit.
int64_t FromMm(int64_t mm, int64_t res, int64_t sizeMm) { return (res * mm + sizeMm / 2) / sizeMm; }
} // namespace

std::optional<KXPageLayout> PageLayoutFor(const KXDeviceMetrics &m) {
  if (m.horzRes <= 0 || m.vertRes <= 0 || m.horzSizeMm <= 0 || m.vertSizeMm <= 0)
    return std::nullopt;
  KXPageLayout layout;
  layout.topMargin = int(FromMm(10, m.vertRes, m.vertSizeMm) - m.physicalOffsetY);
  layout.leftMargin = int(FromMm(20, m.horzRes, m.horzSizeMm) - m.physicalOffsetX);
  layout.rightMargin = int(FromMm(10, m.horzRes, m.horzSizeMm));
  layout.bottomLimit = m.vertRes - 2 * layout.topMargin;
  layout.textWidth = m.horzRes + m.physicalOffsetX - layout.leftMargin - layout.rightMargin;
  if (layout.textWidth <= 0 || layout.bottomLimit <= layout.topMargin)
    return std::nullopt;
  return layout;
}

std::vector<std::string_view> ReportLines(std::string_view report) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (;;) {
    size_t end = report.find("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(report.substr(start));
      return lines;
    }
    lines.push_back(report.substr(start, end - start));
    start = end + 2;
  }
}

KXPrintResult PrintReportPages(IKXTextDevice &device, const KXPageLayout &layout, std::string_view report) {
  KXPrintResult result;
  if (!device.StartPage())
    return result;
  result.pages = 1;
  int y = layout.topMargin;
  bool pageEmpty = true;
  for (std::string_view line : ReportLines(report)) {
    std::string_view text = line.empty() ? std::string_view(" ") : line;
    int height = device.Measure(text, layout.textWidth);
    if (!pageEmpty && y + height > layout.bottomLimit) {
      if (!device.EndPage() || !device.StartPage())
        return result;
      ++result.pages;
      y = layout.topMargin;
    }
    int drawn = device.Draw(text, layout.leftMargin, y, layout.textWidth);
    y += drawn > 0 ? drawn : height;
    pageEmpty = false;
  }
  result.printed = device.EndPage();
  return result;
}

} // namespace kx
