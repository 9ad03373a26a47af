// The attachments of a send: which files the list holds (the bug report copy, the screenshot,
// the minidump, the configured ones) and how preparation turns them into what is sent (missing
// files skipped, zip groups by name without regard to case, the archive named after the first).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "crash/base/settings/KXSettingsObject.h"
#include "crash/base/settings/KXText.h"
#include "crash/output/KXAttachmentList.h"
#include "crash/output/KXAttachmentPreparation.h"
#include "crash/output/KXSafeFileName.h"
#include "crash/output/KXSendAttachments.h"
#include "tests/crash/base/settings/FakePlatform.h"
#ifndef _WIN32
#include "tests/crash/output/LocalFileStore.h"
#endif
#include "tests/crash/output/MemoryFileStore.h"
#include "tests/crash/output/TestReports.h"
#include "tests/crash/output/ZipInspect.h"

namespace kx::test {
namespace {

struct Item {
  std::u16string file;
  std::string sendAs, zip, field;
  bool operator==(const Item &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Item &i) {
  return os << "(" << EncodeUtf8(i.file) << ", " << i.sendAs << ", " << i.zip << ", " << i.field << ")";
}

std::vector<Item> ItemsOf(IKXAttachments &list) {
  std::vector<Item> items;
  Item i;
  for (int n = 0; list.GetItem(n, i.file, i.sendAs, i.zip, i.field); ++n)
    items.push_back(i);
  return items;
}

const std::u16string kExePath = u"C:\\App\\Tidewell.exe";
const std::u16string kTemp = u"C:\\Temp\\Tidewell.Kestrelix\\";
const std::u16string kAppData = u"C:\\Users\\ann\\AppData\\Roaming";
const std::u16string kBugFile = u"C:\\App\\bugreport.txt";
const std::u16string kBugCopy = kTemp + u"bugreport.txt";

class AttachmentList : public ::testing::Test {
protected:
  MemoryBugFileSystem fs;
  MemoryFileStore store{fs};
  KXAttachmentSettings settings;
  KXAttachmentContext context;
  const std::string oldReports = CrashReport(kCrcB, "t0") + "\r\n\r\n";
  const std::string report = CrashReport(kCrcA, "t1");

