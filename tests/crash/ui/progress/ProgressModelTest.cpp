#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "crash/ui/progress/ProgressModel.h"

namespace kx {
namespace {

TEST(ProgressAreasTest, OverallShareFollowsWeights) {
  TProgressAreas areas;
  areas.Add(1, "first");
  areas.Add(3, "second");
  EXPECT_EQ(areas.Sum(), 4);
  EXPECT_EQ(areas.Area(0).before, 0);
  EXPECT_EQ(areas.Area(1).before, 1);
  EXPECT_EQ(areas.Overall(), 0);
  areas.SetPosition(1000);
  EXPECT_EQ(areas.Overall(), 250);
  ASSERT_TRUE(areas.SetCurrent(1));
  EXPECT_EQ(areas.Position(), 0);
  areas.SetPosition(500);
  EXPECT_EQ(areas.Overall(), 625); // (1 + 3 * 0.5) * 1000 / 4: no share lost to an early division
  areas.SetPosition(999);
  EXPECT_EQ(areas.Overall(), 999); // (1000 + 2997) / 4 = 999.25 truncates
  areas.SetPosition(1);
  EXPECT_EQ(areas.Overall(), 250);
  areas.SetPosition(1000);
  EXPECT_EQ(areas.Overall(), 1000);
}

TEST(ProgressAreasTest, EmptyTextRepeatsThePreviousArea) {
  TProgressAreas areas;
  areas.Add(10, "");
  areas.Add(10, "Connecting...");
  areas.Add(10, "");
  areas.Add(10, "");
  EXPECT_EQ(areas.Area(0).text, "");
  EXPECT_EQ(areas.Area(2).text, "Connecting...");
  EXPECT_EQ(areas.Area(3).text, "Connecting...");
  ASSERT_TRUE(areas.SetCurrent(3));
  EXPECT_EQ(areas.CurrentText(), "Connecting...");
  EXPECT_EQ(areas.TextsFromCurrent(), std::vector<std::string>{"Connecting..."});
  ASSERT_TRUE(areas.SetCurrent(1));
  EXPECT_EQ(areas.TextsFromCurrent().size(), 3u);
}

TEST(ProgressAreasTest, StepsBetweenAreas) {
  TProgressAreas areas;
  areas.Add(100, "a");
  areas.Add(100, "b");
  areas.SetPosition(400);

  // Out of range or unchanged: nothing moves, the position stays.
  EXPECT_FALSE(areas.SetCurrent(-1));
  EXPECT_FALSE(areas.SetCurrent(3));
  EXPECT_FALSE(areas.SetCurrent(0));
  EXPECT_EQ(areas.Current(), 0);
  EXPECT_EQ(areas.Position(), 400);

  EXPECT_TRUE(areas.Done());
  EXPECT_EQ(areas.Current(), 1);
  EXPECT_EQ(areas.Position(), 0);
  EXPECT_EQ(areas.Overall(), 500);

  // Done on the last area fills the bar and stays on the last area; again, nothing changes.
  EXPECT_TRUE(areas.Done());
  EXPECT_EQ(areas.Current(), 1);
  EXPECT_EQ(areas.Position(), 1000);
  EXPECT_EQ(areas.Overall(), 1000);
  EXPECT_TRUE(areas.Done()); // 2 again: still "the number of areas"
  EXPECT_EQ(areas.Current(), 1);
  EXPECT_EQ(areas.Overall(), 1000);

  areas.Clear();
  EXPECT_EQ(areas.Count(), 0u);
  EXPECT_EQ(areas.Current(), 0);
  EXPECT_EQ(areas.Sum(), 0);
  EXPECT_FALSE(areas.CurrentText());
}

TEST(ProgressAreasTest, NoAreasOrNoWeightNeverDividesByZero) {
  TProgressAreas areas;
  areas.SetPosition(500);
  EXPECT_EQ(areas.Overall(), 0);
  EXPECT_FALSE(areas.SetCurrent(0));
  EXPECT_FALSE(areas.SetCurrent(1));
  EXPECT_FALSE(areas.CurrentText());
  areas.Add(0, "weightless");
  areas.SetPosition(1000);
  EXPECT_EQ(areas.Overall(), 0);
  EXPECT_TRUE(areas.Done());
  EXPECT_EQ(areas.Current(), 0);
}

TEST(ProgressAreasTest, OverallStaysWithinTheBar) {
  // Positions outside 0..1000 count as their ends.
  EXPECT_EQ(OverallPerMille(0, 100, 200, 5000), 500);
  EXPECT_EQ(OverallPerMille(100, 100, 200, -30), 500);
  // Negative weights cannot drive the bar outside its range.
  EXPECT_EQ(OverallPerMille(-50, 10, 100, 0), 0);
  EXPECT_EQ(OverallPerMille(300, 10, 100, 1000), 1000);
  // Weights whose exact product would overflow 64 bits still give the share.
  const int64_t big = std::numeric_limits<int64_t>::max() / 4;
  EXPECT_EQ(OverallPerMille(big, big, 2 * big, 500), 750);
  EXPECT_EQ(OverallPerMille(0, big, big, 1000), 1000);
  EXPECT_EQ(OverallPerMille(0, big, big, 0), 0);
}

TEST(ProgressLayoutTest, ShortTextWithoutPicture) {
  const TProgressLayout layout = LayoutProgressWindow({{80, 13}}, false, 17);
  EXPECT_FALSE(layout.hasPicture);
  EXPECT_EQ(layout.label, (TProgressRect{11, 12, 220, 13})); // at least 220 wide
  EXPECT_EQ(layout.bar, (TProgressRect{11, 37, 220, 17}));
  EXPECT_EQ(layout.client, (TProgressSize{242, 13 + 24 + 17 + 12}));
}

TEST(ProgressLayoutTest, PictureCentresAOneLineText) {
  const TProgressLayout layout = LayoutProgressWindow({{300, 13}}, true, 17);
  EXPECT_EQ(layout.picture, (TProgressRect{9, 9, 32, 32}));
  // 340 wide with the picture; the text child starts after the picture and ends with the bar.
  EXPECT_EQ(layout.label, (TProgressRect{51, 12 + (26 - 13) / 2, 300, 26}));
  EXPECT_EQ(layout.bar, (TProgressRect{11, 50, 340, 17}));
  EXPECT_EQ(layout.client, (TProgressSize{362, 26 + 24 + 17 + 12}));
  EXPECT_EQ(layout.label.x + layout.label.cx, layout.bar.x + layout.bar.cx);
}

TEST(ProgressLayoutTest, PictureWithTallTextAndMinimumWidth) {
  const TProgressLayout tall = LayoutProgressWindow({{100, 39}}, true, 17);
  EXPECT_EQ(tall.label, (TProgressRect{51, 12, 180, 39})); // 140 widened to 220, less the picture
  EXPECT_EQ(tall.bar.y, 39 + 24);
  EXPECT_EQ(tall.client.cx, 242);
}

TEST(ProgressLayoutTest, LabelFitsTheLargestOfTheRemainingTexts) {
  const TProgressLayout layout = LayoutProgressWindow({{250, 13}, {410, 13}, {120, 52}}, false, 16);
  EXPECT_EQ(layout.label, (TProgressRect{11, 12, 410, 52}));
  EXPECT_EQ(layout.bar, (TProgressRect{11, 76, 410, 16}));
  EXPECT_EQ(layout.client, (TProgressSize{432, 52 + 24 + 16 + 12}));
}

TEST(ProgressPlacementTest, CentreOrBottomRight) {
  EXPECT_EQ(CentreOnScreen({300, 100}, {1024, 768}), (TProgressPoint{362, 334}));
  EXPECT_EQ(BottomRightOf({300, 100}, {0, 0, 1024, 738}), (TProgressPoint{722, 636}));
  EXPECT_EQ(BottomRightOf({300, 100}, {100, 50, 1124, 788}), (TProgressPoint{822, 686}));
}

std::vector<uint8_t> PictureData(int32_t height, uint32_t firstPixel) {
  std::vector<uint8_t> data(kPictureDataSize, 0);
  const uint32_t headerSize = 40;
  std::memcpy(data.data(), &headerSize, 4);
  std::memcpy(data.data() + 8, &height, 4);
  data[40] = uint8_t(firstPixel);
  data[41] = uint8_t(firstPixel >> 8);
  data[42] = uint8_t(firstPixel >> 16);
  data[43] = uint8_t(firstPixel >> 24);
  data[kPictureDataSize - 1] = 0x7f; // alpha of the last pixel
  return data;
}

TEST(ProgressPictureTest, ReadsOnlyTheExactSize) {
  auto data = PictureData(32, 0x80112233);
  auto picture = ReadProgressPicture(data.data(), data.size());
  ASSERT_TRUE(picture);
  EXPECT_FALSE(picture->topDown);
  ASSERT_EQ(picture->pixels.size(), 1024u);
  EXPECT_EQ(picture->pixels[0], 0x80112233u);
  EXPECT_EQ(picture->pixels[1023], 0x7f000000u);

  auto topDown = PictureData(-32, 0);
  EXPECT_TRUE(ReadProgressPicture(topDown.data(), topDown.size())->topDown);

  EXPECT_FALSE(ReadProgressPicture(data.data(), data.size() - 1));
  data.push_back(0);
  EXPECT_FALSE(ReadProgressPicture(data.data(), data.size()));
  EXPECT_FALSE(ReadProgressPicture(nullptr, kPictureDataSize));
}

TEST(ProgressPictureTest, BlendsOverTheBackground) {
  const uint32_t face = 0x00D4D0C8;
  // Opaque: the pixel itself, alpha byte cleared.
  EXPECT_EQ(BlendOverBackground(0xFF123456, face), 0x00123456u);
  // Transparent: a = 1 still lets 1/256 of the pixel through.
  EXPECT_EQ(BlendOverBackground(0x00000000, face), 0x00D3CFC7u);
  EXPECT_EQ(BlendOverBackground(0x00FFFFFF, 0x00000000), 0x00000000u);
  // Half: a = 128. red (128*0xD4 + 128*0x00) / 256 = 0x6A, green (128*0xD0 + 128*0xFF) / 256 = 0xE7,
  // blue (128*0xC8 + 128*0x40) / 256 = 0x84.
  EXPECT_EQ(BlendOverBackground(0x7F00FF40, face), 0x006AE784u);
  // Channels never spill into their neighbours.
  EXPECT_EQ(BlendOverBackground(0xFFFFFFFF, 0x00FFFFFF), 0x00FFFFFFu);
  // a = 129: red and blue 129 * 255 / 256 = 128, green 127 * 255 / 256 = 126.
  EXPECT_EQ(BlendOverBackground(0x80FF00FF, 0x0000FF00), 0x00807E80u);

  TProgressPicture picture;
  picture.pixels = {0xFF010203, 0x00FFFFFF};
  EXPECT_EQ(BlendPicture(picture, 0), (std::vector<uint32_t>{0x00010203, 0x00000000}));
}

} // namespace
} // namespace kx
