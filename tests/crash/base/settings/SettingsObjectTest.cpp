#include <gtest/gtest.h>

#include <thread>

#include "crash/base/settings/KXDefaults.h"
#include "crash/base/settings/KXSettingsObject.h"
#include "tests/crash/base/settings/FakePlatform.h"

using namespace kx;
using namespace kx::test;

namespace {

class SettingsTest : public ::testing::Test {
protected:
  FakePlatform platform;
  std::shared_ptr<KXSettingsRegistry> registry = std::make_shared<KXSettingsRegistry>();
  std::shared_ptr<KXSettingsContext> context = std::make_shared<KXSettingsContext>(platform, registry);

  std::shared_ptr<TIKXSettings> Create(KXModule module, bool read = true) {
    return std::dynamic_pointer_cast<TIKXSettings>(CreateModuleSettings(context, module, read));
  }
  // The main settings object of the executable, as start-up creates it.
  std::shared_ptr<TIKXSettings> StartMain() {
    auto main = Create(kExe);
    context->SetMainSettings(main);
    return main;
  }
};

} // namespace

TEST(DefaultTable, HoldsTheBuiltInValues) {
  const TKXPropertyList &t = DefaultSettings();
  ASSERT_EQ(t.Count(), 122u); // 121 original keys and AttachMiniDump
  for (size_t i = 0; i < t.Count(); ++i)
    for (size_t j = i + 1; j < t.Count(); ++j)
      EXPECT_NE(t[i].name, t[j].name);
  auto b = [](const char *k) { return FindDefault(k)->vBool; };
  auto n = [](const char *k) { return FindDefault(k)->vInt; };
  auto s = [](const char *k) { return FindDefault(k)->Text(); };
  EXPECT_FALSE(b("Enabled"));
  EXPECT_TRUE(b("NoSettings"));
  EXPECT_EQ(n("FreezeTimeout"), 60);
  EXPECT_EQ(n("AutoDelay"), 60);
  EXPECT_EQ(n("SmtpPort"), 25);
  EXPECT_EQ(n("HttpPort"), 80);
  EXPECT_EQ(n("BugRepFileSize"), 100000);
  EXPECT_EQ(n("DupExceptDef"), 1);
  EXPECT_EQ(n("DupFreezeDef"), 2);
  EXPECT_EQ(n("LimitDisAsm"), 5);
  EXPECT_FALSE(b("SaveBtnVis"));
  EXPECT_TRUE(b("CloseBtnVis"));
  EXPECT_EQ(s("ContinueBtnTxt"), "continue bug report");
  EXPECT_EQ(s("BitFaultMsg"), "The file \"%modname%\" seems to be corrupt!");
  EXPECT_EQ(s("SendFailMsg"), "Sorry, sending the bug report didn't work.");
  EXPECT_EQ(s("Plugins"), "modules|processes|hardware");
  EXPECT_EQ(s("PrepAttMsg"), "Prepare attachments...");
  EXPECT_FALSE(b("AttachMiniDump"));
  EXPECT_EQ(&t[121], FindDefault("AttachMiniDump")); // added keys come after the original ones
  EXPECT_TRUE(FindDefault("F1Classes")->vStr.empty());
  EXPECT_EQ(FindDefault("MinDebugInfo"), nullptr);
  EXPECT_EQ(FindDefault("Assistant1"), nullptr);
}

