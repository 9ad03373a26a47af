// The settings stream built from this system's readable source, read back as the executable's
// resource, and the source parser's checks.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "crash/base/settings/KXSettingsObject.h"
#include "tests/crash/base/settings/FakePlatform.h"
#include "tools/kxstream/SettingsSource.h"

using namespace kx;
using namespace kx::test;

namespace {

std::vector<uint8_t> ReadFile(const char *path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SystemStream : public ::testing::Test {
protected:
  void SetUp() override {
    stream = ReadFile(TIDEWELL_SETTINGS_STREAM);
    ASSERT_FALSE(stream.empty()) << TIDEWELL_SETTINGS_STREAM;
    platform.streams[kExe] = stream;
    main = std::dynamic_pointer_cast<TIKXSettings>(CreateModuleSettings(context, kExe));
    context->SetMainSettings(main);
  }
  std::vector<uint8_t> stream;
  FakePlatform platform;
  std::shared_ptr<KXSettingsContext> context =
      std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
  std::shared_ptr<TIKXSettings> main;
};

} // namespace

TEST_F(SystemStream, UsesOnlyTheFourValueTypesAndEndsWithTwoZeros) {
  TKXPropertyList list;
  StreamReadResult r = ReadSettingsStream(stream, list);
  ASSERT_TRUE(r.complete);
  EXPECT_EQ(stream.end()[-1], 0);
  EXPECT_EQ(stream.end()[-2], 0);
  EXPECT_EQ(list.Count(), 121u); // 122 keys less the four not stored, plus three assistants
  // Walk the raw bytes: every type byte is 4, 8, 9 or 12.
  size_t pos = SettingsStreamSignature().size();
  while (stream[pos] != 0) {
    pos += 1 + stream[pos];
    uint8_t type = stream[pos++];
    ASSERT_TRUE(type == 4 || type == 8 || type == 9 || type == 12) << int(type);
    if (type == 4)
      pos += 4;
    else if (type == 12)
      pos += 4 + (stream[pos] | stream[pos + 1] << 8 | stream[pos + 2] << 16 | size_t(stream[pos + 3]) << 24);
  }
  EXPECT_EQ(pos, stream.size() - 2);
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(SystemStream, ValuesOfThisSystem) {
  EXPECT_TRUE(main->IsValid());
  EXPECT_TRUE(main->Enabled());
  EXPECT_FALSE(main->NoOwnSettings());
  EXPECT_EQ(main->FreezeTimeout(), 60000u);
  EXPECT_EQ(main->GetAutoDelay(), 60u) << "not stored: the built-in value";
  EXPECT_EQ(main->GetContinueBtnCaption(), "continue application");
  EXPECT_EQ(main->GetRestartBtnCaption(), "restart application");
  EXPECT_EQ(main->GetCloseBtnCaption(), "close application");
  EXPECT_EQ(main->GetSendBtnCaption(), "send bug report");
  EXPECT_EQ(main->GetFilter1Classes(), "EDBEditError");
  EXPECT_TRUE(main->GetFilter1NoBugReport());
  EXPECT_FALSE(main->GetGeneralNoBugReport());
  EXPECT_EQ(main->GetFilter1ShowSetting(), TKXShowSetting::ssSimpleBox);
  EXPECT_EQ(main->GetGeneralShowSetting(), TKXShowSetting::ssFullBox);
  EXPECT_FALSE(main->GetAutoClipboard());
  EXPECT_EQ(main->GetScreenShotDepth(), 8);
  EXPECT_FALSE(main->GetScreenShotAppOnly());
  EXPECT_TRUE(main->GetAttachMiniDump());
  EXPECT_EQ(main->GetPrepareAttachMsg(), "Preparing attachments...");
  EXPECT_EQ(main->GetSendAssistant(), "SendAssistant");
  EXPECT_EQ(main->GetDupExceptDef(), TKXDupDef::ddCrashStackIdentical);
  EXPECT_EQ(main->GetDupFreezeDef(), TKXDupDef::ddAllStacksIdentical);
  EXPECT_EQ(main->GetTitleBar(), "Tidewell.exe");
  EXPECT_EQ(main->GetBitFaultMsg(), "The file \"Tidewell.exe\" seems to be corrupt!");
  EXPECT_EQ(main->GetSmtpPassword(), "");
  EXPECT_EQ(main->GetHttpPassword(), "");
  EXPECT_TRUE(main->GetPluginEnabled("hardware"));
  EXPECT_EQ(main->VersionVar(), "");

  auto save = main->FindAssistantEntry("SaveAssistant");
  ASSERT_TRUE(save);
  EXPECT_EQ(save->title, "Save Assistant");
  EXPECT_EQ(save->forms, (std::vector<std::string>{"ContactForm", "DetailsForm"}));
  auto send = main->FindAssistantEntry("SendAssistant");
  ASSERT_TRUE(send);
  EXPECT_EQ(send->forms.back(), "ScrShotForm");
  EXPECT_TRUE(main->FindAssistantEntry("PrintAssistant"));

  // A library without a stream of its own inherits the executable's values.
  auto lib = CreateModuleSettings(context, kLib);
  EXPECT_FALSE(lib->IsValid());
  EXPECT_EQ(lib->FreezeTimeout(), 60000u);
  EXPECT_TRUE(lib->GetAutoSave());
  EXPECT_EQ(lib->GetContinueBtnCaption(), "continue application");
}

TEST(SettingsSource, ParsesValuesAndEnciphersPasswords) {
  TKXPropertyList list = ParseSettingsSource("# comment\n\n  Flag = true  # trailing\r\n"
                                             "Neg=-2147483648\nPos = +7\n"
                                             "Text = \"a \\\"q\\\" \\\\ \\x41\\t# not a comment\"\n"
                                             "Empty = \"\"\n");
  ASSERT_EQ(list.Count(), 5u);
  EXPECT_TRUE(list[0].vBool);
  EXPECT_EQ(list[1].vInt, INT32_MIN);
  EXPECT_EQ(list[2].vInt, 7);
  EXPECT_EQ(list[3].Text(), "a \"q\" \\ A\t# not a comment");
  EXPECT_EQ(list[4].typ, TPropertyType::ptString);

  std::vector<uint8_t> data = CompileSettingsSource("SmtpServer = \"mail.example.com\"\n"
                                                    "SmtpAccount = \"kx\"\nSmtpPassword = \"p@ss\"\n");
  TKXPropertyList raw;
  ReadSettingsStream(data, raw);
  EXPECT_NE(raw.Find("SmtpPassword")->Text(), "p@ss") << "stored enciphered";
  TKXPropertyList loaded;
  LoadSettingsList(data, loaded, nullptr);
  EXPECT_EQ(loaded.Find("SmtpPassword")->Text(), "p@ss");
}

TEST(SettingsSource, RejectsMalformedLinesWithTheirNumber) {
  struct Case {
    const char *source;
    int line;
  };
  for (Case c : {Case{"A = 1\nB = yes\n", 2}, Case{"= 1\n", 1}, Case{"A 1\n", 1}, Case{"A = \"open\n", 1},
                 Case{"A = 2147483648\n", 1}, Case{"A = -2147483649\n", 1}, Case{"A = 1 2\n", 1},
                 Case{"A = \"x\" y\n", 1}, Case{"A = \"\\q\"\n", 1}, Case{"A = \"\\x4\"\n", 1},
                 Case{"A = 1\n#\nA = 2\n", 3}, Case{"A =\n", 1}, Case{"A = -\n", 1}}) {
    try {
      ParseSettingsSource(c.source);
      ADD_FAILURE() << "accepted: " << c.source;
    } catch (const StreamSourceError &e) {
      EXPECT_EQ(e.Line(), c.line) << c.source << " -> " << e.what();
    }
  }
}
