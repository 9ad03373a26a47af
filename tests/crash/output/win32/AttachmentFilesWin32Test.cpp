// The zip writer and the attachments over the real Win32 file system: names from UTF-16 paths
// become UTF-8, times and attributes come from the files, a locked file is left out; the
// attachments of an exception's send with its settings.
#include <gtest/gtest.h>
#include <windows.h>

#include "crash/output/KXZipArchive.h"
#include "crash/output/win32/KXWin32Attachments.h"
#include "crash/output/win32/KXWin32FileStore.h"
#include "tests/crash/capture/exception/FakeHost.h"
#include "tests/crash/output/TestReports.h"
#include "tests/crash/output/ZipInspect.h"
#include "tests/crash/output/win32/Win32TestFolder.h"

namespace kx::test {
namespace {

std::string Repetitive(size_t n) {
  std::string s;
  while (s.size() < n)
    s += "00401000 +000 Tidewell.exe MainUnit 131 +5 TForm1.btnSetClick\r\n";
  return s.substr(0, n);
}

std::string Binary(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 2463534242u;
  for (char &c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = char(x);
  }
  return s;
}

// 14 July 2021, 13:37:42 local time as the file's last write time.
bool SetLocalWriteTime(const std::wstring &path) {
  SYSTEMTIME st{};
  st.wYear = 2021;
  st.wMonth = 7;
  st.wDay = 14;
  st.wHour = 13;
  st.wMinute = 37;
  st.wSecond = 42;
  FILETIME local, utc;
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  bool ok = h != INVALID_HANDLE_VALUE && SystemTimeToFileTime(&st, &local) && LocalFileTimeToFileTime(&local, &utc) &&
            SetFileTime(h, nullptr, nullptr, &utc);
  if (h != INVALID_HANDLE_VALUE)
    CloseHandle(h);
  return ok;
}

std::u16string U16(const std::wstring &s) { return std::u16string(s.begin(), s.end()); }

TEST(ZipWin32, RealFilesWithAUtf8NameTimesAndAttributes) {
  Win32TestFolder folder(L"kxzip-");
  ASSERT_TRUE(folder.Created);
  const std::string text = Repetitive(200000), noise = Binary(150000);
  std::wstring report = folder.Write(L"report.txt", text);
  std::wstring wide = folder.Write(L"Gr\u00f6\u00dfe-\u4e2d.log", noise);
  std::wstring readOnly = folder.Write(L"ro.txt", "read only");
  std::wstring locked = folder.Write(L"locked.txt", "locked");
  ASSERT_TRUE(SetLocalWriteTime(report));
  ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  // Held without sharing: the writer cannot open it and leaves it out.
  HANDLE holder = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);

  KXWin32FileStore store;
  std::u16string zip = folder.U16(L"attachments.zip");
  std::vector<size_t> packed;
  bool written = WriteZipArchive(store, zip, {U16(report), U16(wide), U16(locked), U16(readOnly)},
                                 {"bugreport.txt", "", "", ""}, &packed);
  CloseHandle(holder);
  ASSERT_TRUE(written);
  EXPECT_EQ(packed, (std::vector<size_t>{0, 1, 3}));

  std::string archive = Win32TestFolder::Read(zip);
  ZipContents c = InspectZip(archive);
  ASSERT_EQ(c.error, "");
  ASSERT_EQ(c.members.size(), 3u);
  EXPECT_EQ(c.members[0].name, "bugreport.txt");
  EXPECT_EQ(c.members[1].name, "Gr\xC3\xB6\xC3\x9F" "e-\xE4\xB8\xAD.log");
  EXPECT_EQ(c.members[2].name, "ro.txt");
  EXPECT_TRUE(c.members[0].data == text);
  EXPECT_TRUE(c.members[1].data == noise);
  EXPECT_EQ(c.members[2].data, "read only");
  EXPECT_EQ(c.members[0].date, (2021 - 1980) << 9 | 7 << 5 | 14);
  EXPECT_EQ(c.members[0].time, 13 << 11 | 37 << 5 | 42 / 2);
  EXPECT_EQ(c.members[2].externalAttributes, GetFileAttributesW(readOnly.c_str()));
  EXPECT_TRUE(c.members[2].externalAttributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(c.members[1].externalAttributes, GetFileAttributesW(wide.c_str()));
  EXPECT_LT(archive.size(), noise.size() + text.size() / 4) << "the text is compressed";

  // For checking with Linux unzip: TIDEWELL_KEEP_TEST_FILES keeps the folder; its path is here.
  std::printf("archive: %ls\n", (folder.Path + L"attachments.zip").c_str());
}

TEST(ZipWin32, AnArchiveThatCannotBeWrittenLeavesNothing) {
  Win32TestFolder folder(L"kxzip-");
  ASSERT_TRUE(folder.Created);
  std::wstring a = folder.Write(L"a.txt", "a");
  KXWin32FileStore store;
  EXPECT_FALSE(WriteZipArchive(store, folder.U16(L"no such folder\\a.zip"), {U16(a)}, {}));
  EXPECT_FALSE(WriteZipArchive(store, folder.U16(L"none.zip"), {folder.U16(L"missing.txt")}, {}));
  EXPECT_EQ(GetFileAttributesW((folder.Path + L"none.zip").c_str()), INVALID_FILE_ATTRIBUTES);
}

class AttachmentsWin32 : public ::testing::Test {
protected:
  Win32TestFolder folder{L"kxattach-"};
  FakePlatform platform;
  std::shared_ptr<KXSettingsContext> context;
  std::unique_ptr<FakeHost> host;

