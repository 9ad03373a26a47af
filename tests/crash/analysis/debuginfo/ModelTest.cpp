// Lookups and their boundaries, the add and merge rules, bounds from PE headers, the model
// cache and the disassembler hooks.
#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/analysis/debuginfo/ModelCache.h"
#include "crash/base/pe/PeImage.h"
#include "tests/crash/analysis/debuginfo/TestImage.h"

#include <gtest/gtest.h>

#include <map>

using namespace debuginfo;

namespace {

TMapFile TwoUnits(uint32_t topOfCode, bool withData = false) {
  TMapFile m;
  m.SetBounds(0x1000, topOfCode, 0x8000, 0x9000);
  m.AddSegment(true, 0x1000, 0x100, "Alpha");
  m.AddSegment(true, 0x1100, 0x100, "Beta");
  m.AddSegment(false, 0x8000, 0x10, "Alpha");
  m.SortSegments();
  m.AddPublic(true, "Alpha.First", 0x1000);
  m.AddPublic(true, "Second", 0x1040);
  if (withData)
    m.AddPublic(false, "Alpha.Table", 0x8000);
  m.AddPublic(true, "Beta.Third", 0x1100);
  m.SortPublics();
  m.AddLine(5, 0x1000);
  m.AddLine(6, 0x1008);
  m.AddLine(20, 0x1040);
  m.AddLine(30, 0x1100);
  m.AddLine(31, 0x1110);
  return m;
}

TEST(Lookup, PublicBoundariesAndTopOfCode) {
  TMapFile m = TwoUnits(0x1200);
  EXPECT_FALSE(m.FindPublic(0x0FFFu).IsValid);
  EXPECT_EQ(m.FindPublic(0x1000).Name, "First");
  EXPECT_EQ(m.FindPublic(0x103F).Name, "First");
  EXPECT_EQ(m.FindPublic(0x1040).Name, "Second");
  EXPECT_EQ(m.FindPublic(0x11FF).Name, "Third"); // beyond the last public, below the top
  EXPECT_FALSE(m.FindPublic(0x1200).IsValid);    // at the top of code
  // Without a top the last public extends without limit.
  TMapFile open = TwoUnits(0);
  EXPECT_EQ(open.FindPublic(0xFFFFFFF0u).Name, "Third");
  EXPECT_FALSE(m.FindPublicAt(-1).IsValid);
  EXPECT_EQ(m.FindPublicAt(0).Name, "First");
  EXPECT_FALSE(m.FindPublicAt(3).IsValid);
}

TEST(Lookup, Segments) {
  TMapFile m = TwoUnits(0x1200);
  EXPECT_EQ(m.FindSegment(true, 0x10FF).Unit_, "Alpha");
  EXPECT_EQ(m.FindSegment(true, 0x1100).Unit_, "Beta");
  EXPECT_FALSE(m.FindSegment(true, 0x1200).IsValid);
  EXPECT_FALSE(m.FindSegment(true, 0x8000).IsValid);
  EXPECT_TRUE(m.FindSegment(false, 0x8000).IsValid);
  EXPECT_FALSE(m.FindSegment(false, 0x1000).IsValid);
  EXPECT_TRUE(m.FindSegmentAt(0).Code);  // code first
  EXPECT_FALSE(m.FindSegmentAt(2).Code);
  EXPECT_FALSE(m.FindSegmentAt(3).IsValid);
}

TEST(Lookup, LinesWithNextAndSegmentCheck) {
  TMapFile m = TwoUnits(0x1200);
  uint64_t next = 0;
  EXPECT_EQ(m.FindLine(0x1000, next), 5);
  EXPECT_EQ(next, 0x1008u);
  EXPECT_EQ(m.FindLine(0x103F, next), 6);
  EXPECT_EQ(next, 0x1040u);
  EXPECT_EQ(m.FindLine(0x1150, next), 31); // last line: next is the segment end
  EXPECT_EQ(next, 0x1200u);
  EXPECT_EQ(m.FindLine(0x1200, next), 0); // outside every code segment
  EXPECT_EQ(next, 0x1201u);
  // A line of an earlier unit is not used for a segment that has no line of its own.
  TMapFile gap;
  gap.AddSegment(true, 0x1000, 0x100, "A");
  gap.AddSegment(true, 0x1200, 0x100, "B");
  gap.AddLine(7, 0x1000);
  gap.AddLine(9, 0x1280);
  EXPECT_EQ(gap.FindLine(0x10FF, next), 7);
  EXPECT_EQ(next, 0x1100u); // the segment ends before B's first line
  EXPECT_EQ(gap.FindLine(0x1100), 0);
  EXPECT_EQ(gap.FindLine(0x1250), 0);
  EXPECT_EQ(gap.FindLine(0x0800), 0);
}

TEST(Lookup, ByUnitAndName) {
  TMapFile m = TwoUnits(0x1200, true);
  EXPECT_EQ(m.FindPublic(true, "alpha", "Second", true), 0x1040u);
  EXPECT_EQ(m.FindPublic(true, "Alpha", "second", true), 0u);
  EXPECT_EQ(m.FindPublic(true, "Alpha", "second", false), 0x1040u);
  EXPECT_EQ(m.FindPublic(true, "Alpha", "Third", true), 0x1100u); // segment end included
  EXPECT_EQ(m.FindPublic(true, "Beta", "First", true), 0u);
  EXPECT_EQ(m.FindPublic(false, "Alpha", "Table", true), 0x8000u);
  EXPECT_EQ(m.FindPublic(true, "Alpha", "Table", true), 0u);

  TMapFile cpp;
  cpp.AddSegment(true, 0x1000, 0x100, "Gamma.cpp");
  cpp.AddSegment(true, 0x1100, 0x100, "Delta.c");
  cpp.AddPublic(true, "Run", 0x1010);
  cpp.AddPublic(true, "Go", 0x1100); // start of Delta is also end of Gamma
  EXPECT_EQ(cpp.FindPublic(true, "Gamma", "Run", true), 0x1010u);
  EXPECT_EQ(cpp.FindPublic(true, "Delta", "Go", true), 0x1100u);
  EXPECT_EQ(cpp.FindPublic(true, "Gamma.x", "Run", true), 0u); // no retry with a dot
  EXPECT_EQ(cpp.FindAddress("GAMMA.CPP", "run"), 0x1010u);
  EXPECT_EQ(cpp.FindAddress("Gamma", "Run"), 0u);
}

TEST(Building, SegmentAndPublicNameRules) {
  TMapFile m;
  m.AddSegment(true, 0x1000, 0x100, "Project.DPR");
  m.AddSegment(true, 0x1100, 0x100, "Unit1.pas");
  m.AddSegment(true, 0x1200, 0x100, "Unit2.cpp");
  m.AddSegment(false, 0x8000, 0x100, "Unit1");
  EXPECT_EQ(m.FindSegmentAt(0).Unit_, "Project");
  EXPECT_EQ(m.FindSegmentAt(1).Unit_, "Unit1");
  EXPECT_EQ(m.FindSegmentAt(2).Unit_, "Unit2.cpp");

  m.SetDemangler([](const std::string &raw) -> TDemangledName {
    if (raw.starts_with("Q:")) // test mangling: "Q:Unit:Name"
      return {raw.substr(2, raw.find(':', 2) - 2), raw.substr(raw.find(':', 2) + 1)};
    return {{}, raw};
  });
  m.AddPublic(true, "@$xp$TFoo", 0x1100);      // type information: dropped
  m.AddPublic(true, "@$xp$", 0x1100);          // too short to be one
  m.AddPublic(true, "Unit1", 0x1101);          // unit name: initialization
  m.AddPublic(true, "Unit1.TForm.Click", 0x1102);
  m.AddPublic(true, "@@Unit1.Finish", 0x1103);
  m.AddPublic(true, "Q:Other:Helper", 0x1104); // foreign unit qualifier stays
  m.AddPublic(true, "Q:Unit1:Own", 0x1105);
  m.AddPublic(true, "Loose", 0x5000);          // no segment: unchanged
  m.AddPublic(false, "Unit1.Data", 0x8000);
  std::vector<std::string> names;
  for (const auto &p : m.Publics())
    names.push_back(p.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"@$xp$", "initialization", "TForm.Click", "Finish",
                                             "Other.Helper", "Own", "Loose", "Data"}));
  TMapFile codeOnly;
  codeOnly.SetCodeOnly(true);
  codeOnly.AddPublic(false, "Data", 0x8000);
  codeOnly.AddPublic(true, "Code", 0x1000);
  EXPECT_EQ(codeOnly.PublicCount(), 1);
}

