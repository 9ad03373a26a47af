// kxembed on small images built here (PE32 and PE32+): what it adds, replaces and keeps, the
// section and headers it writes, a rerun, the checksum; images and directories it must refuse
// (and the PE reader's resource walk on crafted directories: no hang, no runaway work).
#include "crash/base/pe/PeImage.h"
#include "tests/tools/kxembed/LoaderSearch.h"
#include "tests/tools/kxembed/SampleImage.h"
#include "tools/kxembed/EmbedError.h"
#include "tools/kxembed/EmbedResources.h"
#include "tools/kxembed/PeChecksum.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kxembed {
namespace {

using debuginfo::PeImage;
using debuginfo::PeResourceName;
using kxembed_test::LoaderFindResource;
using kxembed_test::SampleImage;

constexpr uint32_t kHighBit = 0x80000000u;

const std::vector<uint8_t> kSettings = {'S', 'E', 'T', 1, 2, 3, 4, 5, 6, 7, 8, 9};
const std::vector<uint8_t> kDebugInfo(1000, 0xDB);

PeImage Parsed(const std::vector<uint8_t> &file) {
  std::optional<PeImage> pe = PeImage::Parse(file.data(), file.size());
  EXPECT_TRUE(pe);
  return pe ? *pe : PeImage{};
}

std::vector<debuginfo::PeResource> Walk(const std::vector<uint8_t> &file) {
  const PeImage pe = Parsed(file);
  debuginfo::PeResourceTree tree =
      debuginfo::ReadResources(debuginfo::PeFileRvas(pe, file), pe.Directory(debuginfo::kDirectoryResource).first);
  EXPECT_EQ(tree.Error, "");
  return tree.Resources;
}

// The resource's bytes through FindResourceData, as the reporter reads them from a file.
std::optional<std::vector<uint8_t>> Found(const std::vector<uint8_t> &file, const char *name) {
  const PeImage pe = Parsed(file);
  auto where = pe.FindResourceData(file.data(), file.size(), debuginfo::kResourceTypeRcData, name);
  if (!where)
    return std::nullopt;
  return std::vector<uint8_t>(file.begin() + where->first, file.begin() + where->first + where->second);
}

std::vector<uint8_t> Embed(const std::vector<uint8_t> &file) {
  return EmbedResources(file, {{"TKESTRELIX", kSettings}, {"TideWellDebug", kDebugInfo}});
}

uint32_t Field32(const std::vector<uint8_t> &file, size_t at) {
  return uint32_t(file[at] | file[at + 1] << 8 | file[at + 2] << 16 | uint32_t(file[at + 3]) << 24);
}

TEST(EmbedSample, AddsReplacesAndKeepsTheRest) {
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    SampleImage sample(plus);
    const std::vector<uint8_t> after = Embed(sample.file);

    // The image as it was, up to where the headers changed.
    EXPECT_TRUE(std::equal(sample.file.begin() + 0x400, sample.file.end(), after.begin() + 0x400));
    const PeImage pe = Parsed(after);
    ASSERT_EQ(pe.Sections.size(), 3u);
    const debuginfo::PeSection &s = pe.Sections[2];
    EXPECT_EQ(s.Name, ".kxrsrc");
    EXPECT_EQ(s.Characteristics, 0x40000040u);
    EXPECT_EQ(s.VirtualAddress, 0x3000u);        // after .rsrc (0x2000 + 0x400), on SectionAlignment
    EXPECT_EQ(s.PointerToRawData, 0xA00u);       // the end of the file
    EXPECT_EQ(s.SizeOfRawData % 0x200, 0u);
    EXPECT_EQ(after.size(), s.PointerToRawData + s.SizeOfRawData);
    EXPECT_EQ(pe.SizeOfImage, (0x3000 + s.VirtualSize + 0xFFF) & ~0xFFFu);
    EXPECT_EQ(pe.SizeOfInitializedData, 0x400 + s.SizeOfRawData);
    EXPECT_EQ(pe.Directory(debuginfo::kDirectoryResource), std::make_pair(0x3000u, s.VirtualSize));

    EXPECT_EQ(Found(after, "TKESTRELIX"), kSettings);
    EXPECT_EQ(Found(after, "TIDEWELLDEBUG"), kDebugInfo);
    EXPECT_EQ(LoaderFindResource(after, 10u, u"TKESTRELIX", 0), kSettings);
    EXPECT_EQ(LoaderFindResource(after, 10u, u"TKESTRELIX", 0x409), std::nullopt); // replaced
    EXPECT_EQ(LoaderFindResource(after, 10u, u"TIDEWELLDEBUG", 0), kDebugInfo);
    // The resources that were there still load, their data still in the old section.
    EXPECT_EQ(LoaderFindResource(after, u"MYTYPE", 7u, 0x409), std::vector<uint8_t>(16, 0x71));
    EXPECT_EQ(LoaderFindResource(after, 2u, u"LOGO", 0x409), std::vector<uint8_t>(32, 0x22));
    EXPECT_EQ(LoaderFindResource(after, 10u, u"ZFORM", 0x409), std::vector<uint8_t>(8, 0xF0));
    EXPECT_EQ(Walk(after).size(), 5u);
    for (const debuginfo::PeResource &r : Walk(after)) {
      if (r.Name == PeResourceName{true, 0, u"ZFORM"}) {
        EXPECT_EQ(r.DataRva, SampleImage::kRsrcRva + 0x280);
      }
    }
  }
}