  void SetUp() override {
    fs.folders = {u"C:\\App\\", u"C:\\Temp\\", kTemp};
    context.exePath = kExePath;
    context.tempDirectory = kTemp;
    context.userAppDataFolder = kAppData;
  }
  KXAttachmentList Build() { return BuildAttachmentList(store, fs, settings, context, report); }
};

TEST_F(AttachmentList, TheWholeBugReportFileTravelsWithTheNewReport) {
  fs.files[kBugFile] = oldReports;
  fs.files[kBugCopy] = "stale copy of an earlier send";
  KXAttachmentList list = Build();
  EXPECT_EQ(ItemsOf(*list.items), (std::vector<Item>{{kBugCopy, "bugreport.txt", "", "BugReport"}}));
  EXPECT_EQ(fs.files[kBugCopy], oldReports + report + "\r\n\r\n");
  EXPECT_EQ(fs.files[kBugFile], oldReports) << "the bug report file itself is not touched";
  EXPECT_EQ(list.deleteAfterSend, kBugFile);

  // Already saved by the automatic save: the copy is the file as it is.
  context.mailWasSaved = true;
  fs.files[kBugFile] = oldReports + report + "\r\n\r\n";
  Build();
  EXPECT_EQ(fs.files[kBugCopy], fs.files[kBugFile]);

  // Without DelBugRepFile nothing is marked for deletion.
  settings.delBugRepFile = false;
  EXPECT_EQ(Build().deleteAfterSend, u"");
}

TEST_F(AttachmentList, TheReportAloneWhenTheFileIsNotAttachedOrCannotBeCopied) {
  fs.files[kBugFile] = oldReports;
  fs.files[kBugCopy] = "stale copy";
  settings.attachBugRepFile = false;
  settings.bugRepSendAs = "report.txt";
  settings.bugRepZip = "report.zip";
  KXAttachmentList list = Build();
  EXPECT_EQ(ItemsOf(*list.items), (std::vector<Item>{{kBugCopy, "report.txt", "report.zip", "BugReport"}}));
  EXPECT_EQ(fs.files[kBugCopy], report + "\r\n\r\n");
  EXPECT_EQ(list.deleteAfterSend, u"");

  settings.attachBugRepFile = true;
  store.copyFailures = 1;
  list = Build();
  EXPECT_EQ(fs.files[kBugCopy], report + "\r\n\r\n");
  EXPECT_EQ(list.deleteAfterSend, u"") << "a file that was not sent is not deleted";
}

TEST_F(AttachmentList, TheBugReportFileInTheApplicationDataFolderWhenTheExeFolderHasNone) {
  std::u16string fallback = kAppData + u"\\Tidewell\\bugreport.txt";
  fs.files[fallback] = oldReports;
  KXAttachmentList list = Build();
  EXPECT_EQ(fs.files[kBugCopy], oldReports + report + "\r\n\r\n");
  EXPECT_EQ(list.deleteAfterSend, fallback);

  // A configured name with a folder is never looked for elsewhere.
  settings.bugRepFile = u"reports\\bugreport.txt";
  list = Build();
  EXPECT_EQ(fs.files[kBugCopy], report + "\r\n\r\n");
  EXPECT_EQ(list.deleteAfterSend, u"");
}

TEST_F(AttachmentList, NoBugReportEntryWhenItCannotBeWritten) {
  fs.files[kBugFile] = oldReports;
  store.copyFailures = 1;
  fs.failWrites = true;
  KXAttachmentList list = Build();
  EXPECT_TRUE(ItemsOf(*list.items).empty());
  EXPECT_FALSE(fs.files.count(kBugCopy)) << "a half-written copy is removed";
  EXPECT_EQ(list.deleteAfterSend, u"");
}

TEST_F(AttachmentList, ScreenShotIsSavedFreshInTheDerivedFormat) {
  const std::u16string shot = kTemp + u"screenShot.png";
  fs.files[shot] = "old screenshot";
  settings.attachBugRep = false;
  settings.scrShotDepth = 102400;
  settings.scrShotZip = "pictures.zip";
  std::vector<std::pair<std::u16string, int>> calls;
  context.saveScreenShot = [&](const std::u16string &file, int format) {
    calls.emplace_back(file, format);
    EXPECT_FALSE(fs.files.count(file)) << "the old file is deleted first";
    fs.files[file] = "png";
    return true;
  };
  KXAttachmentList list = Build();
  EXPECT_EQ(calls, (std::vector<std::pair<std::u16string, int>>{{shot, 3}}));
  EXPECT_EQ(ItemsOf(*list.items), (std::vector<Item>{{shot, "screenshot.png", "pictures.zip", "ScreenShot"}}));

  context.saveScreenShot = [](const std::u16string &, int) { return false; };
  EXPECT_TRUE(ItemsOf(*Build().items).empty());
}

TEST(ScreenShotPngFormat, FollowsTheDepthSetting) {
  const std::pair<int32_t, int> table[] = {{4, 1},  {51200, 2}, {102400, 3}, {204800, 4}, {307200, 5},
                                           {0, 0},  {8, 0},     {16, 0},     {24, 0},     {-4, 0}};
  for (auto [depth, format] : table)
    EXPECT_EQ(ScreenShotPngFormat(depth), format) << depth;
}

TEST_F(AttachmentList, WithoutATemporaryFolderNoCopiesAreMade) {
  fs.files[kBugFile] = oldReports;
  context.tempDirectory.clear();
  bool asked = false;
  context.saveScreenShot = [&](const std::u16string &, int) { return asked = true; };
  settings.attachMiniDump = true;
  KXAttachmentList list = Build();
  EXPECT_TRUE(ItemsOf(*list.items).empty());
  EXPECT_FALSE(asked);
  EXPECT_EQ(list.deleteAfterSend, u"");
}

TEST_F(AttachmentList, OrderIsReportScreenShotMiniDumpThenTheConfiguredOnes) {
  const std::u16string shot = kTemp + u"screenShot.png";
  const std::u16string dump = kTemp + u"Tidewell.dmp";
  EXPECT_EQ(MiniDumpFile(kTemp, kExePath), dump);
  fs.files[dump] = "MDMP";
  context.saveScreenShot = [&](const std::u16string &file, int) {
    fs.files[file] = "png";
    return true;
  };
  settings.attachMiniDump = true;
  settings.addAttachs = NewAttachmentList();
  AddAttachmentsText(*settings.addAttachs, "c:\\logs\\a.log|d:\\x\\b.cfg>conf.txt>extra.zip>Config");
  KXAttachmentList list = Build();
  EXPECT_EQ(ItemsOf(*list.items), (std::vector<Item>{{kBugCopy, "bugreport.txt", "", "BugReport"},
                                                     {shot, "screenshot.png", "", "ScreenShot"},
                                                     {dump, "Tidewell.dmp", "", "MiniDump"},
                                                     {u"c:\\logs\\a.log", "a.log", "", "a"},
                                                     {u"d:\\x\\b.cfg", "conf.txt", "extra.zip", "Config"}}));

  // No dump entry when the setting is off or the dump was not written.
  settings.attachMiniDump = false;
  EXPECT_EQ(ItemsOf(*Build().items).size(), 4u);
  settings.attachMiniDump = true;
  fs.files.erase(dump);
  EXPECT_EQ(ItemsOf(*Build().items).size(), 4u);
}

TEST(AttachmentSettings, AreReadFromTheSettingsObject) {
  FakePlatform platform;
  platform.streams[kExe] = StreamBuilder()
                               .Bool("AttachBugRepFile", false)
                               .Bool("DelBugRepFile", false)
                               .Text("BugRepSendAs", "%appname%.txt")
                               .Text("BugRepZip", "report.zip")
                               .Text("BugRepFile", "logs\\bug.txt")
                               .Int("ScrShotDepth", 51200)
                               .Text("ScrShotSendAs", "shot.png")
                               .Text("ScrShotZip", "shot.zip")
                               .Bool("AttachMiniDump", true)
                               .Text("AddAttachs", "c:\\a.log>x.log>z.zip>F")
                               .Bool("AppendBugReps", false)
                               .Int("BugRepFileSize", 5000)
                               .End();
  auto context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
  auto settings = CreateModuleSettings(context, kExe);
  KXAttachmentSettings s = AttachmentSettingsOf(*settings);
  EXPECT_TRUE(s.attachBugRep);
  EXPECT_FALSE(s.attachBugRepFile);
  EXPECT_FALSE(s.delBugRepFile);
  EXPECT_EQ(s.bugRepSendAs, "Tidewell.exe.txt");
  EXPECT_EQ(s.bugRepZip, "report.zip");
  EXPECT_EQ(s.bugRepFile, u"logs\\bug.txt");
  EXPECT_EQ(s.scrShotDepth, 51200);
  EXPECT_EQ(s.scrShotSendAs, "shot.png");
  EXPECT_EQ(s.scrShotZip, "shot.zip");
  EXPECT_TRUE(s.attachMiniDump);
  ASSERT_TRUE(s.addAttachs);
  EXPECT_EQ(AttachmentsText(*s.addAttachs), "c:\\a.log>x.log>z.zip>F");
  EXPECT_FALSE(s.fileOptions.append);
  EXPECT_EQ(s.fileOptions.maxSize, 5000u);
}

class Preparation : public ::testing::Test {
protected:
  MemoryBugFileSystem fs;
  MemoryFileStore store{fs};
  std::shared_ptr<IKXAttachments> list = NewAttachmentList();