TEST(Building, GccSymbolsAreReadableWithoutADemanglerOfTheirOwn) {
  TMapFile m;
  m.AddSegment(true, 0x1000, 0x100, "Forms");
  m.AddSegment(true, 0x1100, 0x100, "KXStandInBox");
  m.AddPublic(true, "__ZN5TForm8FormProcEP6HWND__jjl@16", 0x1000);
  m.AddPublic(true, "_ZN2kx12_GLOBAL__N_111StandInProcEP6HWND__jjl@16", 0x1100);
  m.AddPublic(true, "Forms.TForm.Show", 0x1010); // already in the model's form
  m.AddPublic(true, "_except_handler3", 0x5000); // a C name keeps its underscore
  m.AddPublic(true, "@@Unit1.Finish", 0x5010);
  m.SortPublics();
  std::vector<std::string> names;
  for (const auto &p : m.Publics())
    names.push_back(p.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"TForm.FormProc", "TForm.Show", "kx.StandInProc",
                                             "_except_handler3", "Unit1.Finish"}));
}

TEST(Building, CapacityGrowth) {
  TMapFile m;
  std::vector<uint32_t> seen;
  for (int i = 0; i < 60; ++i) {
    m.AddLine(i, uint32_t(i));
    if (seen.empty() || seen.back() != m.LineCapacity())
      seen.push_back(m.LineCapacity());
  }
  EXPECT_EQ(seen, (std::vector<uint32_t>{16, 24, 36, 54, 81}));
}

