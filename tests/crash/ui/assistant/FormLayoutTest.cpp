// The geometry of forms and the colours of their painting, with fixed text metrics.
#include <gtest/gtest.h>

#include "crash/ui/assistant/FormColours.h"
#include "tests/crash/ui/assistant/AssistantTestSupport.h"

namespace kx::test {
namespace {

class FormLayout : public ::testing::Test {
protected:
  FakeFormPlatform platform;
  FakeMeasure measure;
  std::shared_ptr<TNVAssistant> assistant;

  TNVForm &Laid(const std::string &stream, int steps = 1) {
    std::vector<std::string> streams(size_t(steps), FormBuilder("Filler").End());
    streams[0] = stream;
    assistant = CreateAssistant("T", nullptr, streams, platform);
    LayoutForm(assistant->Form(0), measure);
    return assistant->Form(0);
  }
  static TNVRect Rect(TNVForm &form, const std::string &name) { return ItemNamed(form, name).FRect; }
};

TEST_F(FormLayout, ContactFormSpacing) {
  TNVForm &form = Laid(FormBuilder("ContactForm", "TKXContactForm", {{"Message", "Contact Information"}})
                           .Child("TNVButton", "ContinueBtn", {{"Caption", "Continue"}})
                           .Child("TNVLabel", "Label1", {{"Caption", "your name:"}})
                           .Child("TNVEdit", "NameEdit")
                           .Child("TNVLabel", "Label2", {{"Caption", "your email:"}})
                           .Child("TNVEdit", "EmailEdit")
                           .Child("TNVCheckBox", "MemCheck", {{"Caption", "remember me"}})
                           .End());
  EXPECT_EQ(form.FWidth, 315) << "three owner-drawn buttons of 85 and the margins stay under the minimum";
  EXPECT_EQ(Rect(form, "Label1"), (TNVRect{21, 38, 81, 51})) << "labels stand 2 pixels above the running top";
  EXPECT_EQ(Rect(form, "NameEdit"), (TNVRect{21, 57, 294, 76})) << "4 below a head label";
  EXPECT_EQ(ItemWindowRect(ItemNamed(form, "NameEdit")), (TNVRect{23, 59, 292, 74}));
  EXPECT_EQ(Rect(form, "Label2"), (TNVRect{21, 82, 87, 95})) << "8 between the first edit and the second label";
  EXPECT_EQ(Rect(form, "EmailEdit"), (TNVRect{21, 101, 294, 120}));
  EXPECT_EQ(Rect(form, "MemCheck"), (TNVRect{21, 132, 108, 145})) << "12 before an item of another kind";
  EXPECT_EQ(form.FHeight, 32 + 145 + 33);
  EXPECT_EQ(Rect(form, "ContinueBtn"), (TNVRect{8, 169, 93, 201}));
  EXPECT_EQ(Rect(form, "SkipBtn"), (TNVRect{101, 169, 186, 201}));
  EXPECT_EQ(Rect(form, "CancelBtn"), (TNVRect{222, 169, 307, 201}));
  EXPECT_EQ(ItemWindowRect(ItemNamed(form, "MemCheck")), Rect(form, "MemCheck"));
  EXPECT_TRUE(form.FLaidOut);
  EXPECT_EQ(PanelRect(form.FWidth, 169), (TNVRect{8, 25, 306, 159}));
}

TEST_F(FormLayout, WidthFollowsButtonsHeadingStepsAndMinWidth) {
  EXPECT_EQ(Laid(FormBuilder("F", "TKXForm", {{"Message", std::string(40, 'h')}}).End()).FWidth, 360 + 19 + 36);
  EXPECT_EQ(Laid(FormBuilder("F", "TKXForm", {{"Message", std::string(30, 'h')}}).End(), 3).FWidth, 270 + 57 + 36)
      << "19 more per step";
  EXPECT_EQ(Laid(FormBuilder("F", "TKXForm", {{"MinWidth", "#500"}}).End()).FWidth, 500);
  TNVForm &wide = Laid(FormBuilder("F")
                           .Child("TNVButton", "ContinueBtn", {{"Caption", std::string(20, 'c')}})
                           .Child("TNVButton", "CancelBtn", {{"Caption", std::string(12, 'x')}})
                           .End());
  EXPECT_EQ(wide.FWidth, (160 + 20) + 85 + (96 + 20) + 32);
  EXPECT_EQ(Rect(wide, "CancelBtn"), (TNVRect{wide.FWidth - 116 - 8, wide.FHeight - 41, wide.FWidth - 8, wide.FHeight - 9}));
}

TEST_F(FormLayout, MainButtonSizes) {
  TNVButton owner(nullptr, "B", "Continue"), wide(nullptr, "B", "Continue!"), plain(nullptr, "B", "Short");
  plain.FNoOwnerDraw = true;
  EXPECT_EQ(MainButtonSize(owner, measure), (TNVSize{85, 32})) << "64 pixels of caption still fit in 85";
  EXPECT_EQ(MainButtonSize(wide, measure), (TNVSize{72 + 20, 32}));
  EXPECT_EQ(MainButtonSize(plain, measure), (TNVSize{75, 23}));
  plain.FCaption = std::string(10, 'p'); // 60 pixels
  EXPECT_EQ(MainButtonSize(plain, measure), (TNVSize{80, 23}));
  plain.FInvisible = true;
  EXPECT_EQ(MainButtonSize(plain, measure).cx, -8);
}

TEST_F(FormLayout, PlainButtonsWithoutSkipStandAtTheRight) {
  TNVForm &form = Laid(FormBuilder("F")
                           .Child("TNVButton", "ContinueBtn", {{"NoOwnerDraw", "?true"}})
                           .Child("TNVButton", "SkipBtn", {{"Visible", "?false"}})
                           .Child("TNVButton", "CancelBtn", {{"NoOwnerDraw", "?true"}})
                           .End());
  EXPECT_EQ(form.FWidth, 315);
  EXPECT_EQ(form.FHeight, 23 + 40 + 33) << "the invisible button's height does not count";
  const int32_t top = form.FHeight - 9 - 23;
  EXPECT_EQ(Rect(form, "CancelBtn"), (TNVRect{232, top, 307, top + 23}));
  EXPECT_EQ(Rect(form, "ContinueBtn"), (TNVRect{149, top, 224, top + 23}));
  EXPECT_EQ(Rect(form, "SkipBtn").left, 8);
}

TEST_F(FormLayout, GapRules) {
  TNVForm &form = Laid(FormBuilder("F")
                           .Child("TNVButton", "B1")
                           .Child("TNVButton", "B2", {{"MinWidth", "#90"}})
                           .Child("TNVEdit", "E1")
                           .Child("TNVEdit", "E2", {{"Spacing", "#3"}})
                           .Child("TNVCheckBox", "C1")
                           .Child("TNVCheckBox", "C2")
                           .Child("TNVLabel", "Plain", {{"Caption", "no head"}})
                           .Child("TNVLabel", "Wrapped", {{"Caption", std::string(60, 'w') + ":"}})
                           .Child("TNVEdit", "E3")
                           .End());
  auto gap = [&](const std::string &name) {
    const TNVItem &item = ItemNamed(form, name);
    return GapBelow(form, size_t(item.FIndex), measure, form.FWidth);
  };
  EXPECT_EQ(gap("B1"), 4);
  EXPECT_EQ(gap("B2"), 12);
  EXPECT_EQ(gap("E1"), 6);
  EXPECT_EQ(gap("E2"), 3) << "the item's own spacing";
  EXPECT_EQ(gap("C1"), 8);
  EXPECT_EQ(gap("C2"), 12);
  EXPECT_EQ(gap("Plain"), 8);
  EXPECT_EQ(gap("Wrapped"), 12) << "a caption on two lines is no head label";
  EXPECT_EQ(gap("E3"), 0) << "the last item";
  EXPECT_EQ(Rect(form, "B2"), (TNVRect{21, 40 + 23 + 4, 111, 40 + 23 + 4 + 23})) << "caption + 32, at least 70 and MinWidth";
  EXPECT_EQ(Rect(form, "B1").Width(), 70);
  EXPECT_EQ(Rect(form, "Wrapped").Height(), 26);
  EXPECT_EQ(Rect(form, "Wrapped").Width(), form.FWidth - 46);
}

TEST_F(FormLayout, ImagesTakeTheirPictureZoomedIntoTheirRoom) {
  BitmapsScope scope;
  scope.bitmaps->files["pic.bmp"] = {64, 48};
  TNVForm &form = Laid(FormBuilder("F")
                           .Child("TNVImage", "Plain", {{"File", "pic.bmp"}, {"Clickable", "?true"}, {"Border", "?true"}})
                           .Child("TNVImage", "Narrow", {{"File", "pic.bmp"}, {"Width", "#32"}})
                           .Child("TNVImage", "Empty", {{"Border", "?true"}})
                           .Child("TNVImage", "Missing", {{"File", "gone.bmp"}})
                           .End());
  auto &plain = static_cast<TNVImage &>(ItemNamed(form, "Plain"));
  EXPECT_EQ(plain.FRect, (TNVRect{21, 40, 21 + 72, 40 + 56})) << "the picture's size and 8 around it";
  EXPECT_EQ(plain.InnerRect(), (TNVRect{25, 44, 89, 92}));
  auto &narrow = static_cast<TNVImage &>(ItemNamed(form, "Narrow"));
  EXPECT_EQ(narrow.FRect.Width(), 32);
  EXPECT_EQ(narrow.FRect.Height(), 24) << "zoomed to fit 32 x 48 keeping its proportions";
  EXPECT_EQ(scope.bitmaps->Width(*narrow.FBitmap), 32);
  EXPECT_EQ(ItemNamed(form, "Empty").FRect.Width(), 34) << "32 without a picture";
  EXPECT_EQ(ItemNamed(form, "Missing").FRect.Height(), 32);
  EXPECT_EQ(scope.bitmaps->loads, (std::vector<std::string>{"pic.bmp", "pic.bmp", "gone.bmp"}));

  // A picture too large for the form or the screen is zoomed down.
  scope.bitmaps->files["big.bmp"] = {5000, 100};
  TNVForm &big = Laid(FormBuilder("F").Child("TNVImage", "Big", {{"File", "big.bmp"}}).End());
  EXPECT_EQ(Rect(big, "Big").Width(), big.FWidth - 42);
  measure.screenHeight = 300;
  scope.bitmaps->files["tall.bmp"] = {50, 1000};
  TNVForm &tall = Laid(FormBuilder("F").Child("TNVImage", "Tall", {{"File", "tall.bmp"}}).End());
  EXPECT_EQ(Rect(tall, "Tall").Height(), 100);

  // After the layout a new picture is zoomed to the inner area only when it is larger.
  auto image = tall.ImageNamed("Tall");
  const int zooms = scope.bitmaps->zooms;
  image->SetBitmap(FakeBitmaps::Make(2, 3));
  EXPECT_EQ(scope.bitmaps->zooms, zooms);
  image->SetBitmap(FakeBitmaps::Make(400, 400));
  EXPECT_EQ(scope.bitmaps->Width(*image->GetBitmap()), 5) << "fitted into the 5 x 100 area";
  EXPECT_EQ(scope.bitmaps->Height(*image->GetBitmap()), 5);
  image->SetBitmap(nullptr);
  EXPECT_EQ(image->GetBitmap(), nullptr);
}

TEST_F(FormLayout, HugeDefinitionValuesStayWithinTheLimits) {
  TNVForm &form = Laid(FormBuilder("F", "TKXForm", {{"MinWidth", "#2000000000"}})
                           .Child("TNVEdit", "E", {{"Lines", "#2147483647"}})
                           .Child("TNVButton", "B", {{"MinWidth", "#-5"}, {"Spacing", "#-2147483647"}})
                           .Child("TNVLabel", "L")
                           .End());
  EXPECT_EQ(form.FWidth, kMaxFormExtent);
  EXPECT_LE(form.FHeight, kMaxFormExtent);
  EXPECT_GE(Rect(form, "L").top, -kMaxFormExtent - 2);
}

TEST_F(FormLayout, StepIndicator) {
  EXPECT_EQ(StepNumberLeft(315, 3, 1), 255);
  EXPECT_EQ(StepNumberLeft(315, 3, 3), 293);
  const TNVRect box = StepBoxRect(315, 3, 2);
  EXPECT_EQ(box, (TNVRect{267, 2, 287, 22}));
  EXPECT_TRUE(box.Contains(StepNumberLeft(315, 3, 2), 4)) << "the box stands behind the number 2";
  EXPECT_FALSE(box.Contains(StepNumberLeft(315, 3, 3), 4));
}

TEST(FormColours, AdjustingClampsAndTurnsBackWhenTwoChannelsClamp) {
  EXPECT_EQ(AdjustColour(0x808080, 8), 0x888888u);
  EXPECT_EQ(AdjustColour(0x808080, -16), 0x707070u);
  EXPECT_EQ(AdjustColour(0xF8F8F8, 16), 0xE8E8E8u);
  EXPECT_EQ(AdjustColour(0xFFFF00, 8), 0xF7F700u);
  EXPECT_EQ(AdjustColour(0x00FF80, 8), 0x08FF88u) << "one channel clamps";
  EXPECT_EQ(AdjustColour(0x080808, -16), 0x181818u);
  EXPECT_EQ(HalfwayToWhite(0xC0C0C0), 0xDFDFDFu);
  EXPECT_EQ(HalfwayToWhite(0x000000), 0x7F7F7Fu);
}

TEST(FormColours, ButtonGradients) {
  EXPECT_EQ(ButtonScheme(0).frame, 0x80A080u);
  EXPECT_EQ(ButtonScheme(1).step, 0x010202u);
  EXPECT_EQ(ButtonScheme(2).frame, 0x8080A0u);
  EXPECT_EQ(ButtonScheme(7).step, 0x020201u);
  EXPECT_EQ(FocusedButtonRow(0, 0x020102), 0u);
  EXPECT_EQ(FocusedButtonRow(2, 0x020102), 0x000600u) << "Continue's focus gradient is green";
  EXPECT_EQ(FocusedButtonRow(3, 0x020201), 0x000009u) << "Cancel's is red";
  EXPECT_EQ(FocusedButtonRow(200, 0x010202), 0xFF0000u);
  EXPECT_EQ(NormalButtonRow(0, 0x020102), 0xFFFFFFu);
  EXPECT_EQ(NormalButtonRow(1, 0x020102), 0xFDFEFDu);
  EXPECT_EQ(NormalButtonRow(2, 0x020102), 0xFDFEFDu);
  EXPECT_EQ(NormalButtonRow(3, 0x020102), 0xFBFDFBu);
  EXPECT_EQ(StepBoxRow(0xFFFFFF, 7), 0xFFFFFFu);
  EXPECT_EQ(StepBoxRow(0xFFFFFF, 19), 0xE7E7E7u);
  EXPECT_EQ(StepBoxRow(0x050505, 19), 0u);
}

} // namespace
} // namespace kx::test
