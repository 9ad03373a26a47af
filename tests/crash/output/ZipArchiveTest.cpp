// The zip writer: archives that zip readers accept (checked by an independent reader and by
// unzip on real files), members that cannot be opened left out, any other failure leaving no
// archive behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "crash/output/KXZipArchive.h"
#ifndef _WIN32
#include "tests/crash/output/LocalFileStore.h"
#endif
#include "tests/crash/output/MemoryFileStore.h"
#include "tests/crash/output/ZipInspect.h"

namespace kx::test {
namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char &c : s)
    c = char(rng());
  return s;
}

std::string Repetitive(size_t n) {
  std::string s;
  while (s.size() < n)
    s += "date/time          : 2024-05-01, 10:00:00\r\n";
  return s.substr(0, n);
}

class ZipInMemory : public ::testing::Test {
protected:
  MemoryBugFileSystem fs;
  MemoryFileStore store{fs};
  const std::u16string zip = u"C:\\t\\out.zip";
};

TEST_F(ZipInMemory, MembersCarryTheirNamesDataTimesAndAttributes) {
  fs.files[u"C:\\d\\report.txt"] = Repetitive(50000);
  fs.files[u"C:\\d\\noise.bin"] = RandomBytes(70000, 1); // incompressible: stored blocks
  fs.files[u"C:\\d\\empty.log"] = "";
  store.times[u"C:\\d\\report.txt"] = {0x5A2F, 0x58A1};
  store.attributes[u"C:\\d\\noise.bin"] = 0x21; // read-only, archive
  ASSERT_TRUE(WriteZipArchive(store, zip, {u"C:\\d\\report.txt", u"C:\\d\\noise.bin", u"C:\\d\\empty.log"},
                              {"bugreport.txt", "", ""}));

  ZipContents c = InspectZip(fs.files.at(zip));
  ASSERT_EQ(c.error, "");
  ASSERT_EQ(c.members.size(), 3u);
  EXPECT_EQ(c.members[0].name, "bugreport.txt"); // the given name
  EXPECT_EQ(c.members[1].name, "noise.bin");     // no name: the file's own
  EXPECT_EQ(c.members[2].name, "empty.log");
  EXPECT_TRUE(c.members[0].data == fs.files[u"C:\\d\\report.txt"]);
  EXPECT_TRUE(c.members[1].data == fs.files[u"C:\\d\\noise.bin"]);
  EXPECT_EQ(c.members[2].data, "");
  for (const ZipMember &m : c.members) {
    EXPECT_EQ(m.flags, 0x0800) << m.name;
    EXPECT_EQ(m.method, 8) << m.name;
  }
  EXPECT_EQ(c.members[0].time, 0x5A2F);
  EXPECT_EQ(c.members[0].date, 0x58A1);
  EXPECT_EQ(c.members[1].date, kEarliestDosTime.date); // unknown time: 1 January 1980
  EXPECT_EQ(c.members[1].time, 0);
  EXPECT_EQ(c.members[0].externalAttributes, 0x20u);
  EXPECT_EQ(c.members[1].externalAttributes, 0x21u);
  EXPECT_LT(fs.files.at(zip).size(), 70000u + 3000u) << "the text member is compressed";
}

TEST_F(ZipInMemory, NamesAreUtf8FileNamesThatCannotLeaveTheUnpackingFolder) {
  fs.files[u"C:\\d\\Gr\u00f6\u00dfe \u4e2d.txt"] = "wide";
  fs.files[u"C:\\d\\b.txt"] = "narrow";
  fs.files[u"C:\\d\\c.txt"] = "dots";
  // The second name is 8-bit text (ISO-8859-1 in the portable conversion): 0xE9 is e acute. A
  // name with folders keeps its last component; one that names no file gives way to the file's.
  ASSERT_TRUE(WriteZipArchive(store, zip, {u"C:\\d\\Gr\u00f6\u00dfe \u4e2d.txt", u"C:\\d\\b.txt", u"C:\\d\\c.txt"},
                              {"", "..\\..\\logs\\caf\xe9.txt", "../.."}));
  ZipContents c = InspectZip(fs.files.at(zip));
  ASSERT_EQ(c.error, "");
  ASSERT_EQ(c.members.size(), 3u);
  EXPECT_EQ(c.members[0].name, "Gr\xC3\xB6\xC3\x9F" "e \xE4\xB8\xAD.txt");
  EXPECT_EQ(c.members[1].name, "caf\xC3\xA9.txt");
  EXPECT_EQ(c.members[2].name, "c.txt");
}

TEST_F(ZipInMemory, MemberThatCannotBeOpenedIsLeftOut) {
  fs.files[u"C:\\d\\a.txt"] = "a";
  fs.files[u"C:\\d\\locked.txt"] = "locked";
  store.unopenable.insert(u"C:\\d\\locked.txt");
  std::vector<size_t> packed;
  ASSERT_TRUE(WriteZipArchive(store, zip, {u"C:\\d\\missing.txt", u"C:\\d\\locked.txt", u"C:\\d\\a.txt"},
                              {"m", "l", "a"}, &packed));
  EXPECT_EQ(packed, std::vector<size_t>{2});
  ZipContents c = InspectZip(fs.files.at(zip));
  ASSERT_EQ(c.error, "");
  ASSERT_EQ(c.members.size(), 1u);
  EXPECT_EQ(c.members[0].name, "a");
}

