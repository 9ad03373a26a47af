// The command on files: the image replaced through a temporary file with its permissions kept,
// and every refusal an exit code 1 with one line on stderr, the image byte for byte as it was
// and no temporary file left behind.
#include "tests/tools/kxembed/SampleImage.h"
#include "tools/kxembed/EmbedCommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace kxembed {
namespace {

namespace fs = std::filesystem;
using kxembed_test::SampleImage;

class EmbedCommand : public ::testing::Test {
protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("kxembed_command_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  std::string PathOf(const std::string &name) const { return (FDir / name).string(); }
  std::string Write(const std::string &name, const std::vector<uint8_t> &bytes) const {
    std::ofstream(PathOf(name), std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return PathOf(name);
  }
  static std::vector<uint8_t> Read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  int Run(const std::vector<std::string> &args) {
    FErr.str("");
    return RunEmbedCommand(args, FErr);
  }
  std::string Err() const { return FErr.str(); }
  // Nothing beside the files a test wrote.
  size_t FileCount() const { return size_t(std::distance(fs::directory_iterator(FDir), fs::directory_iterator())); }

  fs::path FDir;
  std::ostringstream FErr;
};

TEST_F(EmbedCommand, ReplacesTheImageKeepingItsPermissions) {
  const std::string image = Write("App.exe", SampleImage().file);
  fs::permissions(image, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  const std::string settings = Write("settings.bin", {1, 2, 3});
  const std::string debug = Write("App.kes", std::vector<uint8_t>(300, 7));
  EXPECT_EQ(Run({image, "TKESTRELIX=" + settings, "TIDEWELLDEBUG=" + debug}), 0) << Err();
  EXPECT_EQ(Err(), "");
  const std::vector<uint8_t> after = Read(image);
  EXPECT_GT(after.size(), SampleImage().file.size());
  EXPECT_EQ(fs::status(image).permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  EXPECT_EQ(FileCount(), 3u); // no temporary file left
}

TEST_F(EmbedCommand, RefusalsLeaveTheImageAsItWas) {
  const std::string resource = Write("res.bin", {1, 2, 3});
  struct Case {
    const char *What;
    std::vector<uint8_t> Image;
    std::vector<std::string> Assignments;
    const char *Message;
  };
  SampleImage loop, signedImage, noRoom, truncated;
  loop.Entry(0x058, 1, 0x80000180u, 0x80000000u);
  signedImage.SetDirectory(4, 0xA00, 0x80);
  noRoom.Put<uint32_t>(noRoom.OptionalHeader() + 60, uint32_t(noRoom.SectionTable() + 80));
  truncated.file.resize(0x700);
  const std::vector<Case> cases = {
      {"a loop", loop.file, {"A=" + resource}, "loop"},
      {"a signed image", signedImage.file, {"A=" + resource}, "certificate"},
      {"no room", noRoom.file, {"A=" + resource}, "no room"},
      {"truncated", truncated.file, {"A=" + resource}, "truncated"},
      {"not an image", {'M', 'Z', 0, 0}, {"A=" + resource}, "not a PE image"},
      {"a bad name", SampleImage().file, {"TK-X=" + resource}, "bad resource name 'TK-X'"},
      {"a name too long", SampleImage().file, {std::string(65, 'N') + "=" + resource}, "bad resource name"},
      {"no file", SampleImage().file, {"A="}, "NAME=FILE"},
      {"no name", SampleImage().file, {"=" + resource}, "bad resource name"},
      {"a missing file", SampleImage().file, {"A=" + PathOf("missing.bin")}, "cannot read"},
      {"a directory as file", SampleImage().file, {"A=" + FDir.string()}, "cannot read"},
      {"a name twice", SampleImage().file, {"A=" + resource, "a=" + resource}, "given twice"},
  };
  for (const Case &c : cases) {
    const std::string image = Write("App.exe", c.Image);
    EXPECT_EQ(Run([&] {
                std::vector<std::string> args = {image};
                args.insert(args.end(), c.Assignments.begin(), c.Assignments.end());
                return args;
              }()),
              1)
        << c.What;
    const std::string err = Err();
    EXPECT_NE(err.find(c.Message), std::string::npos) << c.What << ": " << err;
    EXPECT_EQ(err.rfind("kxembed: ", 0), 0u) << c.What;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.What;
    EXPECT_EQ(Read(image), c.Image) << c.What;
    EXPECT_EQ(FileCount(), 2u) << c.What;
  }
}

TEST_F(EmbedCommand, AFileOverTheLimitIsRefusedUnread) {
  const std::string image = Write("App.exe", SampleImage().file);
  const std::string big = Write("big.bin", {});
  fs::resize_file(big, kMaxResourceFileSize + 1); // sparse: nothing to read is the point
  EXPECT_EQ(Run({image, "TIDEWELLDEBUG=" + big}), 1);
  EXPECT_NE(Err().find("larger than 256 MiB"), std::string::npos) << Err();
  EXPECT_EQ(Read(image), SampleImage().file);
}

TEST_F(EmbedCommand, AnUnwritableTemporaryFileLeavesTheImage) {
  const std::string image = Write("App.exe", SampleImage().file);
  const std::string resource = Write("res.bin", {1});
  fs::create_directory(image + ".kxembed.tmp"); // the temporary file cannot be made
  EXPECT_EQ(Run({image, "A=" + resource}), 1);
  EXPECT_NE(Err().find("cannot write"), std::string::npos) << Err();
  EXPECT_EQ(Read(image), SampleImage().file);
  EXPECT_TRUE(fs::is_directory(image + ".kxembed.tmp"));
  EXPECT_EQ(Run({PathOf("missing.exe"), "A=" + resource}), 1);
  EXPECT_NE(Err().find("cannot read"), std::string::npos) << Err();
}

TEST_F(EmbedCommand, UsageWithoutAResource) {
  EXPECT_EQ(Run({}), 2);
  EXPECT_EQ(Run({PathOf("App.exe")}), 2);
  EXPECT_NE(Err().find("usage: kxembed IMAGE NAME=FILE"), std::string::npos);
}

} // namespace
} // namespace kxembed