TEST(Building, MergeModes) {
  auto build = [] {
    TMapFile m;
    m.AddSegment(true, 0x1000, 0x10, "A");
    m.AddSegment(true, 0x1010, 0x10, "a");   // same unit, adjacent: joined
    m.AddSegment(true, 0x1030, 0x10, "B");   // gap before it
    m.AddSegment(true, 0x1038, 0x20, "C");   // overlaps B
    m.AddSegment(true, 0x1100, 0x0, "Empty");
    m.AddSegment(true, 0x1200, 0x30, "D");   // same start as the next, longer: sorted first, dropped
    m.AddSegment(true, 0x1200, 0x10, "E");
    m.AddSegment(false, 0x1210, 0x10, "Data");
    m.SortSegments();
    return m;
  };
  auto summary = [](const TMapFile &m) {
    std::vector<std::string> out;
    for (const auto &s : m.Segments()) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%s:%x+%x", s.Unit_.c_str(), unsigned(s.StartAddress), s.Length);
      out.push_back(buf);
    }
    return out;
  };
  TMapFile first = build();
  first.MergeSegments(true);
  EXPECT_EQ(summary(first), (std::vector<std::string>{"A:1000+20", "B:1030+8", "C:1038+20",
                                                      "E:1200+10", "Data:1210+10"}));
  TMapFile second = build();
  second.MergeSegments(false);
  EXPECT_EQ(summary(second), (std::vector<std::string>{"A:1000+30", "B:1030+8", "C:1038+c8",
                                                       "E:1200+10", "Data:1210+10"}));
}

