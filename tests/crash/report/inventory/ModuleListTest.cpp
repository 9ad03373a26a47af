// The modules section: which regions of an address space start a module, the version text and
// the column layout.
#include "crash/report/inventory/ModuleList.h"

#include <gtest/gtest.h>

#include <map>

namespace kx {
namespace {

// An address space as a list of regions; images are one allocation of three regions.
struct FakeAddressSpace : IKXModuleSource {
  std::vector<KXMemoryRegion> regions;
  std::map<uint64_t, std::u16string> files;
  int queries = 0;

  void Region(uint64_t base, uint64_t size, uint64_t allocation, bool committed = true) {
    regions.push_back({base, allocation, size, committed});
  }
  void Image(uint64_t base, const std::u16string &file) {
    for (uint64_t at : {base, base + 0x1000, base + 0x4000})
      Region(at, at == base + 0x1000 ? 0x3000 : 0x1000, base);
    files[base] = file;
  }
  bool QueryRegion(uint64_t address, KXMemoryRegion &region) override {
    ++queries;
    for (const KXMemoryRegion &r : regions)
      if (address >= r.base && address - r.base < r.size)
        return region = r, true;
    return false;
  }
  std::u16string ModuleFileName(uint64_t base) override { return files.count(base) ? files[base] : u""; }
  std::optional<KXFileVersion> FileVersion(const std::u16string &name) override {
    if (name.find(u"system32") == std::u16string::npos)
      return std::nullopt;
    return KXFileVersion{{6, 1, 7601, 17514}, ""};
  }
};

TEST(ModuleWalk, ModulesStartAtTheFirstCommittedRegionOfAnAllocation) {
  FakeAddressSpace space;
  space.Region(0, 0x10000, 0, false);
  space.Image(0x10000, u"C:\\Program Files\\Tidewell\\Tidewell.exe");
  space.Region(0x15000, 0xb000, 0, false);
  space.Image(0x20000, u"C:\\Windows\\system32\\shared.dll");
  space.Image(0x25000, u"C:\\Windows\\system32\\shared.dll"); // the same file mapped again
  space.Region(0x2a000, 0x1000, 0x2a000, false);             // reserved first region: no module
  space.Region(0x2b000, 0x1000, 0x2a000);
  space.files[0x2a000] = space.files[0x2b000] = u"C:\\reserved.dll";
  space.Region(0x2c000, 0x4000, 0x2c000); // heap: no file name
  space.Image(0x30000, u"bare.dll");
  std::vector<KXModuleEntry> m = CollectModules(space);
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0].address, 0x10000u);
  EXPECT_EQ(m[0].fileName, u"Tidewell.exe");
  EXPECT_EQ(m[0].path, u"C:\\Program Files\\Tidewell");
  EXPECT_EQ(m[0].version, u"");
  EXPECT_EQ(m[1].address, 0x20000u);
  EXPECT_EQ(m[2].address, 0x25000u);
  EXPECT_EQ(m[2].fileName, u"shared.dll");
  EXPECT_EQ(m[2].version, u"6.1.7601.17514");
  EXPECT_EQ(m[3].fileName, u"bare.dll");
  EXPECT_EQ(m[3].path, u"");
}

TEST(ModuleWalk, EndsAtEmptyOrWrappingRegions) {
  FakeAddressSpace zeroSized;
  zeroSized.Region(0, 0, 0, false);
  EXPECT_TRUE(CollectModules(zeroSized).empty());
  EXPECT_EQ(zeroSized.queries, 1);
  FakeAddressSpace top;
  top.Region(0, 0xFFFFFFFFFFFF0000ull, 0, false);
  top.Region(0xFFFFFFFFFFFF0000ull, 0x10000, 0xFFFFFFFFFFFF0000ull);
  top.files[0xFFFFFFFFFFFF0000ull] = u"C:\\top.dll";
  EXPECT_EQ(CollectModules(top).size(), 1u);
  EXPECT_EQ(top.queries, 2);
}

TEST(ModuleLines, VersionTextAndColumnsPaddedToTheLongestPlusOne) {
  EXPECT_EQ(ModuleVersionText(KXFileVersion{{1, 0, 0, 12}, "9.9"}), u"1.0.0.12");
  EXPECT_EQ(ModuleVersionText(KXFileVersion{{0, 0, 0, 0}, " \t2.1 beta \r\n"}), u"2.1 beta");
  EXPECT_EQ(ModuleVersionText(std::nullopt), u"");
  EXPECT_EQ(ModuleListText({{0x00400000, u"Tidewell.exe", u"C:\\Program Files\\Tidewell", u"1.0.0.0"},
                            {0x7c900000, u"ntdll.dll", u"C:\\WINDOWS\\system32", u"5.1.2600.5512"},
                            {0x10000000, u"plain.dll", u"C:\\x", u""}}),
            u"00400000 Tidewell.exe 1.0.0.0       C:\\Program Files\\Tidewell\r\n"
            u"7c900000 ntdll.dll    5.1.2600.5512 C:\\WINDOWS\\system32\r\n"
            u"10000000 plain.dll                  C:\\x");
  EXPECT_EQ(ModuleListText({}), u"");
  // A 64-bit process: one module above 4 GiB widens every address, so the columns stay aligned.
  EXPECT_EQ(ModuleListText({{0x140000000, u"Tidewell.exe", u"C:\\Tidewell", u""},
                            {0x10000000, u"low.dll", u"C:\\x", u""},
                            {0x6ffffb0d0000, u"VERSION.dll", u"C:\\windows\\system32", u"5.1"}}),
            u"0000000140000000 Tidewell.exe     C:\\Tidewell\r\n"
            u"0000000010000000 low.dll          C:\\x\r\n"
            u"00006ffffb0d0000 VERSION.dll  5.1 C:\\windows\\system32");
}

} // namespace
} // namespace kx