TEST(EmbedSample, ARerunRebuildsItsSectionInPlace) {
  SampleImage sample;
  const std::vector<uint8_t> first = Embed(sample.file);
  const std::vector<uint8_t> newSettings(5000, 0x5E);
  std::vector<uint8_t> second = EmbedResources(first, {{"tkestrelix", newSettings}});
  PeImage pe = Parsed(second);
  ASSERT_EQ(pe.Sections.size(), 3u);
  EXPECT_EQ(pe.Sections[2].PointerToRawData, 0xA00u);
  EXPECT_EQ(pe.Sections[2].VirtualAddress, 0x3000u);
  EXPECT_EQ(second.size(), 0xA00 + pe.Sections[2].SizeOfRawData);
  EXPECT_GT(pe.Sections[2].SizeOfRawData, 5000u);
  EXPECT_EQ(pe.SizeOfInitializedData, 0x400 + pe.Sections[2].SizeOfRawData);
  EXPECT_EQ(Found(second, "TKESTRELIX"), newSettings);
  EXPECT_EQ(Found(second, "TIDEWELLDEBUG"), kDebugInfo); // its data lay in the section rebuilt
  EXPECT_EQ(LoaderFindResource(second, 2u, u"LOGO", 0x409), std::vector<uint8_t>(32, 0x22));

  // Smaller again: the file shrinks with the section.
  std::vector<uint8_t> third = EmbedResources(second, {{"TKESTRELIX", kSettings}});
  EXPECT_EQ(third, first);
}

TEST(EmbedSample, AnOlderSectionThatNoLongerHoldsTheDirectoryStays) {
  SampleImage sample;
  std::vector<uint8_t> first = Embed(sample.file);
  // Someone pointed the directory back at .rsrc: our section holds no current data any more.
  sample.file = first;
  sample.SetDirectory(2, SampleImage::kRsrcRva, 0x400);
  const std::vector<uint8_t> second = EmbedResources(sample.file, {{"OTHER", {1}}});
  const PeImage after = Parsed(second);
  ASSERT_EQ(after.Sections.size(), 4u);
  EXPECT_EQ(after.Sections[3].Name, ".kxrsrc");
  EXPECT_TRUE(std::equal(first.begin() + 0x400, first.end(), second.begin() + 0x400));
  EXPECT_EQ(Found(second, "OTHER"), std::vector<uint8_t>{1});
  EXPECT_EQ(Found(second, "TKESTRELIX"), std::vector<uint8_t>(16, 0xA1));
}

TEST(EmbedSample, AnImageWithoutResources) {
  SampleImage sample(true);
  sample.SetDirectory(2, 0, 0);
  const std::vector<uint8_t> after = Embed(sample.file);
  EXPECT_EQ(Walk(after).size(), 2u);
  EXPECT_EQ(Found(after, "TIDEWELLDEBUG"), kDebugInfo);
  EXPECT_EQ(Found(after, "TKESTRELIX"), kSettings);
}

TEST(Checksum, KnownSumsAndTheField) {
  const std::vector<uint8_t> five = {0x01, 0x02, 0x03, 0x04, 0x05};
  EXPECT_EQ(PeChecksum(five, 100), 0x0201u + 0x0403u + 0x0005u + 5u);
  const std::vector<uint8_t> carry = {0xFF, 0xFF, 0x02, 0x00}; // 0xFFFF + 2 folds to 2
  EXPECT_EQ(PeChecksum(carry, 100), 2u + 4u);
  const std::vector<uint8_t> field = {0x10, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x20, 0x00};
  EXPECT_EQ(PeChecksum(field, 2), 0x30u + 8u); // the 4 bytes at 2 count as 0
  EXPECT_EQ(PeChecksum(field, 1), 0x10u + 0xDD00u + 0x20u + 8u); // also where the field starts on an odd byte
}

