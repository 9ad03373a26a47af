// The dialog's decisions and colour arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crash/ui/dialog/BoxColours.h"
#include "crash/ui/dialog/ExceptionBoxRules.h"

namespace kx {
namespace {

TEST(ExceptionBoxRules, MessageBreaksOnlyBetweenTheTwentiethAndTheTenthLastCharacter) {
  // Shorter than 30 characters: never broken.
  EXPECT_EQ(BreakExceptMessage("Error one. Error two. Three."), "Error one. Error two. Three.");
  EXPECT_EQ(BreakExceptMessage(""), "");
  EXPECT_EQ(BreakExceptMessage("a. b"), "a. b");
  // Position 20 (1-based) is the first that may break; 19 is left alone.
  const std::string at20 = std::string(19, 'a') + ". " + std::string(20, 'b');
  EXPECT_EQ(BreakExceptMessage(at20), std::string(19, 'a') + ".\r\n" + std::string(20, 'b'));
  const std::string at19 = std::string(18, 'a') + ". " + std::string(20, 'b');
  EXPECT_EQ(BreakExceptMessage(at19), at19);
  // The last 10 characters: a full stop at len-10 breaks, one at len-9 does not.
  const std::string lastBreak = std::string(30, 'a') + ". " + std::string(9, 'b'); // '.' at 31 = 41-10
  EXPECT_EQ(BreakExceptMessage(lastBreak), std::string(30, 'a') + ".\r\n" + std::string(9, 'b'));
  const std::string tooLate = std::string(30, 'a') + ". " + std::string(8, 'b');
  EXPECT_EQ(BreakExceptMessage(tooLate), tooLate);
  // Several sentences each get their own line; other characters stay.
  EXPECT_EQ(BreakExceptMessage("Access violation at 0040. Read of address 0. The end is near."),
            "Access violation at 0040.\r\nRead of address 0.\r\nThe end is near.");
}

TEST(ExceptionBoxRules, AutomaticFocusPrefersCloseThenRestartThenContinue) {
  TBoxSwitches s;
  s.visible = {true, false, false, true, true, true, true};
  EXPECT_EQ(AutomaticFocus(s), kNoButton);
  s.autoContinue = true;
  EXPECT_EQ(AutomaticFocus(s), kBtnContinue);
  s.canContinue = false;
  EXPECT_EQ(AutomaticFocus(s), kNoButton);
  s.autoRestartDue = true;
  EXPECT_EQ(AutomaticFocus(s), kBtnRestart);
  s.autoCloseDue = true;
  EXPECT_EQ(AutomaticFocus(s), kBtnClose);
  s.visible[kBtnClose] = false; // an invisible button is never chosen
  EXPECT_EQ(CountdownButton(s), kBtnRestart);
}

TEST(ExceptionBoxRules, ButtonActions) {
  EXPECT_EQ(ButtonAction(kBtnShow, true), TBoxAction::details);
  EXPECT_EQ(ButtonAction(kBtnSend, true), TBoxAction::send);
  EXPECT_EQ(ButtonAction(kBtnSave, true), TBoxAction::save);
  EXPECT_EQ(ButtonAction(kBtnPrint, true), TBoxAction::print);
  EXPECT_EQ(ButtonAction(kBtnContinue, true), TBoxAction::continueApp);
  EXPECT_EQ(ButtonAction(kBtnContinue, false), TBoxAction::closeApp);
  EXPECT_EQ(ButtonAction(kBtnCantContinue, false), TBoxAction::closeApp);
  EXPECT_EQ(ButtonAction(kBtnRestart, true), TBoxAction::restartApp);
  EXPECT_EQ(ButtonAction(kBtnClose, true), TBoxAction::closeApp);
  EXPECT_EQ(ButtonAction(kBtnBigIcon, true), TBoxAction::none);
}

TEST(ExceptionBoxRules, ClosingTheWindowFollowsTheFocusedButtonOnlyWhenItIsThere) {
  TBoxSwitches s;
  s.visible = {true, false, false, true, true, true, true};
  const auto full = TBoxForm::fullBox;
  EXPECT_EQ(CloseAction(full, kBtnRestart, s), TBoxAction::restartApp);
  EXPECT_EQ(CloseAction(full, kBtnClose, s), TBoxAction::closeApp);
  EXPECT_EQ(CloseAction(full, kBtnContinue, s), TBoxAction::continueApp);
  EXPECT_EQ(CloseAction(full, kBtnSend, s), TBoxAction::continueApp);
  s.canContinue = false; // focused continue that cannot continue: the next rule decides
  EXPECT_EQ(CloseAction(full, kBtnContinue, s), TBoxAction::closeApp);
  s.visible[kBtnClose] = false;
  EXPECT_EQ(CloseAction(full, kBtnClose, s), TBoxAction::restartApp);
  s.visible[kBtnRestart] = false;
  EXPECT_EQ(CloseAction(full, kBtnSend, s), TBoxAction::closeApp);
  s.canContinue = true;
  s.visible[kBtnContinue] = false;
  EXPECT_EQ(CloseAction(full, kBtnSend, s), TBoxAction::continueApp);
  // The message boxes do what OK does, whatever FocusedBtn says.
  EXPECT_EQ(CloseAction(TBoxForm::simpleBox, kBtnClose, s), TBoxAction::continueApp);
  s.canContinue = false;
  EXPECT_EQ(CloseAction(TBoxForm::detailBox, kBtnRestart, s), TBoxAction::closeApp);
}

TEST(ExceptionBoxRules, CountdownLineCrossesTheButtonInTheConfiguredTime) {
  EXPECT_EQ(CountdownLineX(0, 0, 100, false), -1); // no delay: no countdown
  EXPECT_EQ(CountdownLineX(0, 2, 100, false), 0);
  EXPECT_EQ(CountdownLineX(1000, 2, 100, false), 50);
  EXPECT_EQ(CountdownLineX(2000, 2, 100, false), 100);
  EXPECT_FALSE(CountdownEnded(100, 100, false));
  EXPECT_TRUE(CountdownEnded(CountdownLineX(2010, 2, 100, false), 100, false));
  // With UglyBtns the line runs from 5 to w - 6 inside the frame.
  EXPECT_EQ(CountdownLineX(0, 1, 111, true), 5);
  EXPECT_EQ(CountdownLineX(1000, 1, 111, true), 105);
  EXPECT_FALSE(CountdownEnded(105, 111, true));
  EXPECT_TRUE(CountdownEnded(106, 111, true));
  // Long delays and long waits do not overflow.
  EXPECT_EQ(CountdownLineX(uint64_t(4000000000u) * 1000, 4000000000u, 200, false), 200);
}

TEST(BoxColours, ShiftLightensUnlessTwoChannelsWouldOverflow) {
  EXPECT_EQ(ShiftColour(0xC0C0C0, 0x101010), 0xD0D0D0u);
  EXPECT_EQ(ShiftColour(0x20F8F8, 0x101010), 0x10E8E8u); // two channels over 256: darkened
  EXPECT_EQ(ShiftColour(0x2020F8, 0x101010), 0x3030FFu); // one channel over: lightened, clamped
  EXPECT_EQ(ShiftColour(0xFFFF08, 0x101010), 0xEFEF00u); // darkened, clamped at 0
  EXPECT_EQ(ShiftColour(0x808080, 0x080808), 0x888888u);
}

TEST(BoxColours, FadeRunsFromTheFirstToTheSecondColour) {
  EXPECT_EQ(FadeColour(0xFFFFFF, 0x000000, 8), 0xFFFFFFu);
  EXPECT_EQ(FadeColour(0xFFFFFF, 0x404040, 0), 0x404040u);
  EXPECT_EQ(FadeColour(0x0000FF, 0xFF0000, 4), 0x7F007Fu);
  EXPECT_EQ(QuarterMix(0xFFFFFF, 0x000000, 0), 0xFFFFFFu);
  EXPECT_EQ(QuarterMix(0xFFFFFF, 0x000000, 4), 0x000000u);
  EXPECT_EQ(QuarterMix(0x808080, 0x000000, 2), 0x404040u);
  EXPECT_EQ(ColourToPixel(0x00112233), 0x00332211u);
  EXPECT_EQ(PixelToColour(ColourToPixel(0x00ABCDEF)), 0x00ABCDEFu);
}

TEST(BoxColours, BlendWeighsThePixelByItsAlpha) {
  EXPECT_EQ(BlendPixel(0x00C0C0C0, 0xFF123456), 0x00123456u);
  EXPECT_EQ(BlendPixel(0x00C0C0C0, 0x00123456), 0x00BFBFBFu); // g = 1: (192*255 + x)/256
  EXPECT_EQ(BlendPixel(0x00000000, 0x7FFFFFFF), 0x007F7F7Fu);
  EXPECT_EQ(BlendPixel(0x00FF00FF, 0x7F00FF00), 0x007F7F7Fu);
}

std::vector<uint8_t> IconResource(int side, int32_t height, uint32_t firstRowPixel) {
  std::vector<uint8_t> data(BoxIconResourceSize(side), 0);
  std::memcpy(data.data(), "\x28\0\0\0", 4);
  std::memcpy(data.data() + 4, &side, 4);
  std::memcpy(data.data() + 8, &height, 4);
  std::memcpy(data.data() + 40, &firstRowPixel, 4); // first stored row
  return data;
}

TEST(BoxColours, IconResourcesOfTheWrongSizeAreIgnored) {
  auto res = IconResource(16, 16, 0xFF0000FF);
  EXPECT_EQ(IconPixels(res.data(), uint32_t(res.size()), 16).size(), 256u);
  EXPECT_TRUE(IconPixels(res.data(), uint32_t(res.size()), 32).empty());
  EXPECT_TRUE(IconPixels(res.data(), uint32_t(res.size()) - 1, 16).empty());
  EXPECT_TRUE(IconPixels(nullptr, 0, 16).empty());
  EXPECT_EQ(BoxIconResourceSize(32), 4136u);
}

TEST(BoxColours, IconRowsComeBackTopDown) {
  auto bottomUp = IconResource(16, 16, 0xFF0000FF);
  auto pixels = IconPixels(bottomUp.data(), uint32_t(bottomUp.size()), 16);
  EXPECT_EQ(pixels[15 * 16], 0xFF0000FFu); // the first stored row is the bottom one
  EXPECT_EQ(pixels[0], 0u);
  auto topDown = IconResource(16, -16, 0xFF0000FF);
  pixels = IconPixels(topDown.data(), uint32_t(topDown.size()), 16);
  EXPECT_EQ(pixels[0], 0xFF0000FFu);
}

TEST(ExceptionBoxRules, IconResourceNames) {
  EXPECT_EQ(BoxIconResource(kBtnSend), "KXISEND");
  EXPECT_EQ(BoxIconResource(kBtnCantContinue), "KXICANTCONTINUE");
  EXPECT_EQ(BoxIconResource(kBtnBigIcon), "KXIBIG");
  EXPECT_EQ(BoxIconResource(9), "");
  EXPECT_EQ(BoxIconResource(-1), "");
}

} // namespace
} // namespace kx
