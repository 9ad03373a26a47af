// The application-only capture region, checked pixel by pixel against the rule: an own window's
// pixel shows when no visible, not minimised window above it covers that pixel.
#include <gtest/gtest.h>

#include "crash/output/image/NVAppRegion.h"

namespace kx::test {
namespace {

const NVRect kScreen{-100, 0, 300, 200}; // a virtual desktop starting left of the primary monitor

NVTopWindow Own(NVRect rect) { return {rect, true, true, false}; }
NVTopWindow Foreign(NVRect rect) { return {rect, false, true, false}; }

bool Inside(const NVRect &r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// The rule evaluated for one screen pixel.
bool ShowsByRule(const std::vector<NVTopWindow> &windows, const NVRect &area, int32_t x, int32_t y) {
  if (!Inside(area, x, y))
    return false;
  for (size_t i = 0; i < windows.size(); ++i) {
    const NVTopWindow &w = windows[i];
    if (!w.visible || w.minimised || !Inside(w.rect, x, y))
      continue;
    return w.own; // the topmost visible window at this pixel decides
  }
  return false;
}

// The parts are disjoint, inside the area, and cover exactly the pixels the rule shows.
void ExpectRegionFollowsTheRule(const std::vector<NVTopWindow> &windows, const NVAppRegion &region) {
  const int32_t width = region.area.right - region.area.left, height = region.area.bottom - region.area.top;
  for (int32_t y = kScreen.top - 5; y < kScreen.bottom + 5; ++y)
    for (int32_t x = kScreen.left - 5; x < kScreen.right + 5; ++x) {
      int covering = 0;
      for (const NVRect &part : region.parts) {
        ASSERT_FALSE(part.Empty());
        ASSERT_TRUE(part.left >= 0 && part.top >= 0 && part.right <= width && part.bottom <= height);
        covering += Inside(part, x - region.area.left, y - region.area.top);
      }
      ASSERT_LE(covering, 1) << x << "," << y;
      ASSERT_EQ(covering == 1, ShowsByRule(windows, region.area, x, y)) << x << "," << y;
    }
}

TEST(AppRegion, AnUncoveredWindowIsCapturedWhole) {
  const std::vector<NVTopWindow> windows = {Foreign({200, 150, 290, 190}), Own({10, 20, 110, 80}),
                                            Foreign({0, 0, 300, 200})}; // a foreign window below
  auto region = AppOnlyRegion(kScreen, windows);
  ASSERT_TRUE(region);
  EXPECT_EQ(region->area, (NVRect{10, 20, 110, 80}));
  EXPECT_EQ(region->parts, (std::vector<NVRect>{{0, 0, 100, 60}}));
}

TEST(AppRegion, AWindowCoveredByAnotherProcessIsNothing) {
  EXPECT_FALSE(AppOnlyRegion(kScreen, {Foreign({0, 0, 200, 100}), Own({10, 20, 110, 80})}));
  // Covered by two foreign windows together.
  EXPECT_FALSE(AppOnlyRegion(kScreen, {Foreign({0, 0, 60, 100}), Foreign({50, 0, 200, 100}), Own({10, 20, 110, 80})}));
}

TEST(AppRegion, AnOwnWindowOnTopIsItselfPartOfTheRegion) {
  // Our second window covers the first completely: the covered one adds nothing, the covering one
  // shows, so there is a picture, of the covering window only, in the common bounding area.
  const std::vector<NVTopWindow> windows = {Own({0, 10, 120, 90}), Own({10, 20, 110, 80})};
  auto region = AppOnlyRegion(kScreen, windows);
  ASSERT_TRUE(region);
  EXPECT_EQ(region->area, (NVRect{0, 10, 120, 90}));
  ExpectRegionFollowsTheRule(windows, *region);
}

TEST(AppRegion, PartlyCoveredWindowsKeepTheirVisibleParts) {
  const std::vector<NVTopWindow> windows = {
      Foreign({40, 40, 60, 60}),           // a hole in the middle of the first own window
      {{0, 0, 300, 200}, false, false, false}, // invisible: covers nothing
      {{0, 0, 300, 200}, false, true, true},   // minimised: covers nothing
      Own({20, 30, 100, 90}),
      Foreign({90, 80, 150, 120}),         // over the second own window's corner
      {{150, 150, 160, 160}, true, true, true}, // an own minimised window does not count
      Own({95, 85, 170, 140}),             // overlapped by the first own window too
      Foreign({0, 0, 300, 200}),           // the desktop-sized window at the bottom
  };
  auto region = AppOnlyRegion(kScreen, windows);
  ASSERT_TRUE(region);
  EXPECT_EQ(region->area, (NVRect{20, 30, 170, 140}));
  ExpectRegionFollowsTheRule(windows, *region);
}

TEST(AppRegion, TheAreaIsClippedToTheScreen) {
  const std::vector<NVTopWindow> windows = {Own({-150, -20, -50, 50}), Own({250, 180, 400, 260})};
  auto region = AppOnlyRegion(kScreen, windows);
  ASSERT_TRUE(region);
  EXPECT_EQ(region->area, (NVRect{-100, 0, 300, 200}));
  ExpectRegionFollowsTheRule(windows, *region);
  // Entirely off the screen, or no own window at all: nothing.
  EXPECT_FALSE(AppOnlyRegion(kScreen, {Own({400, 0, 500, 100})}));
  EXPECT_FALSE(AppOnlyRegion(kScreen, {Foreign({0, 0, 10, 10})}));
  EXPECT_FALSE(AppOnlyRegion(kScreen, {Own({10, 10, 10, 50})})); // empty rectangle
}

TEST(AppRegion, SubtractLeavesDisjointPiecesOutsideTheCut) {
  const NVRect rect{0, 0, 10, 10};
  for (const NVRect &cut : {NVRect{3, 3, 6, 6}, NVRect{-5, 2, 4, 20}, NVRect{0, 0, 10, 10}, NVRect{20, 20, 30, 30}}) {
    const std::vector<NVRect> pieces = Subtract(rect, cut);
    for (int32_t y = -1; y < 11; ++y)
      for (int32_t x = -1; x < 11; ++x) {
        int n = 0;
        for (const NVRect &p : pieces)
          n += Inside(p, x, y);
        EXPECT_EQ(n, Inside(rect, x, y) && !Inside(cut, x, y) ? 1 : 0) << x << "," << y;
      }
  }
}

} // namespace
} // namespace kx::test
