// kxembed on a copy of the product as linked (TIDEWELL_DEBUGINFO_EXE): both resources are found
// by the reporter's reader and by a loader-style search, every resource the exe had still loads
// with its bytes, the section table stays consistent, a rerun keeps the section count, and the
// checksum follows the linker's. Skipped when the exe is not there.
#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/base/pe/PeImage.h"
#include "tests/tools/kxembed/LoaderSearch.h"
#include "tools/kxembed/EmbedCommand.h"
#include "tools/kxembed/PeChecksum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include <unistd.h>

namespace kxembed {
namespace {

namespace fs = std::filesystem;
using debuginfo::PeImage;
using debuginfo::PeResource;

std::string ExePath() {
  const char *env = std::getenv("TIDEWELL_DEBUGINFO_EXE");
  return env && *env ? env : TIDEWELL_DEBUGINFO_EXE;
}

std::vector<uint8_t> ReadAll(const fs::path &path) {
  std::vector<uint8_t> bytes(fs::file_size(path));
  std::ifstream(path, std::ios::binary).read(reinterpret_cast<char *>(bytes.data()), std::streamsize(bytes.size()));
  return bytes;
}

void WriteAll(const fs::path &path, const std::vector<uint8_t> &bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t &b : bytes)
    b = uint8_t(random());
  return bytes;
}

std::string Key(const debuginfo::PeResourceName &n) {
  return n.IsString ? std::string(n.String.begin(), n.String.end()) : "#" + std::to_string(n.Id);
}
kxembed_test::LoaderKey LoaderKeyOf(const debuginfo::PeResourceName &n) {
  return n.IsString ? kxembed_test::LoaderKey(n.String) : kxembed_test::LoaderKey(n.Id);
}

// Every resource of the image, "type/name/language" -> bytes.
std::map<std::string, std::vector<uint8_t>> Resources(const std::vector<uint8_t> &file) {
  std::map<std::string, std::vector<uint8_t>> out;
  std::optional<PeImage> pe = PeImage::Parse(file.data(), file.size());
  if (!pe)
    return out;
  const debuginfo::PeFileRvas rvas(*pe, file);
  debuginfo::PeResourceTree tree = debuginfo::ReadResources(rvas, pe->Directory(debuginfo::kDirectoryResource).first);
  EXPECT_EQ(tree.Error, "");
  for (const PeResource &r : tree.Resources) {
    std::vector<uint8_t> bytes(r.DataSize);
    EXPECT_TRUE(rvas.Read(r.DataRva, bytes.data(), bytes.size())) << Key(r.Name);
    // The loader finds it too, with the same bytes.
    EXPECT_EQ(kxembed_test::LoaderFindResource(file, LoaderKeyOf(r.Type), LoaderKeyOf(r.Name), r.Language.Id), bytes)
        << Key(r.Type) << "/" << Key(r.Name);
    out[Key(r.Type) + "/" + Key(r.Name) + "/" + Key(r.Language)] = std::move(bytes);
  }
  return out;
}

std::optional<std::vector<uint8_t>> Found(const std::vector<uint8_t> &file, const char *name) {
  std::optional<PeImage> pe = PeImage::Parse(file.data(), file.size());
  auto where = pe ? pe->FindResourceData(file.data(), file.size(), debuginfo::kResourceTypeRcData, name) : std::nullopt;
  if (!where)
    return std::nullopt;
  return std::vector<uint8_t>(file.begin() + where->first, file.begin() + where->first + where->second);
}

// No two sections overlap in memory or in the file, every one lies inside SizeOfImage and its raw
// data inside the file, in ascending address order.
void ExpectConsistentSections(const std::vector<uint8_t> &file) {
  std::optional<PeImage> pe = PeImage::Parse(file.data(), file.size());
  ASSERT_TRUE(pe);
  EXPECT_EQ(pe->SizeOfImage % pe->SectionAlignment, 0u);
  uint64_t lastEnd = pe->SizeOfHeaders;
  std::vector<std::pair<uint64_t, uint64_t>> raw;
  for (const debuginfo::PeSection &s : pe->Sections) {
    const uint64_t end = uint64_t(s.VirtualAddress) + std::max(s.VirtualSize, s.SizeOfRawData);
    EXPECT_GE(s.VirtualAddress, lastEnd) << s.Name;
    EXPECT_EQ(s.VirtualAddress % pe->SectionAlignment, 0u) << s.Name;
    EXPECT_LE(end, pe->SizeOfImage) << s.Name;
    lastEnd = end;
    if (s.SizeOfRawData) {
      EXPECT_LE(uint64_t(s.PointerToRawData) + s.SizeOfRawData, file.size()) << s.Name;
      EXPECT_GE(s.PointerToRawData, pe->SizeOfHeaders) << s.Name;
      raw.emplace_back(s.PointerToRawData, uint64_t(s.PointerToRawData) + s.SizeOfRawData);
    }
  }
  std::sort(raw.begin(), raw.end());
  for (size_t i = 1; i < raw.size(); ++i)
    EXPECT_LE(raw[i - 1].second, raw[i].first);
}

class EmbedExe : public ::testing::Test {
protected:
  void SetUp() override {
    if (!fs::exists(ExePath()))
      GTEST_SKIP() << "no executable at " << ExePath() << " (set TIDEWELL_DEBUGINFO_EXE)";
    FDir = fs::temp_directory_path() / ("kxembed_exe_" + std::to_string(getpid()));
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    FImage = FDir / "Tidewell.exe";
    fs::copy_file(ExePath(), FImage);
  }
  void TearDown() override {
    if (!FDir.empty())
      fs::remove_all(FDir);
  }
  int Embed(const std::vector<std::pair<std::string, std::vector<uint8_t>>> &resources) {
    std::vector<std::string> args = {FImage.string()};
    for (const auto &[name, bytes] : resources) {
      const fs::path file = FDir / (name + ".bin");
      WriteAll(file, bytes);
      args.push_back(name + "=" + file.string());
    }
    std::ostringstream err;
    const int code = RunEmbedCommand(args, err);
    EXPECT_EQ(err.str(), "");
    return code;
  }