// Every typed accessor names a key of the built-in table whose type matches the accessor.
TEST(DefaultTable, EveryAccessorKeyExistsWithItsType) {
  int ops = 0;
  auto check = [&ops](const char *key, TPropertyType typ) {
    ++ops;
    const TKXProperty *p = FindDefault(key);
    ASSERT_NE(p, nullptr) << key;
    EXPECT_EQ(p->typ, typ) << key;
  };
#define KX_OP(...) ++ops;
#define KX_GB(op, key) check(key, TPropertyType::ptBoolean);
#define KX_SB(op, key) check(key, TPropertyType::ptBoolean);
#define KX_GD(op, key) check(key, TPropertyType::ptInteger);
#define KX_SD(op, key) check(key, TPropertyType::ptInteger);
#define KX_GI(op, key) check(key, TPropertyType::ptInteger);
#define KX_SI(op, key) check(key, TPropertyType::ptInteger);
#define KX_GS(op, key) check(key, TPropertyType::ptString);
#define KX_SS(op, key) check(key, TPropertyType::ptString);
#define KX_GE(op, key, type) check(key, TPropertyType::ptInteger);
#define KX_SE(op, key, type) check(key, TPropertyType::ptInteger);
#define KX_SETTINGS_OPS
#include "crash/base/settings/KXSettingsOps.inc"
#undef KX_SETTINGS_OPS
  EXPECT_EQ(ops, 191 + 2); // and the AttachMiniDump pair at the end
#define KX_MODULE_SETTINGS_OPS
#include "crash/base/settings/KXSettingsOps.inc"
#undef KX_MODULE_SETTINGS_OPS
  EXPECT_EQ(ops, 193 + 48);
}

TEST_F(SettingsTest, StreamValuesOverrideDefaultsAndMissingKeysFallBack) {
  platform.streams[kExe] = StreamBuilder()
                               .Bool("Enabled", true)
                               .Bool("NoSettings", false)
                               .Int("FreezeTimeout", 60000)
                               .Text("ContinueBtnTxt", "continue application")
                               .Int("F1ShowCfg", 3)
                               .End();
  auto main = StartMain();
  EXPECT_TRUE(main->IsValid());
  EXPECT_TRUE(main->Enabled());
  EXPECT_FALSE(main->NoOwnSettings());
  EXPECT_EQ(main->FreezeTimeout(), 60000u);
  EXPECT_EQ(main->GetAutoDelay(), 60u);
  EXPECT_EQ(main->GetContinueBtnCaption(), "continue application");
  EXPECT_EQ(main->GetDupExceptDef(), TKXDupDef::ddCrashStackIdentical);
  EXPECT_EQ(main->GetDupFreezeDef(), TKXDupDef::ddAllStacksIdentical);
  EXPECT_EQ(main->GetFilter1ShowSetting(), TKXShowSetting::ssSimpleBox);
  EXPECT_EQ(main->GetFilter2ShowSetting(), TKXShowSetting::ssFullBox);
  EXPECT_TRUE(main->CheckFileCrc());
  EXPECT_FALSE(main->MinDebugInfoOnly());

  // A module without a stream is invalid and reads the executable's values.
  auto lib = Create(kLib);
  EXPECT_FALSE(lib->IsValid());
  EXPECT_EQ(lib->GetContinueBtnCaption(), "continue application");
  EXPECT_EQ(lib->FreezeTimeout(), 60000u);
  EXPECT_EQ(lib->GetDupFreezeDef(), TKXDupDef::ddAllStacksIdentical);
}

TEST_F(SettingsTest, WithoutAStreamThePrimaryObjectUsesTheBuiltInTable) {
  auto exe = Create(kExe); // no main settings object yet: primary
  EXPECT_FALSE(exe->IsValid());
  EXPECT_EQ(exe->GetContinueBtnCaption(), "continue bug report");
  EXPECT_EQ(exe->FreezeTimeout(), 60u);
  EXPECT_FALSE(exe->SetPropBool("AutoSave", false)); // invalid: setters do nothing
  EXPECT_TRUE(exe->GetAutoSave());
  EXPECT_FALSE(exe->GetPropBool("NoSuchKey"));
  EXPECT_EQ(exe->GetPropInt("NoSuchKey"), 0);
  EXPECT_EQ(exe->GetPropStr("NoSuchKey"), "");
}

