#include <gtest/gtest.h>

#include "crash/output/KXBugFilePaths.h"

using namespace kx;

namespace {
const std::u16string kExe = u"C:\\Program Files\\Tidewell\\Tidewell.exe";
}

TEST(BugFilePaths, RelativeNamesLandInTheExecutablesFolder) {
  EXPECT_EQ(MakeAbsolutePath(u"bugreport.txt", kExe), u"C:\\Program Files\\Tidewell\\bugreport.txt");
  EXPECT_EQ(MakeAbsolutePath(u"logs\\bug.txt", kExe), u"C:\\Program Files\\Tidewell\\logs\\bug.txt");
  EXPECT_EQ(MakeAbsolutePath(u"..\\bug.txt", kExe), u"C:\\Program Files\\bug.txt");
  EXPECT_EQ(MakeAbsolutePath(u"b", kExe), u"C:\\Program Files\\Tidewell\\b"); // shorter than 3
  EXPECT_EQ(MakeAbsolutePath(u"logs/sub/bug.txt", kExe), u"C:\\Program Files\\Tidewell\\logs\\sub\\bug.txt");
}

TEST(BugFilePaths, SingleBackslashMeansTheExecutablesDriveOrShare) {
  EXPECT_EQ(MakeAbsolutePath(u"\\logs\\bug.txt", kExe), u"C:\\logs\\bug.txt");
  EXPECT_EQ(MakeAbsolutePath(u"\\logs\\bug.txt", u"\\\\srv\\tools\\app\\Tidewell.exe"),
            u"\\\\srv\\tools\\logs\\bug.txt");
}

TEST(BugFilePaths, AbsolutePathsAreOnlyCleanedUp) {
  EXPECT_EQ(MakeAbsolutePath(u"D:\\a\\.\\b\\..\\c\\bug.txt", kExe), u"D:\\a\\c\\bug.txt");
  EXPECT_EQ(MakeAbsolutePath(u"D:\\a\\b\\..\\..\\..\\bug.txt", kExe), u"D:\\bug.txt");
  EXPECT_EQ(MakeAbsolutePath(u"\\\\srv\\share\\x\\..\\bug.txt", kExe), u"\\\\srv\\share\\bug.txt");
  // ".." never climbs above the share.
  EXPECT_EQ(MakeAbsolutePath(u"\\\\srv\\share\\..\\bug.txt", kExe), u"\\\\srv\\share\\bug.txt");
  EXPECT_EQ(NormalizePath(u"C:\\a\\\\b\\"), u"C:\\a\\b\\");
}

TEST(BugFilePaths, PartsAndParentFolders) {
  EXPECT_EQ(FileNamePart(u"C:\\a\\b.txt"), u"b.txt");
  EXPECT_EQ(DirectoryPart(u"C:\\a\\b.txt"), u"C:\\a\\");
  EXPECT_EQ(FileNamePart(u"b.txt"), u"b.txt");
  EXPECT_EQ(DirectoryPart(u"b.txt"), u"");
  EXPECT_EQ(FileBaseName(kExe), u"Tidewell");
  EXPECT_EQ(FileBaseName(u"C:\\x.y\\noext"), u"noext");
  EXPECT_EQ(ParentDirectories(u"C:\\a\\b\\f.txt"), (std::vector<std::u16string>{u"C:\\a\\", u"C:\\a\\b\\"}));
  EXPECT_EQ(ParentDirectories(u"\\\\srv\\share\\a\\f.txt"), (std::vector<std::u16string>{u"\\\\srv\\share\\a\\"}));
  EXPECT_TRUE(ParentDirectories(u"C:\\f.txt").empty());
}
