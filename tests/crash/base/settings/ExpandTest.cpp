#include <gtest/gtest.h>

#include "crash/base/settings/KXExpand.h"
#include "crash/base/settings/KXSettingsObject.h"
#include "tests/crash/base/settings/FakePlatform.h"

using namespace kx;
using namespace kx::test;

namespace {

class ExpandTest : public ::testing::Test {
protected:
  FakePlatform platform;
  std::map<KXModule, std::string> versionVars;
  KXExpandArgs args{kLib, std::nullopt, std::nullopt, std::nullopt};

  std::string Expand(const std::string &text) {
    return ExpandVariables(text, args, platform, [this](KXModule m) { return versionVars[m]; });
  }
};

} // namespace

TEST_F(ExpandTest, NamesInAnyLetterCase) {
  EXPECT_EQ(Expand("%MODNAME% in %AppName%"), "Probe.dll in Tidewell.exe");
  EXPECT_EQ(Expand("%Time%"), "14:03:07, 45ms");
  EXPECT_EQ(Expand("%DATE%|%datetime%"), "2026-03-09|2026-03-09, 14:03:07, 45ms");
  EXPECT_EQ(Expand("a%lf%b%LF%"), "a\r\nb\r\n");
  EXPECT_EQ(Expand("%COMPUTERNAME%"), "BENCH-7");
  EXPECT_EQ(Expand("no variables, 100% plain"), "no variables, 100% plain");
}

TEST_F(ExpandTest, ExceptionTextsAndWhatStaysInPlace) {
  EXPECT_EQ(Expand("%exceptClass%: %exceptMsg% %bugReport%"), "%exceptClass%: %exceptMsg% %bugReport%");
  args.exceptClass = "EAccessViolation";
  args.exceptMsg = "";
  args.bugReport = "REPORT";
  EXPECT_EQ(Expand("%exceptclass%: %exceptMsg% [%BUGREPORT%]"), "EAccessViolation: Unknown [REPORT]");
  args.exceptMsg = "Access violation";
  EXPECT_EQ(Expand("%exceptMsg%%exceptMsg%"), "Access violationAccess violation");
}

TEST_F(ExpandTest, ReportTextsAreNeverExpanded) {
  // A message naming the settings' variables comes out as written: no folder, computer name or
  // line break is put into the text through it.
  args.exceptMsg = "%computerName% %userappdata% %LF%";
  EXPECT_EQ(Expand("[%exceptMsg%]"), "[%computerName% %userappdata% %LF%]");
  EXPECT_EQ(Expand("%computerName%: %exceptMsg%%lf%"), "BENCH-7: %computerName% %userappdata% %LF%\r\n");
  // Nor do the report's texts expand each other, whichever comes first.
  args.exceptClass = "%exceptMsg%";
  args.exceptMsg = "%bugReport% %exceptClass% %modname% %date%";
  args.bugReport = "%exceptMsg%";
  EXPECT_EQ(Expand("%exceptClass%|%exceptMsg%|%bugReport%"),
            "%exceptMsg%|%bugReport% %exceptClass% %modname% %date%|%exceptMsg%");
  std::u16string wide = ExpandVariables(std::u16string(u"%exceptMsg% %modname%"), args, platform, {});
  EXPECT_EQ(wide, u"%bugReport% %exceptClass% %modname% %date% Probe.dll");
  // Inserted text is not searched again by the same step.
  platform.computerName = "%computerName%";
  EXPECT_EQ(Expand("%computerName%"), "%computerName%");
}

TEST_F(ExpandTest, OneClockReadingForAllDateVariables) {
  EXPECT_EQ(Expand("%date% %time% %datetime%"), "2026-03-09 14:03:07, 45ms 2026-03-09, 14:03:07, 45ms");
  EXPECT_EQ(platform.clockReads, 1);
  platform.now = {987, 12, 31, 0, 0, 0, 0};
  EXPECT_EQ(Expand("%datetime%"), "0987-12-31, 00:00:00, 0ms");
  Expand("nothing");
  EXPECT_EQ(platform.clockReads, 2);
}

TEST_F(ExpandTest, Folders) {
  EXPECT_EQ(Expand("%userappdata%\\x"), "C:\\Users\\ann\\AppData\\Roaming\\x");
  EXPECT_EQ(Expand("%CommonAppData%"), "C:\\ProgramData");
  platform.userAppData = "";
  EXPECT_EQ(Expand("%userappdata%bugs.txt"), "C:\\Apps\\Tidewell\\bugs.txt");
}

TEST_F(ExpandTest, VersionsFallBackFromVersionVarToFileVersionToQuestionMark) {
  EXPECT_EQ(Expand("%appversion%/%modversion%"), "?/?");
  platform.versions["C:\\Apps\\Tidewell\\Tidewell.exe"] = {{1, 2, 0, 30}, "1.2 final"};
  platform.versions["C:\\Apps\\Tidewell\\plugins\\Probe.dll"] = {{0, 0, 0, 0}, "0.9-rc"};
  EXPECT_EQ(Expand("%appversion%/%MODVERSION%"), "1.2.0.30/0.9-rc");
  versionVars[kExe] = "2026.1";
  EXPECT_EQ(Expand("%AppVersion%"), "2026.1");
}

TEST_F(ExpandTest, WideTextKeepsCharactersOutsideTheCodePage) {
  std::u16string out = ExpandVariables(std::u16string(u"\u65e5 %MODNAME% %exceptMsg%"), args, platform, {});
  EXPECT_EQ(out, u"\u65e5 Probe.dll %exceptMsg%");
}

TEST(SettingsExpansion, TextSettingsAreExpandedWithTheirModule) {
  FakePlatform platform;
  auto context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
  platform.streams[kExe] = StreamBuilder().Text("BitFaultMsg", "The file \"%ModName%\" is bad (%exceptMsg%)").End();
  auto main = CreateModuleSettings(context, kExe);
  context->SetMainSettings(main);
  auto lib = CreateModuleSettings(context, kLib);
  EXPECT_EQ(main->GetBitFaultMsg(), "The file \"Tidewell.exe\" is bad (%exceptMsg%)");
  // The executable's text, expanded for the library that inherits it.
  EXPECT_EQ(lib->GetBitFaultMsg(), "The file \"Probe.dll\" is bad (%exceptMsg%)");
  EXPECT_EQ(lib->GetTitleBar(), "Tidewell.exe");
}