TEST_F(SettingsTest, LibraryWithoutItsOwnValueReadsTheExecutables) {
  platform.streams[kExe] = StreamBuilder().Bool("AutoSave", false).Bool("NoSettings", false).End();
  platform.streams[kOtherLib] = StreamBuilder().Bool("NoSettings", false).Int("AutoDelay", 5).End();
  auto main = StartMain();
  auto lib = Create(kLib); // no stream
  EXPECT_FALSE(lib->GetAutoSave()) << "the executable's value, not the built-in true";
  auto other = Create(kOtherLib); // a stream of its own, without AutoSave
  EXPECT_TRUE(other->IsValid());
  EXPECT_FALSE(other->GetAutoSave());
  EXPECT_EQ(other->GetAutoDelay(), 5u);
  EXPECT_EQ(other->GetFilter1ShowSetting(), TKXShowSetting::ssFullBox);
  EXPECT_EQ(other->GetDupExceptDef(), TKXDupDef::ddCrashStackIdentical);
  EXPECT_EQ(main->GetAutoDelay(), 60u);
  // Once the main settings object is gone, every object is primary again.
  main.reset();
  EXPECT_TRUE(lib->IsPrimary());
  EXPECT_TRUE(lib->GetAutoSave());
}

TEST_F(SettingsTest, SettersAreTypeCheckedAndShared) {
  platform.streams[kExe] = StreamBuilder().Int("AutoRestart", 0).Text("MailAddr", "a@example.com").End();
  auto a = StartMain();
  auto b = Create(kExe);
  EXPECT_FALSE(a->SetPropBool("AutoRestart", true)) << "integer key";
  EXPECT_EQ(a->GetAutoRestart(), 0u);
  EXPECT_FALSE(a->GetPropBool("AutoRestart"));
  EXPECT_FALSE(a->SetPropStr("AutoRestart", "1"));
  EXPECT_TRUE(a->SetPropInt("AutoRestart", 30));
  EXPECT_EQ(b->GetAutoRestart(), 30u) << "objects of one module share the list";

  // A key that is not stored yet is created with the setter's type, then keeps that type.
  EXPECT_TRUE(a->SetPropBool("AutoSave", false));
  EXPECT_FALSE(b->GetAutoSave());
  EXPECT_FALSE(a->SetPropInt("AutoSave", 1));
  a->SetAutoDelay(9);
  EXPECT_EQ(b->GetAutoDelay(), 9u);
  a->SetFocusedButton(TKXButton::bCloseApplication);
  EXPECT_EQ(b->GetFocusedButton(), TKXButton::bCloseApplication);
  a->SetScreenShotDepth(-1);
  EXPECT_EQ(b->GetScreenShotDepth(), -1);

  a->SetMailAddr("");
  EXPECT_EQ(b->GetMailAddr(), "") << "an empty text replaces the stored one";
  EXPECT_EQ(a->GetSelf(), a.get());
}

TEST_F(SettingsTest, WideTextAccessors) {
  platform.streams[kExe] = StreamBuilder().Text("BugRepFile", "reports\\bugreport.txt").End();
  auto s = StartMain();
  EXPECT_EQ(s->GetBugReportFile(), u"reports\\bugreport.txt");
  s->SetBugReportFile(u"C:\\\u65e5\u672c\\%modname%.txt");
  EXPECT_EQ(s->GetBugReportFile(), u"C:\\\u65e5\u672c\\Tidewell.exe.txt"); // UTF-16 kept, expanded
  EXPECT_EQ(s->GetPropStr("BugRepFile"), "C:\\??\\Tidewell.exe.txt");
}

TEST_F(SettingsTest, VersionVarReadsTheModuleText) {
  platform.streams[kExe] = StreamBuilder().Int("VersionVar", 0x1234).End();
  platform.streams[kLib] = StreamBuilder().Int("VersionVar", 0x40).End(); // reading faults
  platform.moduleTexts[{kExe, 0x1234}] = "2.5 beta";
  auto exe = StartMain();
  EXPECT_EQ(exe->VersionVar(), "2.5 beta");
  EXPECT_EQ(Create(kLib)->VersionVar(), "");
  exe->SetTitleBar("%appname% %appversion%");
  EXPECT_EQ(Create(kLib)->GetTitleBar(), "Tidewell.exe 2.5 beta");
}