  KXPreparedAttachments Prepare(const std::u16string &temp = kTemp) {
    return PrepareAttachments(store, *list, kExePath, temp);
  }
  std::vector<std::string> MemberNames(const std::u16string &zip) {
    ZipContents c = InspectZip(fs.files.at(zip));
    EXPECT_EQ(c.error, "");
    std::vector<std::string> names;
    for (const ZipMember &m : c.members)
      names.push_back(m.name + "=" + m.data);
    return names;
  }
};

TEST_F(Preparation, NamesDifferingInCaseShareOneArchiveNamedAfterTheFirst) {
  fs.files[u"C:\\d\\a.txt"] = "A";
  fs.files[u"C:\\d\\b.txt"] = "B";
  fs.files[u"C:\\d\\c.txt"] = "C";
  list->Add(u"C:\\d\\a.txt", "first.txt", "Logs.zip", "One");
  list->Add(u"C:\\d\\b.txt", "second.txt", "LOGS.ZIP", "Two");
  list->Add(u"C:\\d\\c.txt", "third.txt", "", "Three");
  KXPreparedAttachments p = Prepare();
  EXPECT_EQ(p.files, (std::vector<std::u16string>{kTemp + u"Logs.zip", u"C:\\d\\c.txt"}));
  EXPECT_EQ(p.sendAs, (std::vector<std::string>{"Logs.zip", "third.txt"}));
  EXPECT_EQ(p.fields, (std::vector<std::string>{"Logs.zip", "Three"}));
  EXPECT_EQ(MemberNames(kTemp + u"Logs.zip"), (std::vector<std::string>{"first.txt=A", "second.txt=B"}));
  EXPECT_FALSE(fs.files.count(kTemp + u"LOGS.ZIP"));
}

TEST_F(Preparation, AMissingFirstMemberMovesTheGroupToTheFirstExistingEntry) {
  fs.files[u"C:\\d\\b.txt"] = "B";
  fs.files[u"C:\\d\\c.txt"] = "C";
  fs.files[u"C:\\d\\plain.txt"] = "P";
  list->Add(u"C:\\d\\missing.txt", "gone.txt", "pack.zip", "Gone");
  list->Add(u"C:\\d\\plain.txt", "plain.txt", "", "Plain");
  list->Add(u"C:\\d\\b.txt", "b.txt", "Pack.ZIP", "B");
  list->Add(u"C:\\d\\c.txt", "c.txt", "pack.zip", "C");
  KXPreparedAttachments p = Prepare();
  EXPECT_EQ(p.files, (std::vector<std::u16string>{u"C:\\d\\plain.txt", kTemp + u"Pack.ZIP"}));
  EXPECT_EQ(p.sendAs, (std::vector<std::string>{"plain.txt", "Pack.ZIP"}));
  EXPECT_EQ(p.fields, (std::vector<std::string>{"Plain", "Pack.ZIP"}));
  EXPECT_EQ(MemberNames(kTemp + u"Pack.ZIP"), (std::vector<std::string>{"b.txt=B", "c.txt=C"}));
  EXPECT_EQ(p.sources, (std::vector<std::u16string>{u"C:\\d\\plain.txt", u"C:\\d\\b.txt", u"C:\\d\\c.txt"}));
}

TEST_F(Preparation, RelativePathsAreTakenBesideTheExecutableAndMissingFilesSkipped) {
  fs.files[u"C:\\App\\logs\\run.log"] = "run";
  fs.files[u"C:\\extra.txt"] = "extra";
  list->Add(u"logs\\run.log", "", "", "");
  list->Add(u"logs\\none.log", "", "", "");
  list->Add(u"\\extra.txt", "", "", "");
  KXPreparedAttachments p = Prepare();
  EXPECT_EQ(p.files, (std::vector<std::u16string>{u"C:\\App\\logs\\run.log", u"C:\\extra.txt"}));
  EXPECT_EQ(p.sendAs, (std::vector<std::string>{"run.log", "extra.txt"}));
  EXPECT_EQ(p.fields, (std::vector<std::string>{"run", "extra"}));
}

TEST_F(Preparation, AnArchiveThatFailsDropsOnlyItsGroup) {
  fs.files[u"C:\\d\\a.txt"] = "A";
  fs.files[u"C:\\d\\bad.txt"] = "X";
  fs.files[u"C:\\d\\c.txt"] = "C";
  store.unreadable.insert(u"C:\\d\\bad.txt");
  list->Add(u"C:\\d\\a.txt", "a.txt", "broken.zip", "A");
  list->Add(u"C:\\d\\bad.txt", "bad.txt", "broken.zip", "X");
  list->Add(u"C:\\d\\c.txt", "c.txt", "fine.zip", "C");
  KXPreparedAttachments p = Prepare();
  EXPECT_EQ(p.files, (std::vector<std::u16string>{kTemp + u"fine.zip"}));
  EXPECT_FALSE(fs.files.count(kTemp + u"broken.zip"));

  // Without a temporary folder no archive can be made; plain entries still go.
  list->Add(u"C:\\d\\c.txt", "plain.txt", "", "P");
  p = Prepare(u"");
  EXPECT_EQ(p.sendAs, (std::vector<std::string>{"plain.txt"}));
}

class SendAttachments : public AttachmentList {
protected:
  KXSendAttachments Send() { return BuildSendAttachments(store, fs, settings, context, report); }
};

TEST_F(SendAttachments, TheBugReportFileIsMarkedOnlyWhenItsCopyGoesOut) {
  fs.files[kBugFile] = oldReports;
  KXSendAttachments send = Send();
  EXPECT_EQ(send.prepared.files, std::vector<std::u16string>{kBugCopy});
  EXPECT_EQ(send.deleteAfterSend, kBugFile);

  settings.bugRepZip = "report.zip";
  send = Send();
  EXPECT_EQ(send.prepared.files, std::vector<std::u16string>{kTemp + u"report.zip"});
  EXPECT_EQ(send.deleteAfterSend, kBugFile);

  // The archive cannot be written: nothing of the report goes out, so nothing is deleted.
  store.uncreatable.insert(kTemp + u"report.zip");
  send = Send();
  EXPECT_TRUE(send.prepared.files.empty());
  EXPECT_EQ(send.deleteAfterSend, u"");
  EXPECT_EQ(fs.files[kBugFile], oldReports);
}

#ifndef _WIN32 // the Windows tree checks its archives in win32/
// The same on disk, checked with unzip.
TEST(PreparationOnDisk, UnzipAcceptsTheGroupArchive) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kxattach-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  std::filesystem::path dir = pattern;
  std::filesystem::create_directory(dir / "tmp");
  std::ofstream(dir / "report.txt") << "the report";
  std::ofstream(dir / std::filesystem::u8path("caf\xC3\xA9.log")) << "a log";
  std::ofstream(dir / "alone.txt") << "alone";
  LocalFileStore store;
  auto list = NewAttachmentList();
  list->Add((dir / "report.txt").u16string(), "bugreport.txt", "Report.zip", "BugReport");
  list->Add((dir / "alone.txt").u16string(), "alone.txt", "", "Alone");
  list->Add((dir / std::filesystem::u8path("caf\xC3\xA9.log")).u16string(), "", "REPORT.zip", "");
  std::u16string temp = (dir / "tmp").u16string() + u"/";
  KXPreparedAttachments p = PrepareAttachments(store, *list, (dir / "app.exe").u16string(), temp);
  ASSERT_EQ(p.Count(), 2u);
  EXPECT_EQ(p.sendAs, (std::vector<std::string>{"Report.zip", "alone.txt"}));
  std::string archive = LocalPath(p.files[0]);
  EXPECT_EQ(archive, (dir / "tmp" / "Report.zip").string());
  EXPECT_EQ(std::system(("unzip -t -q '" + archive + "' >/dev/null 2>&1").c_str()), 0);
  std::string listing = (dir / "listing").string();
  ASSERT_EQ(std::system(("LC_ALL=C.UTF-8 unzip -Z1 '" + archive + "' > '" + listing + "'").c_str()), 0);
  std::ifstream in(listing);
  std::string names((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(names, "bugreport.txt\ncaf\xC3\xA9.log\n");
  std::filesystem::remove_all(dir);
}

#endif

} // namespace

TEST(SafeFileName, KeepsTheLastComponentAndRejectsWhatIsNoName) {
  EXPECT_EQ(SafeFileName("logs.zip"), "logs.zip");
  EXPECT_EQ(SafeFileName("..\\..\\Windows\\evil.dll"), "evil.dll");
  EXPECT_EQ(SafeFileName("../../etc/passwd"), "passwd");
  EXPECT_EQ(SafeFileName("C:evil.zip"), "evil.zip");
  EXPECT_EQ(SafeFileName("report..txt"), "report..txt");
  EXPECT_EQ(SafeFileName("console.log"), "console.log");
  EXPECT_EQ(SafeFileName("COM10.txt"), "COM10.txt");
  for (const char *bad : {"", "..", ".", "a\\..", "dir/", "C:", "a\tb.zip", "a\r\nb", "x\x7F", "...", "logs.zip.",
                          "logs.zip ", "a?.zip", "a*.zip", "a|b", "\"q\"", "<x>", "CON", "nul.zip", "Com1.txt",
                          "LPT9", "aux .log", "..\\prn"})
    EXPECT_EQ(SafeFileName(bad), std::nullopt) << bad;
}

TEST_F(Preparation, NamesFromTheSettingsNeverLeaveTheTemporaryFolder) {
  fs.files[u"C:\\d\\a.txt"] = "A";
  fs.files[u"C:\\d\\b.txt"] = "B";
  fs.files[u"C:\\d\\c.txt"] = "C";
  fs.files[u"C:\\d\\d.txt"] = "D";
  list->Add(u"C:\\d\\a.txt", "..\\..\\a.txt", "..\\..\\Windows\\out.zip", "A");
  list->Add(u"C:\\d\\b.txt", "C:/x/../b.txt", "..\\..\\Windows\\out.zip", "B");
  list->Add(u"C:\\d\\c.txt", "..", "bad\tname.zip", "C");   // the whole group is left out
  list->Add(u"C:\\d\\d.txt", "sub\\..", "", "D");            // a send-as name that names no file
  list->Add(u"C:\\d\\a.txt", "..\\plain.txt", "", "P");
  KXPreparedAttachments p = Prepare();
  EXPECT_EQ(p.files, (std::vector<std::u16string>{kTemp + u"out.zip", u"C:\\d\\a.txt"}));
  EXPECT_EQ(p.sendAs, (std::vector<std::string>{"out.zip", "plain.txt"}));
  EXPECT_EQ(p.fields, (std::vector<std::string>{"out.zip", "P"}));
  EXPECT_EQ(MemberNames(kTemp + u"out.zip"), (std::vector<std::string>{"a.txt=A", "b.txt=B"}));
  for (const auto &[path, data] : fs.files)
    EXPECT_TRUE(path.rfind(u"C:\\d\\", 0) == 0 || path == kTemp + u"out.zip") << std::string(path.begin(), path.end());
}

} // namespace kx::test