TEST(EmbedSample, TheChecksumIsRecomputedWhenTheImageHasOne) {
  SampleImage withoutSum;
  std::vector<uint8_t> after = Embed(withoutSum.file);
  EXPECT_EQ(Field32(after, withoutSum.CheckSumField()), 0u);

  SampleImage withSum;
  withSum.Put<uint32_t>(withSum.CheckSumField(), PeChecksum(withSum.file, withSum.CheckSumField()));
  after = Embed(withSum.file);
  const uint32_t stored = Field32(after, withSum.CheckSumField());
  EXPECT_NE(stored, Field32(withSum.file, withSum.CheckSumField()));
  EXPECT_EQ(stored, PeChecksum(after, withSum.CheckSumField()));
}

struct BadImage {
  const char *What;
  std::function<void(SampleImage &)> Damage;
  const char *Message;
};

TEST(EmbedSample, RefusesImagesItCannotTakeWithAClearReason) {
  const std::vector<BadImage> cases = {
      {"no MZ", [](SampleImage &s) { s.file[0] = 'X'; }, "not a PE image"},
      {"cut in the DOS header", [](SampleImage &s) { s.file.resize(0x30); }, "not a PE image"},
      {"cut in the optional header", [](SampleImage &s) { s.file.resize(0xC0); }, "not a PE image"},
      {"cut in the section table", [](SampleImage &s) { s.file.resize(0x1A0); }, "not a PE image"},
      {"cut in the headers", [](SampleImage &s) { s.file.resize(0x300); }, "truncated"},
      {"cut in .text", [](SampleImage &s) { s.file.resize(0x500); }, "truncated"},
      {"cut in .rsrc", [](SampleImage &s) { s.file.resize(0x700); }, "truncated"},
      {"one byte short", [](SampleImage &s) { s.file.pop_back(); }, "truncated"},
      {"a loop back to the root", [](SampleImage &s) { s.Entry(0x058, 1, kHighBit | 0x180, kHighBit | 0x000); },
       "loop"},
      {"a loop back to a type table", [](SampleImage &s) { s.Entry(0x058, 1, kHighBit | 0x180, kHighBit | 0x058); },
       "loop"},
      {"a shared name table", [](SampleImage &s) { s.Entry(0x040, 0, kHighBit | 0x150, kHighBit | 0x0B0); },
       "reached twice"},
      {"nested below the language", [](SampleImage &s) { s.Entry(0x0B0, 0, 0x409, kHighBit | 0x0C8); },
       "nested deeper"},
      {"data at the type level", [](SampleImage &s) { s.Entry(0x000, 1, 2, 0x100); }, "data entry"},
      {"a table outside the image", [](SampleImage &s) { s.Entry(0x000, 1, 2, kHighBit | 0x7FFFFF00); },
       "outside the image"},
      {"entries past the section", [](SampleImage &s) { s.Table(0x0C8, 0, 200); }, "outside the image"},
      {"a name outside the image", [](SampleImage &s) { s.Entry(0x058, 0, kHighBit | 0x3FF, kHighBit | 0x0B0); },
       "name"},
      {"more entries than a directory has", [](SampleImage &s) { s.Table(0x000, 0xFFFF, 0xFFFF); }, "too many"},
      {"a directory outside every section", [](SampleImage &s) { s.SetDirectory(2, 0x9000, 0x100); }, "outside"},
      {"a certificate table", [](SampleImage &s) { s.SetDirectory(4, 0xA00, 0x100); }, "certificate"},
      {"headers without room",
       [](SampleImage &s) { s.Put<uint32_t>(s.OptionalHeader() + 60, uint32_t(s.SectionTable() + 80)); }, "no room"},
      {"something in the next slot", [](SampleImage &s) { s.file[s.SectionTable() + 80 + 39] = 1; }, "no room"},
      {"a section starting in the slot", [](SampleImage &s) { s.Put<uint32_t>(s.SectionTable() + 20, 0x1E0); },
       "no room"},
      {"a bad file alignment", [](SampleImage &s) { s.Put<uint32_t>(s.OptionalHeader() + 36, 0x300); },
       "alignment"},
      {"no resource directory entry", [](SampleImage &s) { s.Put<uint32_t>(s.Directories() - 4, 2); },
       "no resource directory"},
  };
  for (bool plus : {false, true}) {
    for (const BadImage &c : cases) {
      SampleImage sample(plus);
      c.Damage(sample);
      try {
        EmbedResources(sample.file, {{"TKESTRELIX", kSettings}});
        ADD_FAILURE() << c.What << ": accepted";
      } catch (const EmbedError &e) {
        EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << c.What << ": " << e.what();
      }
    }
  }
}