TEST_F(ZipInMemory, FailuresLeaveNoArchive) {
  fs.files[u"C:\\d\\a.txt"] = Repetitive(5000);
  fs.files[u"C:\\d\\bad.txt"] = "x";
  store.unreadable.insert(u"C:\\d\\bad.txt");

  // Nothing could be packed.
  EXPECT_FALSE(WriteZipArchive(store, zip, {u"C:\\d\\missing.txt"}, {}));
  EXPECT_FALSE(fs.files.count(zip));
  EXPECT_FALSE(WriteZipArchive(store, zip, {}, {}));
  EXPECT_FALSE(fs.files.count(zip));

  // A read fails after a member was written.
  EXPECT_FALSE(WriteZipArchive(store, zip, {u"C:\\d\\a.txt", u"C:\\d\\bad.txt"}, {}));
  EXPECT_FALSE(fs.files.count(zip));

  // Writing fails in the member data, then in the central directory.
  store.writeLimit = 100;
  EXPECT_FALSE(WriteZipArchive(store, zip, {u"C:\\d\\a.txt"}, {}));
  EXPECT_FALSE(fs.files.count(zip));
  fs.files[u"C:\\d\\small.txt"] = "s";
  store.writeLimit = 30 + 9 + 3 + 10; // the local header, name and data fit; the directory does not
  EXPECT_FALSE(WriteZipArchive(store, zip, {u"C:\\d\\small.txt"}, {}));
  EXPECT_FALSE(fs.files.count(zip));

  // The archive cannot be created.
  store.writeLimit = SIZE_MAX;
  store.uncreatable.insert(zip);
  EXPECT_FALSE(WriteZipArchive(store, zip, {u"C:\\d\\a.txt"}, {}));
}

TEST_F(ZipInMemory, AnExistingArchiveIsReplaced) {
  fs.files[zip] = RandomBytes(10000, 2);
  fs.files[u"C:\\d\\a.txt"] = "new";
  ASSERT_TRUE(WriteZipArchive(store, zip, {u"C:\\d\\a.txt"}, {}));
  ZipContents c = InspectZip(fs.files.at(zip));
  ASSERT_EQ(c.error, "");
  ASSERT_EQ(c.members.size(), 1u);
  EXPECT_EQ(c.members[0].data, "new");
}

#ifndef _WIN32 // the Windows tree checks its archives in win32/
// Real files and the unzip program.
class ZipOnDisk : public ::testing::Test {
protected:
  std::filesystem::path dir;
  LocalFileStore store;

  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kxzip-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::u16string Write(const std::string &utf8Name, const std::string &data) {
    std::ofstream(dir / std::filesystem::u8path(utf8Name), std::ios::binary) << data;
    return WidePath(dir / std::filesystem::u8path(utf8Name));
  }
  static std::u16string WidePath(const std::filesystem::path &p) { return p.u16string(); }
  static std::string ReadFile(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static int Run(const std::string &command) { return std::system((command + " >/dev/null 2>&1").c_str()); }
};

TEST_F(ZipOnDisk, UnzipAcceptsTheArchiveAndRestoresNamesAndBytes) {
  const std::string utf8Name = "Gr\xC3\xB6\xC3\x9F" "e-\xE4\xB8\xAD.log"; // Größe-中.log
  std::string text = Repetitive(120000), noise = RandomBytes(90000, 3);
  std::u16string a = Write("report.txt", text);
  std::u16string b = Write(utf8Name, noise);
  std::u16string c = Write("empty.dat", "");
  std::u16string zip = WidePath(dir / "out.zip");
  ASSERT_TRUE(WriteZipArchive(store, zip, {a, b, c}, {"bugreport.txt", "", ""}));

  std::string archive = (dir / "out.zip").string();
  EXPECT_EQ(Run("unzip -t -q '" + archive + "'"), 0);
  std::filesystem::path out = dir / "x";
  ASSERT_EQ(Run("LC_ALL=C.UTF-8 unzip -q -o '" + archive + "' -d '" + out.string() + "'"), 0);
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(out))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{utf8Name, "bugreport.txt", "empty.dat"}));
  EXPECT_TRUE(ReadFile(out / "bugreport.txt") == text);
  EXPECT_TRUE(ReadFile(out / std::filesystem::u8path(utf8Name)) == noise);
  EXPECT_EQ(ReadFile(out / "empty.dat"), "");

  // unzip -p streams a member's bytes as stored.
  std::string piped = (dir / "piped").string();
  ASSERT_EQ(std::system(("unzip -p '" + archive + "' bugreport.txt > '" + piped + "'").c_str()), 0);
  EXPECT_TRUE(ReadFile(piped) == text);
}

TEST_F(ZipOnDisk, TheMemberTimeIsTheFilesLocalModificationTime) {
  std::u16string a = Write("a.txt", "a");
  std::filesystem::path file = dir / "a.txt";
  struct tm when = {};
  when.tm_year = 2021 - 1900;
  when.tm_mon = 6; // July
  when.tm_mday = 14;
  when.tm_hour = 13;
  when.tm_min = 37;
  when.tm_sec = 42;
  when.tm_isdst = -1;
  time_t t = mktime(&when);
  struct timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  std::u16string zip = WidePath(dir / "t.zip");
  ASSERT_TRUE(WriteZipArchive(store, zip, {a}, {}));
  ZipContents c = InspectZip(ReadFile(dir / "t.zip"));
  ASSERT_EQ(c.error, "");
  ASSERT_EQ(c.members.size(), 1u);
  EXPECT_EQ(c.members[0].date, (2021 - 1980) << 9 | 7 << 5 | 14);
  EXPECT_EQ(c.members[0].time, 13 << 11 | 37 << 5 | 42 / 2);
}

#endif

} // namespace
} // namespace kx::test