TEST_F(SettingsTest, ReloadDiscardsChanges) {
  platform.streams[kExe] = StreamBuilder().Int("AutoDelay", 10).End();
  auto s = StartMain();
  s->SetAutoDelay(20);
  s->SetAutoSave(false);
  s->Reload();
  EXPECT_EQ(s->GetAutoDelay(), 10u);
  EXPECT_TRUE(s->GetAutoSave());
}

TEST_F(SettingsTest, InvalidStreamsShowTheFailureAndKeepTheObjectValid) {
  platform.streams[kExe] = StreamBuilder().Int("AutoDelay", 10).Name("X").Byte(0x07).End();
  auto s = Create(kExe);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].first, "Kestrelix");
  EXPECT_EQ(platform.messages[0].second, "Internal error: Invalid settings resource ($07).");
  EXPECT_TRUE(s->IsValid());
  EXPECT_EQ(s->GetAutoDelay(), 10u);

  platform.streams[kLib] = {'M', 'Z', 0, 0};
  auto lib = Create(kLib);
  EXPECT_TRUE(lib->IsValid()) << "an unexpected signature gives an empty but valid list";
  EXPECT_EQ(lib->GetAutoDelay(), 60u);
  EXPECT_TRUE(lib->SetPropInt("AutoDelay", 3));
  EXPECT_EQ(platform.messages.size(), 1u);
}

TEST_F(SettingsTest, RegistryCountsEveryListReference) {
  platform.streams[kExe] = StreamBuilder().Int("AutoDelay", 10).End();
  platform.streams[kLib] = StreamBuilder().End();
  {
    auto a = Create(kExe);
    auto b = Create(kExe);
    auto c = Create(kLib);
    auto d = Create(kOtherLib); // no stream: holds nothing
    auto e = Create(kExe, false);
    EXPECT_FALSE(e->IsValid());
    EXPECT_EQ(registry->RefCount(), 3);
    EXPECT_EQ(registry->ListCount(), 2u);
    a->SetAutoDelay(11);
  }
  EXPECT_EQ(registry->RefCount(), 0);
  EXPECT_EQ(registry->ListCount(), 0u);
  EXPECT_EQ(Create(kExe)->GetAutoDelay(), 10u) << "the last release freed the list and its changes";
}

TEST_F(SettingsTest, RegistryStaysConsistentUnderConcurrentUse) {
  platform.streams[kExe] = StreamBuilder().Int("AutoDelay", 10).End();
  platform.streams[kLib] = StreamBuilder().Int("AutoDelay", 20).End();
  auto main = StartMain();
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        auto s = Create(t % 2 ? kLib : kExe);
        if (s->GetAutoDelay() != (t % 2 ? 20u : 10u))
          ++wrong;
      }
    });
  for (auto &th : threads)
    th.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(registry->RefCount(), 1);
  EXPECT_EQ(registry->ListCount(), 1u);
}

TEST(SettingsRegistryNames, EndInTheLowerCaseHexadecimalProcessId) {
  EXPECT_EQ(KXSettingsBufferName(6700), "KestrelixSettingsBuf2$1a2c");
  EXPECT_EQ(KXSettingsMutexName(0xFFFFFFFF), "KestrelixSettingsMtx$ffffffff");
  EXPECT_EQ(KXProcessSuffix(0), "$0");
}