TEST(Lookup, AddressesAboveFourGiB) {
  // Neighbours apart by more than a segment's 32-bit length stay apart when gaps are
  // closed; lookups and a line's range work on whole 64-bit addresses.
  TMapFile m;
  m.SetBounds(0x140001000, 0x300001000, 0, 0);
  m.AddSegment(true, 0x140001000, 0x100, "Near");
  m.AddSegment(true, 0x300000000, 0x1000, "Far");
  m.SortSegments();
  m.MergeSegments(false);
  ASSERT_EQ(m.SegmentCount(), 2);
  EXPECT_EQ(m.FindSegmentAt(0).Length, 0x100u);
  EXPECT_EQ(m.FindSegment(true, 0x140001080).Unit_, "Near");
  EXPECT_FALSE(m.FindSegment(true, 0x40001080).IsValid); // the same low half, 4 GiB lower
  EXPECT_FALSE(m.FindSegment(true, 0x200000000).IsValid);
  m.AddPublic(true, "Near.Run", 0x140001000);
  m.AddPublic(true, "Far.Run", 0x300000000);
  m.AddLine(10, 0x140001000);
  m.AddLine(11, 0x140001040);
  m.AddLine(20, 0x300000000);
  EXPECT_EQ(m.FindPublic(0x300000010).Name, "Run");
  EXPECT_EQ(m.FindPublic(true, "Far", "Run", true), 0x300000000u);
  EXPECT_EQ(m.FindAddress("Far", "Run"), 0x300000000u);
  uint64_t next = 0;
  EXPECT_EQ(m.FindLine(0x140001050, next), 11);
  EXPECT_EQ(next, 0x140001100u); // the segment's end, not the next line 8 GiB on
  EXPECT_EQ(m.FindLine(0x300000fff, next), 20);
  EXPECT_EQ(m.FindLine(0x1400010ff + 0x100000000, next), 0);
}

TEST(Bounds, FromPeHeaders) {
  auto one = BuildTestImage({{".text", 0x1000, 0x2345, 0x60000020}, {".data", 0x4000, 0x100, 0xC0000040}},
                            0x400000);
  auto pe = PeImage::Parse(one.data(), one.size());
  ASSERT_TRUE(pe);
  TMapFile m;
  m.SetBounds(*pe, 0x10000000); // loaded elsewhere than its image base
  EXPECT_EQ(m.BaseOfCode(), 0x10001000u);
  EXPECT_EQ(m.TopOfCode(), 0x10003345u);
  EXPECT_EQ(m.BaseOfData(), 0x10005000u);
  EXPECT_EQ(m.TopOfData(), 0x10005000u + 0x2000 + 0x400);

  // First section not code: the optional header's BaseOfCode and SizeOfCode.
  auto noCode = BuildTestImage({{".data", 0x1000, 0x100, 0xC0000040}}, 0x400000);
  pe = PeImage::Parse(noCode.data(), noCode.size());
  m.SetBounds(*pe, 0x400000);
  EXPECT_EQ(m.BaseOfCode(), 0x401000u);
  EXPECT_EQ(m.TopOfCode(), 0x404000u);

  // Two code sections with a gap: stored offsets past the first section's page-rounded size
  // land in the second section.
  auto two = BuildTestImage({{".text", 0x1000, 0x1800, 0x60000020}, {"CODE2", 0x5000, 0x400, 0x60000020}},
                            0x400000);
  pe = PeImage::Parse(two.data(), two.size());
  TMapFile t;
  t.SetBounds(*pe, 0x400000);
  EXPECT_EQ(t.TopOfCode(), 0x405400u);
  t.AddSegment(true, 0x401000, 0x1800, "One");
  t.AddSegment(true, 0x405000, 0x400, "Two");
  t.AddPublic(true, "InTwo", 0x405010);
  t.AddLine(9, 0x405010);
  auto bytes = t.Export(true, false, false);
  TMapFile back;
  back.SetBounds(*pe, 0x400000);
  ASSERT_TRUE(back.LoadContainer(bytes.data(), bytes.size()));
  EXPECT_EQ(back.FindPublic(0x405020).Name, "InTwo");
  EXPECT_EQ(back.FindLine(0x405020), 9);
  // Read without the section layout, the same offsets are contiguous.
  TMapFile flat;
  flat.SetBounds(0x401000, 0x405400, 0, 0);
  ASSERT_TRUE(flat.LoadContainer(bytes.data(), bytes.size()));
  EXPECT_EQ(flat.FindPublicAt(0).Address, 0x403010u); // 0x2000 + 0x10 past the base
}