  void TearDown() override { SetExceptionHost(nullptr); }

  std::string Narrow(const std::wstring &s) { return std::string(s.begin(), s.end()); } // ASCII test paths

  std::shared_ptr<TIKXException> Create(StreamBuilder stream) {
    platform.streams[kExe] = stream.End();
    context = std::make_shared<KXSettingsContext>(platform, std::make_shared<KXSettingsRegistry>());
    host = std::make_unique<FakeHost>(CreateModuleSettings(context, kExe));
    SetExceptionHost(host.get());
    KXCaughtException caught;
    caught.exceptAddr = 0x401234;
    return CreateExceptionObject(caught);
  }
};

TEST_F(AttachmentsWin32, AnExceptionsSendPacksItsFilesAndMarksTheBugReportFile) {
  ASSERT_TRUE(folder.Created);
  std::wstring temp = folder.Path + L"tmp\\";
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  const std::string oldReports = CrashReport(kCrcB, "t0") + "\r\n\r\n";
  std::wstring bugFile = folder.Write(L"bug.txt", oldReports);
  std::wstring a = folder.Write(L"a.log", "log a");
  std::wstring b = folder.Write(L"b.log", "log b");
  std::wstring c = folder.Write(L"c.log", "log c");
  std::string attachs = Narrow(a) + ">a.log>Logs.zip>A|" + Narrow(b) + ">b.log>LOGS.ZIP>B|" + Narrow(c) + ">c.log>>C";
  auto e = Create(StreamBuilder().Text("BugRepFile", Narrow(bugFile)).Text("AddAttachs", attachs));
  std::string report = CrashReport(kCrcA, "t1");

  KXSendAttachments send = PrepareAttachmentsFor(*e, report, temp);
  EXPECT_EQ(send.prepared.files,
            (std::vector<std::u16string>{U16(temp + L"bug.txt"), U16(temp + L"Logs.zip"), U16(c)}));
  EXPECT_EQ(send.prepared.sendAs, (std::vector<std::string>{"bugreport.txt", "Logs.zip", "c.log"}));
  EXPECT_EQ(send.prepared.fields, (std::vector<std::string>{"BugReport", "Logs.zip", "C"}));
  EXPECT_EQ(send.deleteAfterSend, U16(bugFile));
  EXPECT_EQ(Win32TestFolder::Read(temp + L"bug.txt"), oldReports + report + "\r\n\r\n");
  ZipContents zip = InspectZip(Win32TestFolder::Read(temp + L"Logs.zip"));
  ASSERT_EQ(zip.error, "");
  ASSERT_EQ(zip.members.size(), 2u);
  EXPECT_EQ(zip.members[0].name, "a.log");
  EXPECT_EQ(zip.members[1].data, "log b");

  // The automatic save has put the report into the file already: the copy is the file.
  std::string saved = oldReports + report + "\r\n\r\n";
  folder.Write(L"bug.txt", saved);
  e->SetMailWasSaved(true);
  PrepareAttachmentsFor(*e, report, temp);
  EXPECT_EQ(Win32TestFolder::Read(temp + L"bug.txt"), saved);

  // A read-only bug report file: the copy takes the report all the same, and is replaced by the
  // next send's copy.
  folder.Write(L"bug.txt", oldReports);
  ASSERT_TRUE(SetFileAttributesW(bugFile.c_str(), FILE_ATTRIBUTE_READONLY));
  e->SetMailWasSaved(false);
  for (int send = 0; send < 2; ++send) {
    PrepareAttachmentsFor(*e, report, temp);
    EXPECT_EQ(Win32TestFolder::Read(temp + L"bug.txt"), oldReports + report + "\r\n\r\n") << "send " << send;
    EXPECT_EQ(GetFileAttributesW((temp + L"bug.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  }
  EXPECT_EQ(Win32TestFolder::Read(bugFile), oldReports) << "the protected file itself is left alone";
  SetFileAttributesW(bugFile.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(AttachmentsWin32, TheMiniDumpAndTheScreenShotJoinWhenPresent) {
  ASSERT_TRUE(folder.Created);
  std::wstring temp = folder.Path;
  auto e = Create(StreamBuilder()
                      .Bool("AttachBugRep", false)
                      .Bool("AttachMiniDump", true)
                      .Int("ScrShotDepth", 4)
                      .Text("ScrShotZip", "shot.zip"));
  // The dump as the exception host writes it: <temporary folder><exe name>.dmp.
  wchar_t exe[MAX_PATH];
  std::wstring exeName(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
  exeName = exeName.substr(exeName.find_last_of(L'\\') + 1);
  std::wstring dumpName = exeName.substr(0, exeName.find_last_of(L'.')) + L".dmp";
  folder.Write(dumpName, "MDMP dump");
  int format = -1;
  auto save = [&](const std::u16string &file, int f) {
    format = f;
    folder.Write(std::wstring(file.begin(), file.end()).substr(temp.size()), "png bytes");
    return true;
  };
  KXSendAttachments send = PrepareAttachmentsFor(*e, "report", temp, save);
  EXPECT_EQ(format, 1);
  EXPECT_EQ(send.prepared.files, (std::vector<std::u16string>{U16(temp + L"shot.zip"), U16(temp + dumpName)}));
  EXPECT_EQ(send.prepared.sendAs, (std::vector<std::string>{"shot.zip", std::string(dumpName.begin(), dumpName.end())}));
  EXPECT_EQ(send.prepared.fields[1], "MiniDump");
  EXPECT_EQ(send.deleteAfterSend, u"");
}

} // namespace
} // namespace kx::test
