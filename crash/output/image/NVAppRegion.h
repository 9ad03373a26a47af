#pragma once
// The part of the screen an application-only screenshot shows: the visible parts of the
// process's own top-level windows. Worked out on rectangles, so that the Win32 capture only feeds
// it the window list and turns the result into a clip region.
#include <cstdint>
#include <optional>
#include <vector>

namespace kx {

// Left and top inclusive, right and bottom exclusive, as Windows rectangles.
struct NVRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  bool Empty() const { return right <= left || bottom <= top; }
  bool operator==(const NVRect &) const = default;
};

NVRect Intersection(const NVRect &a, const NVRect &b);

// The parts of rect outside cut (at most four disjoint rectangles).
std::vector<NVRect> Subtract(const NVRect &rect, const NVRect &cut);

// One top-level window.
struct NVTopWindow {
  NVRect rect; // screen coordinates
  bool own = false; // belongs to the current process
  bool visible = false;
  bool minimised = false;
};

struct NVAppRegion {
  NVRect area;               // the part of the screen to capture (screen coordinates)
  std::vector<NVRect> parts; // disjoint, relative to the area's top-left corner, inside it
};

// windows lists every top-level window in Z-order, the topmost first; area is the captured part
// of the screen. The own windows that count are visible, not minimised and not empty. The new
// area is the bounding rectangle of those windows, clipped to area; the region is the union over
// them of each window minus every visible, not minimised window above it (of any process, its
// own included). nullopt when there is nothing to show.
std::optional<NVAppRegion> AppOnlyRegion(const NVRect &area, const std::vector<NVTopWindow> &windows);

} // namespace kx