TEST(Bounds, MalformedImagesAreRefused) {
  auto image = BuildTestImage({{".text", 0x1000, 0x100, 0x60000020}}, 0x400000);
  for (size_t cut : {size_t(0), size_t(0x40), size_t(0x90), size_t(0x100), size_t(0x19F)})
    EXPECT_FALSE(PeImage::Parse(image.data(), cut)) << cut;
  auto bad = image;
  bad[0x3C] = 0xF0;
  bad[0x3D] = 0xFF; // e_lfanew far outside
  EXPECT_FALSE(PeImage::Parse(bad.data(), bad.size()));
}

TEST(Bounds, SixtyFourBitImages) {
  std::vector<uint8_t> payload = {9, 8, 7};
  auto low = BuildTestImage({{".text", 0x1000, 0x100, 0x60000020}}, 0x10000000, "TIDEWELLDEBUG", payload, true);
  auto pe = PeImage::Parse(low.data(), low.size());
  ASSERT_TRUE(pe);
  EXPECT_TRUE(pe->Pe32Plus);
  EXPECT_EQ(pe->ImageBase, 0x10000000u);
  EXPECT_EQ(pe->BaseOfData, 0u);
  EXPECT_TRUE(pe->FindResourceData(low.data(), low.size(), kResourceTypeRcData, kDebugInfoResourceName));
  auto high = BuildTestImage({{".text", 0x1000, 0x100, 0x60000020}}, 0x40000000, {}, {}, true, 1);
  pe = PeImage::Parse(high.data(), high.size());
  ASSERT_TRUE(pe);
  EXPECT_EQ(pe->ImageBase, 0x140000000u); // the whole 64-bit base
  // The model's bounds and machine come from the headers, at the base it is loaded at.
  TMapFile m;
  m.SetBounds(*pe, 0x7FF612340000);
  EXPECT_EQ(m.Machine(), kMachineAmd64);
  EXPECT_EQ(m.HInstance(), 0x7FF612340000u);
  EXPECT_EQ(m.BaseOfCode(), 0x7FF612341000u);
  EXPECT_EQ(m.TopOfCode(), 0x7FF612341100u);
}

TEST(Bounds, OwnResourceFromTheImageFile) {
  std::vector<uint8_t> payload = {1, 2, 3, 4, 5};
  auto image = BuildTestImage({{".text", 0x1000, 0x100, 0x60000020}}, 0x400000, "TideWellDebug", payload);
  auto pe = PeImage::Parse(image.data(), image.size());
  ASSERT_TRUE(pe);
  auto where = pe->FindResourceData(image.data(), image.size(), kResourceTypeRcData, kDebugInfoResourceName);
  ASSERT_TRUE(where);
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + where->first, image.begin() + where->first + where->second),
            payload);
  EXPECT_FALSE(pe->FindResourceData(image.data(), image.size(), kResourceTypeRcData, "OTHER"));
  EXPECT_FALSE(pe->FindResourceData(image.data(), image.size() - 0x202, kResourceTypeRcData, kDebugInfoResourceName));
}

class FakeLocator : public IModuleLocator {
public:
  std::map<std::string, uint32_t> Times;
  std::optional<Module> ModuleOfAddress(uint64_t address) override {
    if (address >= 0x400000 && address < 0x500000)
      return Module{"/x/App.exe", 0x400000};
    return std::nullopt;
  }
  uint32_t FileDosDateTime(const std::string &file) override { return Times[file]; }
  IModuleFiles *Files() override { return &files; }

  class MemFiles : public IModuleFiles {
  public:
    std::map<std::string, std::vector<uint8_t>> Content;
    int Reads = 0;
    std::optional<std::vector<uint8_t>> ReadFile(const std::string &path) override {
      ++Reads;
      auto it = Content.find(path);
      if (it == Content.end())
        return std::nullopt;
      return it->second;
    }
  } files;
};

TMapFile AppModel(const std::string &function) {
  TMapFile m;
  m.SetBounds(0x401000, 0x402000, 0, 0);
  m.AddSegment(true, 0x401000, 0x1000, "MainUnit");
  m.AddPublic(true, function, 0x401100);
  m.AddLine(131, 0x401100);
  m.AddLine(132, 0x401110);
  return m;
}

