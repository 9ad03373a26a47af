// The modules section: which regions of an address space start a module, the version text and
// the column layout of the lines.
#include "ModuleList.h"

#include <gtest/gtest.h>

#include <map>

namespace kx {
namespace {

// An address space given as a list of regions in address order.
class FakeAddressSpace : public IKXModuleSource {
public:
  void Region(uint64_t base, uint64_t size, uint64_t allocationBase, bool committed = true) {
    FRegions.push_back({base, allocationBase, size, committed});
  }
  // An allocation of three regions (as an image with code, data and resources has).
  void Image(uint64_t base, const std::u16string &file) {
    Region(base, 0x1000, base);
    Region(base + 0x1000, 0x3000, base);
    Region(base + 0x4000, 0x1000, base);
    files[base] = file;
  }

  bool QueryRegion(uint64_t address, KXMemoryRegion &region) override {
    ++queries;
    for (const KXMemoryRegion &r : FRegions)
      if (address >= r.base && address - r.base < r.size) {
        region = r;
        return true;
      }
    return false;
  }
  std::u16string ModuleFileName(uint64_t base) override {
    auto it = files.find(base);
    return it == files.end() ? std::u16string() : it->second;
  }
  std::optional<KXFileVersion> FileVersion(const std::u16string &fullName) override {
    auto it = versions.find(fullName);
    if (it == versions.end())
      return std::nullopt;
    return it->second;
  }

  std::map<uint64_t, std::u16string> files;
  std::map<std::u16string, KXFileVersion> versions;
  int queries = 0;

private:
  std::vector<KXMemoryRegion> FRegions;
};

TEST(ModuleWalk, OneLinePerAllocationAndTwoForAModuleMappedTwice) {
  FakeAddressSpace space;
  space.Region(0, 0x10000, 0, false); // free
  space.Image(0x10000, u"C:\\Program Files\\Tidewell\\Tidewell.exe");
  space.Region(0x15000, 0xb000, 0, false);
  space.Image(0x20000, u"C:\\Windows\\system32\\shared.dll");
  space.Image(0x25000, u"C:\\Windows\\system32\\shared.dll"); // the same file, mapped again right behind
  space.versions[u"C:\\Windows\\system32\\shared.dll"] = KXFileVersion{{6, 1, 7601, 17514}, ""};

  std::vector<KXModuleEntry> modules = CollectModules(space);
  ASSERT_EQ(modules.size(), 3u);
  EXPECT_EQ(modules[0].address, 0x10000u);
  EXPECT_EQ(modules[0].fileName, u"Tidewell.exe");
  EXPECT_EQ(modules[0].path, u"C:\\Program Files\\Tidewell");
  EXPECT_EQ(modules[0].version, u"");
  EXPECT_EQ(modules[1].address, 0x20000u);
  EXPECT_EQ(modules[2].address, 0x25000u);
  EXPECT_EQ(modules[1].fileName, u"shared.dll");
  EXPECT_EQ(modules[2].fileName, u"shared.dll");
  EXPECT_EQ(modules[2].version, u"6.1.7601.17514");
}

TEST(ModuleWalk, RegionsThatDoNotStartAModuleAreLeftOut) {
  FakeAddressSpace space;
  space.Region(0, 0x10000, 0, false);
  // An allocation whose first region is only reserved: its committed regions start nothing.
  space.Region(0x10000, 0x1000, 0x10000, false);
  space.Region(0x11000, 0x1000, 0x10000, true);
  space.files[0x10000] = u"C:\\reserved.dll";
  space.files[0x11000] = u"C:\\inner.dll";
  // Committed memory that is no module (heap, stacks): no file name.
  space.Region(0x12000, 0x4000, 0x12000, true);
  // A module whose name has no folder.
  space.Region(0x16000, 0x1000, 0x16000, true);
  space.files[0x16000] = u"bare.dll";
  std::vector<KXModuleEntry> modules = CollectModules(space);
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules[0].fileName, u"bare.dll");
  EXPECT_EQ(modules[0].path, u"");
}

TEST(ModuleWalk, EndsAtTheEndOfTheAddressSpaceAndAtEmptyOrWrappingRegions) {
  FakeAddressSpace empty;
  EXPECT_TRUE(CollectModules(empty).empty());
  EXPECT_EQ(empty.queries, 1);

  FakeAddressSpace zeroSized;
  zeroSized.Region(0, 0, 0, false);
  EXPECT_TRUE(CollectModules(zeroSized).empty());
  EXPECT_EQ(zeroSized.queries, 1);

  FakeAddressSpace top;
  top.Region(0, 0xFFFFFFFFFFFF0000ull, 0, false);
  top.Region(0xFFFFFFFFFFFF0000ull, 0x10000, 0xFFFFFFFFFFFF0000ull, true);
  top.files[0xFFFFFFFFFFFF0000ull] = u"C:\\top.dll";
  std::vector<KXModuleEntry> modules = CollectModules(top);
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules[0].fileName, u"top.dll");
  EXPECT_EQ(top.queries, 2);
}

TEST(ModuleVersion, FourPartsElseTheTrimmedVersionString) {
  EXPECT_EQ(ModuleVersionText(KXFileVersion{{1, 0, 0, 12}, "9.9"}), u"1.0.0.12");
  EXPECT_EQ(ModuleVersionText(KXFileVersion{{0, 0, 0, 1}, "9.9"}), u"0.0.0.1");
  EXPECT_EQ(ModuleVersionText(KXFileVersion{{0, 0, 0, 0}, " \t2.1 beta \r\n"}), u"2.1 beta");
  EXPECT_EQ(ModuleVersionText(KXFileVersion{}), u"");
  EXPECT_EQ(ModuleVersionText(std::nullopt), u"");
}

TEST(ModuleLines, ColumnsArePaddedToTheLongestNameAndVersionPlusOne) {
  std::vector<KXModuleEntry> modules = {
      {0x00400000, u"Tidewell.exe", u"C:\\Program Files\\Tidewell", u"1.0.0.0"},
      {0x7c900000, u"ntdll.dll", u"C:\\WINDOWS\\system32", u"5.1.2600.5512"},
      {0x10000000, u"plain.dll", u"C:\\x", u""},
  };
  EXPECT_EQ(ModuleListText(modules), u"00400000 Tidewell.exe 1.0.0.0       C:\\Program Files\\Tidewell\r\n"
                                     u"7c900000 ntdll.dll    5.1.2600.5512 C:\\WINDOWS\\system32\r\n"
                                     u"10000000 plain.dll                  C:\\x");
  EXPECT_EQ(ModuleListText({{0x1000, u"a.dll", u"C:", u""}}), u"00001000 a.dll  C:");
  EXPECT_EQ(ModuleListText({}), u"");
}

} // namespace
} // namespace kx
