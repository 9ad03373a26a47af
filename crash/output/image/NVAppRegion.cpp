#include "crash/output/image/NVAppRegion.h"

#include <algorithm>

namespace kx {

NVRect Intersection(const NVRect &a, const NVRect &b) {
  NVRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
  return r.Empty() ? NVRect{} : r;
}

std::vector<NVRect> Subtract(const NVRect &rect, const NVRect &cut) {
  const NVRect overlap = Intersection(rect, cut);
  if (overlap.Empty())
    return rect.Empty() ? std::vector<NVRect>{} : std::vector<NVRect>{rect};
  std::vector<NVRect> parts;
  const NVRect candidates[] = {
      {rect.left, rect.top, rect.right, overlap.top},             // above the cut
      {rect.left, overlap.bottom, rect.right, rect.bottom},       // below it
      {rect.left, overlap.top, overlap.left, overlap.bottom},     // left of it
      {overlap.right, overlap.top, rect.right, overlap.bottom},   // right of it
  };
  for (const NVRect &candidate : candidates)
    if (!candidate.Empty())
      parts.push_back(candidate);
  return parts;
}

namespace {

bool CountsAsOwn(const NVTopWindow &window) {
  return window.own && window.visible && !window.minimised && !window.rect.Empty();
}

std::vector<NVRect> SubtractAll(std::vector<NVRect> pieces, const NVRect &cut) {
  std::vector<NVRect> rest;
  for (const NVRect &piece : pieces)
    for (const NVRect &part : Subtract(piece, cut))
      rest.push_back(part);
  return rest;
}

} // namespace

std::optional<NVAppRegion> AppOnlyRegion(const NVRect &area, const std::vector<NVTopWindow> &windows) {
  bool any = false;
  NVRect bounds;
  for (const NVTopWindow &window : windows) {
    if (!CountsAsOwn(window))
      continue;
    if (!any) {
      bounds = window.rect;
      any = true;
    } else {
      bounds = {std::min(bounds.left, window.rect.left), std::min(bounds.top, window.rect.top),
                std::max(bounds.right, window.rect.right), std::max(bounds.bottom, window.rect.bottom)};
    }
  }
  if (!any)
    return std::nullopt;
  NVAppRegion region;
  region.area = Intersection(bounds, area);
  if (region.area.Empty())
    return std::nullopt;

  // Screen coordinates. The parts of different own windows are disjoint: of two own windows the
  // upper one is cut out of the lower one.
  std::vector<NVRect> visible;
  for (size_t i = 0; i < windows.size(); ++i) {
    if (!CountsAsOwn(windows[i]))
      continue;
    std::vector<NVRect> pieces{Intersection(windows[i].rect, region.area)};
    if (pieces[0].Empty())
      continue;
    for (size_t above = 0; above < i && !pieces.empty(); ++above)
      if (windows[above].visible && !windows[above].minimised)
        pieces = SubtractAll(std::move(pieces), windows[above].rect);
    visible.insert(visible.end(), pieces.begin(), pieces.end());
  }
  if (visible.empty())
    return std::nullopt;
  for (NVRect part : visible) {
    part.left -= region.area.left;
    part.right -= region.area.left;
    part.top -= region.area.top;
    part.bottom -= region.area.top;
    region.parts.push_back(part);
  }
  return region;
}

} // namespace kx