TEST(EmbedSample, RefusesABadName) {
  SampleImage sample;
  EXPECT_THROW(EmbedResources(sample.file, {{"TK-ESTRELIX", kSettings}}), EmbedError);
  EXPECT_THROW(EmbedResources(sample.file, {{"", kSettings}}), EmbedError);
  EXPECT_THROW(EmbedResources(sample.file, {{std::string(65, 'A'), kSettings}}), EmbedError);
}

TEST(ResourceWalk, ReadsTheTreeInItsOrder) {
  SampleImage sample(true);
  sample.Name(0x180, u"Z\u00C9RO"); // a name beyond ASCII, five code units like "ZFORM"
  const std::vector<debuginfo::PeResource> r = Walk(sample.file);
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].Type, (PeResourceName{true, 0, u"MYTYPE"}));
  EXPECT_EQ(r[0].Name, (PeResourceName{false, 7, {}}));
  EXPECT_EQ(r[0].Language, (PeResourceName{false, 0x409, {}}));
  EXPECT_EQ(r[0].DataRva, 0x2200u);
  EXPECT_EQ(r[0].DataSize, 16u);
  EXPECT_EQ(r[1].Type, (PeResourceName{false, 2, {}}));
  EXPECT_EQ(r[1].Name, (PeResourceName{true, 0, u"LOGO"}));
  EXPECT_EQ(r[3].Name, (PeResourceName{true, 0, u"Z\u00C9RO"}));
  EXPECT_EQ(r[3].DataRva, 0x2280u);
  EXPECT_EQ(r[3].DataSize, 8u);
}

TEST(ResourceWalk, CraftedDirectoriesEndQuickly) {
  // A loop, through FindResourceData as the reporter calls it: nothing found, no hang.
  SampleImage loop;
  loop.Entry(0x0B0, 0, 0x409, kHighBit | 0x000);
  const PeImage pe = Parsed(loop.file);
  EXPECT_FALSE(pe.FindResourceData(loop.file.data(), loop.file.size(), 10, "TKESTRELIX"));
  SampleImage sound;
  EXPECT_TRUE(Parsed(sound.file).FindResourceData(sound.file.data(), sound.file.size(), 10, "tkestrelix"));

  // 40000 types, each with its own name table: past 65536 entries in all the walk stops.
  constexpr uint32_t kTypes = 40000, kTypeTables = 0x50000, kNameTables = kTypeTables + 24 * kTypes;
  SampleImage many(false, (kNameTables + 16 * kTypes + 0x1FF) & ~0x1FFu);
  many.Table(0, 0, kTypes);
  for (uint32_t i = 0; i < kTypes; ++i) {
    many.Entry(0, i, i + 1, kHighBit | (kTypeTables + 24 * i));
    many.Table(kTypeTables + 24 * i, 0, 1);
    many.Entry(kTypeTables + 24 * i, 0, 1, kHighBit | (kNameTables + 16 * i));
  }
  const PeImage manyPe = Parsed(many.file);
  debuginfo::PeResourceTree tree = debuginfo::ReadResources(debuginfo::PeFileRvas(manyPe, many.file), 0x2000);
  EXPECT_NE(tree.Error.find("too many"), std::string::npos) << tree.Error;

  // Twenty languages named by one name of 65535 code units: past 1 Mi code units the walk stops.
  constexpr uint32_t kLongName = 0x1000;
  SampleImage names(false, 0x21000);
  names.Table(0x0C8, 20, 0);
  for (uint32_t i = 0; i < 20; ++i)
    names.Entry(0x0C8, i, kHighBit | kLongName, 0x130);
  names.Name(kLongName, std::u16string(65535, u'N'));
  const PeImage namesPe = Parsed(names.file);
  tree = debuginfo::ReadResources(debuginfo::PeFileRvas(namesPe, names.file), 0x2000);
  EXPECT_NE(tree.Error.find("too long"), std::string::npos) << tree.Error;
  // What came before, and the language names within the limit (the four short names count too).
  EXPECT_EQ(tree.Resources.size(), 3u + 15u);
}

} // namespace
} // namespace kxembed