TEST_F(SettingsTest, PluginList) {
  platform.streams[kExe] = StreamBuilder().Text("Plugins", "modules|processes|hardware").End();
  auto s = StartMain();
  EXPECT_TRUE(s->GetPluginEnabled("Hardware"));
  EXPECT_FALSE(s->GetPluginEnabled("hard"));
  EXPECT_FALSE(s->GetPluginEnabled(""));
  s->SetPluginEnabled("hardware", false);
  EXPECT_EQ(s->GetPropStr("Plugins"), "modules|processes");
  s->SetPluginEnabled("hardware", true);
  EXPECT_EQ(s->GetPropStr("Plugins"), "modules|processes|hardware");
  s->SetPluginEnabled("HARDWARE", true); // already on: unchanged
  EXPECT_EQ(s->GetPropStr("Plugins"), "modules|processes|hardware");
  s->SetPluginEnabled("Modules", false);
  EXPECT_EQ(s->GetPropStr("Plugins"), "processes|hardware");
  s->SetPluginEnabled("processes", false);
  s->SetPluginEnabled("hardware", false);
  EXPECT_EQ(s->GetPropStr("Plugins"), "");
  s->SetPluginEnabled("hardware", true);
  EXPECT_EQ(s->GetPropStr("Plugins"), "hardware");
  // A name listed twice is gone after one disable.
  s->SetPropStr("Plugins", "a|b|a");
  s->SetPluginEnabled("a", false);
  EXPECT_EQ(s->GetPropStr("Plugins"), "b");
}

TEST_F(SettingsTest, AdditionalFieldsAreWrittenBackOnEveryChange) {
  platform.streams[kExe] = StreamBuilder().Text("AddFields", "Product=Tidewell| Build = 7 |Empty=|NoValue").End();
  auto s = StartMain();
  auto fields = s->GetAdditionalFields();
  EXPECT_EQ(fields, s->GetAdditionalFields());
  ASSERT_EQ(fields->GetItemCount(), 2);
  EXPECT_EQ(fields->GetItem(1), " Build ");
  EXPECT_EQ(fields->GetContent(" build "), "7");
  fields->SetContent("Station", "WH1080");
  EXPECT_EQ(s->GetPropStr("AddFields"), "Product=Tidewell| Build =7|Station=WH1080");
  fields->Delete(0);
  EXPECT_EQ(s->GetPropStr("AddFields"), " Build =7|Station=WH1080");

  // The list survives the settings object but no longer writes into it.
  auto other = Create(kExe);
  s.reset();
  fields->SetContent("Late", "x");
  EXPECT_EQ(other->GetPropStr("AddFields"), " Build =7|Station=WH1080");
}

TEST_F(SettingsTest, AdditionalAttachmentsAreWrittenBack) {
  platform.streams[kExe] = StreamBuilder().Text("AddAttachs", "c:\\logs\\a.log|d:\\x.txt>y.txt>z.zip>f").End();
  auto s = StartMain();
  auto att = s->GetAdditionalAttachments();
  ASSERT_EQ(att->GetItemCount(), 2);
  std::u16string file;
  std::string sendAs, zip, field;
  ASSERT_TRUE(att->GetItem(0, file, sendAs, zip, field));
  EXPECT_EQ(file, u"c:\\logs\\a.log");
  EXPECT_EQ(sendAs, "a.log");
  EXPECT_EQ(zip, "");
  EXPECT_EQ(field, "a");
  ASSERT_TRUE(att->GetItem(1, file, sendAs, zip, field));
  EXPECT_EQ(zip, "z.zip");
  EXPECT_EQ(field, "f");
  EXPECT_TRUE(att->Delete(u"D:\\X.TXT"));
  EXPECT_EQ(s->GetPropStr("AddAttachs"), "c:\\logs\\a.log>a.log>>a");
  att->Clear();
  EXPECT_EQ(s->GetPropStr("AddAttachs"), "");
}

TEST_F(SettingsTest, AssistantEntries) {
  platform.streams[kExe] = StreamBuilder()
                               .Text("Assistant1", "SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm")
                               .Text("Assistant2", "SaveAssistant|Save Assistant|ContactForm|DetailsForm")
                               .Text("Assistant4", "Unreachable|after a gap")
                               .Int("ScrShotDepth", 8)
                               .End();
  auto s = StartMain();
  auto e = s->FindAssistantEntry("sendassistant");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->title, "Send Assistant");
  EXPECT_EQ(e->forms, (std::vector<std::string>{"ContactForm", "DetailsForm", "ScrShotForm"}));
  EXPECT_FALSE(s->FindAssistantEntry("Unreachable")) << "the search stops at the first missing entry";
  s->SetScreenShotDepth(0);
  e = s->FindAssistantEntry("SendAssistant");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->forms, (std::vector<std::string>{"ContactForm", "DetailsForm"}));
  EXPECT_EQ(s->GetAssistant("SendAssistant"), nullptr) << "no assistant module bound";
}

