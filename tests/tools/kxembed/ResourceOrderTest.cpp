// The directory kxembed lays out: entries in the order the loader's binary search needs (checked
// against a search written from the loader's rules, not through the tool's own comparison), the
// linker's layout and alignment, kept data entries unchanged; and the names the tool accepts.
#include "crash/base/pe/PeImage.h"
#include "tests/tools/kxembed/LoaderSearch.h"
#include "tools/kxembed/ResourceSection.h"
#include "tools/kxembed/ResourceTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kxembed {
namespace {

using debuginfo::PeResourceName;
using kxembed_test::LoaderFindResource;

constexpr uint32_t kSectionRva = 0x5000;

// The section's bytes read by RVA, as the loader maps them.
class SectionAt : public debuginfo::PeSource {
public:
  explicit SectionAt(const std::vector<uint8_t> &bytes) : FBytes(bytes) {}
  bool Read(uint64_t rva, void *out, size_t size) const override {
    return rva >= kSectionRva && debuginfo::PeSpan(FBytes).Read(rva - kSectionRva, out, size);
  }

private:
  const std::vector<uint8_t> &FBytes;
};

PeResourceName Id(uint32_t id) { return {false, id, {}}; }
PeResourceName Str(const std::u16string &s) { return {true, 0, s}; }

ResourceLeaf NewLeaf(PeResourceName type, PeResourceName name, uint32_t language, size_t size, uint8_t fill) {
  ResourceLeaf leaf;
  leaf.Type = std::move(type);
  leaf.Name = std::move(name);
  leaf.Language = Id(language);
  leaf.NewData = std::vector<uint8_t>(size, fill);
  return leaf;
}

std::string Narrow(const PeResourceName &n) {
  return n.IsString ? std::string(n.String.begin(), n.String.end()) : "#" + std::to_string(n.Id);
}

TEST(ResourceOrder, EntriesAreInTheOrderTheLoaderSearches) {
  // Names that order differently under a careless comparison: a prefix and its extensions, '_'
  // (after 'Z', before 'a'), lower case stored next to upper case, digits; ids out of order.
  const std::vector<std::u16string> names = {u"ZETA", u"A_B", u"AB", u"B1", u"A", u"_X", u"AAB", u"B0", u"a_c"};
  std::vector<ResourceLeaf> leaves;
  uint8_t fill = 1;
  for (const std::u16string &n : names)
    leaves.push_back(NewLeaf(Id(10), Str(n), 0, 3 + fill, fill)), ++fill;
  for (uint32_t id : {300u, 5u, 24u})
    leaves.push_back(NewLeaf(Id(10), Id(id), 0x409, 5, uint8_t(id)));
  leaves.push_back(NewLeaf(Id(24), Id(1), 0x409, 7, 0x24));
  leaves.push_back(NewLeaf(Str(u"MYTYPE"), Id(7), 0, 9, 0x77));
  leaves.push_back(NewLeaf(Id(2), Str(u"LOGO"), 0x407, 2, 0x41));
  leaves.push_back(NewLeaf(Id(2), Str(u"LOGO"), 0x409, 2, 0x42));
  leaves.push_back(NewLeaf(Id(2), Str(u"LOGO"), 0, 2, 0x40));
  const std::vector<uint8_t> section = BuildResourceSection(leaves, kSectionRva);
  const SectionAt image(section);

  debuginfo::PeResourceTree tree = debuginfo::ReadResources(image, kSectionRva);
  ASSERT_EQ(tree.Error, "");
  std::vector<std::string> order;
  for (const debuginfo::PeResource &r : tree.Resources)
    order.push_back(Narrow(r.Type) + "/" + Narrow(r.Name) + "/" + Narrow(r.Language));
  const std::vector<std::string> expected = {
      "MYTYPE/#7/#0",   "#2/LOGO/#0",     "#2/LOGO/#1031",  "#2/LOGO/#1033",   "#10/A/#0",
      "#10/AAB/#0",     "#10/AB/#0",      "#10/A_B/#0",     "#10/a_c/#0",      "#10/B0/#0",
      "#10/B1/#0",      "#10/ZETA/#0",    "#10/_X/#0",      "#10/#5/#1033",    "#10/#24/#1033",
      "#10/#300/#1033", "#24/#1/#1033"};
  EXPECT_EQ(order, expected);

  // Every leaf is found by binary search, with its own bytes; names also when asked in lower case.
  for (const ResourceLeaf &leaf : leaves) {
    const kxembed_test::LoaderKey type = leaf.Type.IsString ? kxembed_test::LoaderKey(leaf.Type.String)
                                                            : kxembed_test::LoaderKey(leaf.Type.Id);
    const kxembed_test::LoaderKey name = leaf.Name.IsString ? kxembed_test::LoaderKey(leaf.Name.String)
                                                            : kxembed_test::LoaderKey(leaf.Name.Id);
    EXPECT_EQ(LoaderFindResource(image, kSectionRva, type, name, leaf.Language.Id), leaf.NewData)
        << Narrow(leaf.Type) << "/" << Narrow(leaf.Name) << "/" << leaf.Language.Id;
  }
  EXPECT_TRUE(LoaderFindResource(image, kSectionRva, 10u, u"zeta", 0));
  EXPECT_TRUE(LoaderFindResource(image, kSectionRva, 10u, u"a_B", 0));
  EXPECT_FALSE(LoaderFindResource(image, kSectionRva, 10u, u"A_", 0));
  EXPECT_FALSE(LoaderFindResource(image, kSectionRva, 10u, 6u, 0x409));
}

// Reads the directory's raw layout: where tables, data entries and names lie.
struct Layout {
  std::vector<uint32_t> Tables, DataEntries, Names;
  uint32_t TableEnd = 0, NameEnd = 0;