TEST(Cache, StaleModelIsReplacedWhenTheFileTimeChanges) {
  FakeLocator loc;
  loc.files.Content["/x/App.exe"] = BuildTestImage({{".text", 0x1000, 0x1000, 0x60000020}}, 0x400000);
  loc.files.Content["/x/App.kes"] = AppModel("TForm1.Old").Export(true, false, false);
  loc.Times["/x/App.exe"] = DosDateTime(2026, 12, 9, 6, 0, 0);
  TModelCache cache;

  auto first = cache.ModelFor(loc, 0x401105);
  ASSERT_TRUE(first->IsValid());
  EXPECT_EQ(cache.ModelFor(loc, 0x401200), first); // reused
  EXPECT_EQ(cache.Size(), 1u);

  loc.files.Content["/x/App.kes"] = AppModel("TForm1.New").Export(true, false, false);
  EXPECT_EQ(cache.ModelFor(loc, 0x401105)->FindPublic(0x401105).Name, "TForm1.Old");
  loc.Times["/x/App.exe"] = DosDateTime(2026, 12, 9, 6, 0, 2);
  auto second = cache.ModelFor(loc, 0x401105);
  EXPECT_NE(second, first);
  EXPECT_EQ(second->FindPublic(0x401105).Name, "TForm1.New");
  EXPECT_EQ(first->FindPublic(0x401105).Name, "TForm1.Old"); // a holder keeps its copy
  EXPECT_EQ(cache.Size(), 1u);

  EXPECT_FALSE(cache.ModelFor(loc, 0x600000)->IsValid());
  EXPECT_EQ(cache.Size(), 1u);
}

TEST(Cache, DescriptionAndHooks) {
  FakeLocator loc;
  loc.files.Content["/x/App.exe"] = BuildTestImage({{".text", 0x1000, 0x1000, 0x60000020}}, 0x400000);
  loc.files.Content["/x/App.kes"] = AppModel("TForm1.btnSetClick").Export(true, false, false);
  TModelCache cache;
  TAddressDescription d = DescribeAddress(cache, loc, 0x401112);
  EXPECT_TRUE(d.Ok);
  EXPECT_EQ(d.ModuleFileName, "/x/App.exe");
  EXPECT_EQ(d.Unit, "MainUnit");
  EXPECT_EQ(d.Line, 132);
  EXPECT_EQ(d.FunctionName, "TForm1.btnSetClick");
  EXPECT_EQ(d.FunctionAddress, 0x401100u);
  EXPECT_FALSE(DescribeAddress(cache, loc, 0x700000).Ok);

  auto model = cache.ModelFor(loc, 0x401100);
  EXPECT_EQ(ProcedureName(*model, 0x401100), "MainUnit.TForm1.btnSetClick");
  EXPECT_EQ(ProcedureName(*model, 0x401101), "");
  TMapFile minimal;
  minimal.SetModuleFileName("C:\\dir\\App.exe");
  minimal.AddPublic(true, "public%0", 0x10);
  EXPECT_EQ(ProcedureName(minimal, 0x10), "public%0 (App.exe)");

  int32_t line = 0;
  uint64_t start = 0, end = 0;
  UpdateLine(*model, 0x401100, line, start, end);
  EXPECT_EQ(line, 131);
  EXPECT_EQ(end, 0x401110u);
  int reads = loc.files.Reads;
  UpdateLine(*model, 0x401108, line, start, end); // inside the range: unchanged
  EXPECT_EQ(line, 131);
  EXPECT_EQ(start, 0x401100u);
  UpdateLine(*model, 0x401110, line, start, end);
  EXPECT_EQ(line, 132);
  EXPECT_EQ(start, 0x401110u);
  EXPECT_EQ(loc.files.Reads, reads);
}

TEST(Cache, DosDateTime) {
  EXPECT_EQ(DosDateTime(1980, 1, 1, 0, 0, 0), 0x00210000u);
  EXPECT_EQ(DosDateTime(2026, 12, 9, 23, 59, 59), (uint32_t(46 << 9 | 12 << 5 | 9) << 16) | (23 << 11 | 59 << 5 | 29));
}

} // namespace