namespace {
// Two forms: a contact form (edit, check box, label) and a details form (one edit).
class FakeForms : public IKXAssistantForms {
public:
  struct Item {
    ItemKind kind;
    std::string name, text;
    bool checked = false;
  };
  std::vector<std::vector<Item>> forms{
      {{ItemKind::edit, "NameEdit", "Ann"}, {ItemKind::checkBox, "MemCheck", "", true}, {ItemKind::other, "Label1", ""}},
      {{ItemKind::edit, "DetailsMemo", "  "}}};
  std::vector<int> results{1, 1};
  std::vector<bool> continueEnabled{true, true}, activated{false, false};

  int FormCount() override { return int(forms.size()); }
  int FormModalResult(int f) override { return results[size_t(f)]; }
  int ItemCount(int f) override { return int(forms[size_t(f)].size()); }
  ItemKind Kind(int f, int i) override { return forms[size_t(f)][size_t(i)].kind; }
  std::string ItemName(int f, int i) override { return forms[size_t(f)][size_t(i)].name; }
  std::string EditText(int f, int i) override { return forms[size_t(f)][size_t(i)].text; }
  void SetEditText(int f, int i, const std::string &t) override { forms[size_t(f)][size_t(i)].text = t; }
  bool Checked(int f, int i) override { return forms[size_t(f)][size_t(i)].checked; }
  void SetChecked(int f, int i, bool c) override { forms[size_t(f)][size_t(i)].checked = c; }
  bool ContinueEnabled(int f) override { return continueEnabled[size_t(f)]; }
  void ActivateContinue(int f) override { activated[size_t(f)] = true; }
};
} // namespace

TEST_F(SettingsTest, FormCacheFillsTheNextAssistant) {
  auto s = StartMain();
  FakeForms first;
  s->ReadFormCache(first); // no cache yet: nothing happens
  EXPECT_FALSE(first.activated[0]);
  s->FillFormCache(first);
  auto cache = s->FormCache();
  ASSERT_TRUE(cache);
  EXPECT_EQ(cache->GetContent("NameEdit"), "Ann");
  EXPECT_EQ(cache->GetContent("MemCheck"), "+");
  EXPECT_EQ(cache->FindItem("DetailsMemo"), -1) << "blank text is not cached";
  EXPECT_EQ(cache->FindItem("Label1"), -1);

  FakeForms next;
  next.forms[0][0].text = "";
  next.forms[0][1].checked = false;
  next.continueEnabled[1] = true;
  s->ReadFormCache(next);
  EXPECT_EQ(next.forms[0][0].text, "Ann");
  EXPECT_TRUE(next.forms[0][1].checked);
  EXPECT_TRUE(next.activated[0]) << "every input of the form was cached";
  EXPECT_FALSE(next.activated[1]);

  // A cancelled form does not update the cache.
  next.forms[0][0].text = "Bob";
  next.results[0] = 2;
  s->FillFormCache(next);
  EXPECT_EQ(cache->GetContent("NameEdit"), "Ann");
}

TEST_F(SettingsTest, ConcurrentReadersSeeWholeTexts) {
  platform.streams[kExe] = StreamBuilder().Text("MailBody", "aaaa").End();
  auto s = StartMain();
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i)
      s->SetMailBody(i % 2 ? std::string(64, 'b') : std::string("aaaa"));
    stop = true;
  });
  int bad = 0;
  while (!stop) {
    std::string t = s->GetMailBody();
    if (t != "aaaa" && t != std::string(64, 'b'))
      ++bad;
  }
  writer.join();
  EXPECT_EQ(bad, 0);
}