  void Walk(const std::vector<uint8_t> &s, uint32_t table) {
    Tables.push_back(table);
    const uint32_t count = uint32_t(s[table + 12] | s[table + 13] << 8) + uint32_t(s[table + 14] | s[table + 15] << 8);
    TableEnd = std::max(TableEnd, table + 16 + 8 * count);
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t name, target;
      std::memcpy(&name, &s[table + 16 + 8 * i], 4);
      std::memcpy(&target, &s[table + 20 + 8 * i], 4);
      if (name >> 31) {
        const uint32_t at = name & 0x7FFFFFFFu;
        Names.push_back(at);
        NameEnd = std::max(NameEnd, at + 2 + 2 * uint32_t(s[at] | s[at + 1] << 8));
      }
      if (target >> 31)
        Walk(s, target & 0x7FFFFFFFu);
      else
        DataEntries.push_back(target);
    }
  }
};

TEST(ResourceOrder, LayoutAndAlignmentOfALinker) {
  std::vector<ResourceLeaf> leaves;
  leaves.push_back(NewLeaf(Id(10), Str(u"ODD"), 0, 3, 0x33));      // 3 bytes: the next data moves on
  leaves.push_back(NewLeaf(Id(10), Str(u"ABCDE"), 0, 13, 0x13));   // a name of odd length
  leaves.push_back(NewLeaf(Str(u"T"), Str(u"N"), 0, 1, 0x01));
  ResourceLeaf kept;
  kept.Type = Id(2);
  kept.Name = Str(u"KEPT");
  kept.Language = Id(0x409);
  kept.DataRva = 0x2E44A0;
  kept.DataSize = 0x1028;
  kept.CodePage = 1252;
  leaves.push_back(kept);
  const std::vector<uint8_t> section = BuildResourceSection(leaves, kSectionRva);

  Layout layout;
  layout.Walk(section, 0);
  ASSERT_EQ(layout.DataEntries.size(), 4u);
  for (uint32_t t : layout.Tables)
    EXPECT_EQ(t % 4, 0u);
  for (uint32_t d : layout.DataEntries) {
    EXPECT_EQ(d % 4, 0u);
    EXPECT_GE(d, layout.TableEnd); // the tables first, then the data entries...
  }
  for (uint32_t n : layout.Names) {
    EXPECT_EQ(n % 2, 0u);
    EXPECT_GE(n, *std::max_element(layout.DataEntries.begin(), layout.DataEntries.end()) + 16); // ...then the names
  }

  const SectionAt image(section);
  debuginfo::PeResourceTree tree = debuginfo::ReadResources(image, kSectionRva);
  ASSERT_EQ(tree.Error, "");
  ASSERT_EQ(tree.Resources.size(), 4u);
  for (const debuginfo::PeResource &r : tree.Resources) {
    if (r.Name == Str(u"KEPT")) { // a kept resource points where it pointed
      EXPECT_EQ(r.DataRva, 0x2E44A0u);
      EXPECT_EQ(r.DataSize, 0x1028u);
      EXPECT_EQ(r.CodePage, 1252u);
      continue;
    }
    EXPECT_EQ(r.DataRva % 8, 0u) << Narrow(r.Name); // ...then the data, on 8 bytes
    EXPECT_GE(r.DataRva, kSectionRva + layout.NameEnd);
    EXPECT_LE(r.DataRva + r.DataSize, kSectionRva + section.size());
  }
  EXPECT_EQ(section.size() % 8, 0u);
}

TEST(ResourceTree, NamesTheToolAccepts) {
  for (const char *good : {"A", "TKESTRELIX", "tidewell_debug_2", "_", "0123"})
    EXPECT_TRUE(IsValidResourceName(good)) << good;
  EXPECT_TRUE(IsValidResourceName(std::string(64, 'X')));
  for (const char *bad : {"", "A-B", "A B", "A.B", "#1", "\xC3\x84", "A=B"})
    EXPECT_FALSE(IsValidResourceName(bad)) << bad;
  EXPECT_FALSE(IsValidResourceName(std::string(65, 'X')));
  EXPECT_FALSE(IsValidResourceName(std::string_view("A\0B", 3)));
  EXPECT_EQ(StoredResourceName("TideWell_debug9"), u"TIDEWELL_DEBUG9");
}

TEST(ResourceTree, PutReplacesEveryLanguageOfTheNameAndNothingElse) {
  std::vector<ResourceLeaf> leaves;
  leaves.push_back(NewLeaf(Id(10), Str(u"TKESTRELIX"), 0x409, 1, 1));
  leaves.push_back(NewLeaf(Id(10), Str(u"TKestrelix"), 0x407, 1, 2));
  leaves.push_back(NewLeaf(Id(10), Str(u"TKESTRELIX2"), 0, 1, 3));
  leaves.push_back(NewLeaf(Id(2), Str(u"TKESTRELIX"), 0, 1, 4));     // another type
  leaves.push_back(NewLeaf(Str(u"10"), Str(u"TKESTRELIX"), 0, 1, 5)); // a type named "10" is not RCDATA
  PutRcData(leaves, "tkestrelix", {9, 9});
  std::vector<uint8_t> fills;
  for (const ResourceLeaf &l : leaves)
    fills.push_back(l.NewData->front());
  EXPECT_EQ(fills, (std::vector<uint8_t>{3, 4, 5, 9}));
  EXPECT_EQ(leaves.back().Name, Str(u"TKESTRELIX"));
  EXPECT_EQ(leaves.back().Language, Id(0));
  EXPECT_EQ(leaves.back().Type, Id(10));
}

} // namespace
} // namespace kxembed