  fs::path FDir, FImage;
};

TEST_F(EmbedExe, BothResourcesInAndEverythingElseKept) {
  const std::vector<uint8_t> before = ReadAll(FImage);
  std::optional<PeImage> pe = PeImage::Parse(before.data(), before.size());
  ASSERT_TRUE(pe);
  std::map<std::string, std::vector<uint8_t>> old = Resources(before);
  ASSERT_GT(old.size(), 5u); // bitmaps, the settings, the forms, the manifest

  const std::vector<uint8_t> settings = RandomBytes(3001, 1), container = RandomBytes(200000, 2);
  ASSERT_EQ(Embed({{"TKESTRELIX", settings}, {kDebugInfoResourceName, container}}), 0);
  const std::vector<uint8_t> after = ReadAll(FImage);
  EXPECT_EQ(Found(after, "TKESTRELIX"), settings);
  EXPECT_EQ(Found(after, kDebugInfoResourceName), container);

  // What the exe had stays, byte for byte and findable; only the settings (language 0x409 there)
  // gave way to the new ones (language neutral).
  std::map<std::string, std::vector<uint8_t>> now = Resources(after);
  for (auto &[key, bytes] : old) {
    if (key.rfind("#10/TKESTRELIX/", 0) == 0) {
      EXPECT_EQ(now.count(key), 0u) << key;
      continue;
    }
    ASSERT_EQ(now.count(key), 1u) << key;
    EXPECT_EQ(now[key], bytes) << key;
  }
  EXPECT_EQ(now["#10/TKESTRELIX/#0"], settings);
  EXPECT_EQ(now["#10/TIDEWELLDEBUG/#0"], container);

  // The code and every section before stay where they were.
  std::optional<PeImage> pe2 = PeImage::Parse(after.data(), after.size());
  ASSERT_TRUE(pe2);
  ASSERT_EQ(pe2->Sections.size(), pe->Sections.size() + 1);
  EXPECT_EQ(pe2->Sections.back().Name, ".kxrsrc");
  EXPECT_TRUE(std::equal(before.begin() + pe->SizeOfHeaders, before.end(), after.begin() + pe->SizeOfHeaders));
  ExpectConsistentSections(after);
}

TEST_F(EmbedExe, ARerunReplacesAndKeepsTheSectionCount) {
  ASSERT_EQ(Embed({{"TKESTRELIX", RandomBytes(100, 3)}, {"TIDEWELLDEBUG", RandomBytes(70000, 4)}}), 0);
  const std::vector<uint8_t> first = ReadAll(FImage);
  const std::vector<uint8_t> settings = RandomBytes(4000, 5);
  ASSERT_EQ(Embed({{"tkestrelix", settings}}), 0);
  const std::vector<uint8_t> second = ReadAll(FImage);
  std::optional<PeImage> a = PeImage::Parse(first.data(), first.size());
  std::optional<PeImage> b = PeImage::Parse(second.data(), second.size());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(b->Sections.size(), a->Sections.size());
  EXPECT_EQ(b->Sections.back().PointerToRawData, a->Sections.back().PointerToRawData);
  EXPECT_EQ(Found(second, "TKESTRELIX"), settings);
  EXPECT_EQ(Found(second, "TIDEWELLDEBUG"), RandomBytes(70000, 4));
  ExpectConsistentSections(second);
  std::map<std::string, std::vector<uint8_t>> firstResources = Resources(first), secondResources = Resources(second);
  firstResources["#10/TKESTRELIX/#0"] = settings;
  EXPECT_EQ(secondResources, firstResources);
}

TEST_F(EmbedExe, TheChecksumFollowsTheLinkers) {
  const std::vector<uint8_t> before = ReadAll(FImage);
  std::optional<PeImage> pe = PeImage::Parse(before.data(), before.size());
  ASSERT_TRUE(pe);
  const uint64_t field = pe->HeaderFields().CheckSum;
  if (pe->CheckSum == 0)
    GTEST_SKIP() << "the exe was linked without a checksum";
  EXPECT_EQ(PeChecksum(before, field), pe->CheckSum); // the same sum as the linker's
  ASSERT_EQ(Embed({{"TKESTRELIX", RandomBytes(999, 6)}}), 0);
  const std::vector<uint8_t> after = ReadAll(FImage);
  std::optional<PeImage> pe2 = PeImage::Parse(after.data(), after.size());
  ASSERT_TRUE(pe2);
  EXPECT_NE(pe2->CheckSum, pe->CheckSum);
  EXPECT_EQ(pe2->CheckSum, PeChecksum(after, field));
}

} // namespace
} // namespace kxembed
