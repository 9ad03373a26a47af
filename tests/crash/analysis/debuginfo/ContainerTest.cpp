// Packed forms, CRC-32, the compressed block, the scrambler and the container round trip.
#include "crash/analysis/debuginfo/Crc32.h"
#include "crash/analysis/debuginfo/Deflate.h"
#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/analysis/debuginfo/Scrambler.h"
#include "crash/base/bytes/ByteStream.h"
#include "tests/crash/analysis/debuginfo/TestImage.h"

#include <gtest/gtest.h>

#include <map>

using namespace debuginfo;

namespace {

std::vector<uint8_t> Packed(int32_t v) {
  ByteWriter w;
  w.PackedInt(v);
  return w.Bytes;
}

TEST(PackedInt, ShortAndEscapedForms) {
  EXPECT_EQ(Packed(127), (std::vector<uint8_t>{0x7F}));
  EXPECT_EQ(Packed(-127), (std::vector<uint8_t>{0x81}));
  EXPECT_EQ(Packed(0), (std::vector<uint8_t>{0x00}));
  EXPECT_EQ(Packed(128), (std::vector<uint8_t>{0x80, 0x80, 0, 0, 0}));
  EXPECT_EQ(Packed(-128), (std::vector<uint8_t>{0x80, 0x80, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Packed(-129), (std::vector<uint8_t>{0x80, 0x7F, 0xFF, 0xFF, 0xFF}));
  // Values whose low byte is 0x80 also take the long form.
  EXPECT_EQ(Packed(0x180).size(), 5u);
  EXPECT_EQ(Packed(-0x180).size(), 5u);
  for (int32_t v : {0, 1, -1, 127, -127, 128, -128, -129, 0x180, INT32_MAX, INT32_MIN}) {
    auto bytes = Packed(v);
    kx::ByteReader r(bytes.data(), bytes.size());
    EXPECT_EQ(PackedInt(r), v);
    EXPECT_FALSE(r.Failed());
    EXPECT_EQ(r.Remaining(), 0u);
  }
}

TEST(PackedString, LengthLimitAndTruncation) {
  ByteWriter w;
  w.PackedString("abc");
  w.PackedString(std::string(300, 'x'));
  kx::ByteReader r(w.Bytes.data(), w.Bytes.size());
  EXPECT_EQ(PackedString(r), "abc");
  EXPECT_EQ(PackedString(r), std::string(255, 'x'));
  EXPECT_EQ(r.Remaining(), 0u);

  const uint8_t truncated[] = {5, 'a', 'b'};
  kx::ByteReader t(truncated, sizeof truncated);
  EXPECT_EQ(PackedString(t), "");
  EXPECT_EQ(t.Remaining(), 0u);
  EXPECT_EQ(t.U32(), 0u);
  EXPECT_TRUE(t.Failed());
}

TEST(Crc32, StandardCheckValueAndContinuation) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
  EXPECT_EQ(Crc32("6789", 4, Crc32("12345", 5)), 0xCBF43926u);
}

TEST(CompressedBlock, RoundTripAndRejections) {
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = uint8_t(i * 7 % 13);
  auto block = CompressBlock(data.data(), data.size());
  ASSERT_GE(block.size(), 13u);
  EXPECT_EQ(block[0] | block[1] << 8, 5000);
  EXPECT_EQ(block[8] | block[9] << 8 | block[10] << 16 | uint32_t(block[11]) << 24,
            Crc32(data.data(), data.size()));
  auto back = DecompressBlock(block.data(), block.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, data);

  auto badCrc = block;
  badCrc[9] ^= 1;
  EXPECT_FALSE(DecompressBlock(badCrc.data(), badCrc.size()));
  auto badLength = block;
  badLength[0] ^= 1;
  EXPECT_FALSE(DecompressBlock(badLength.data(), badLength.size()));
  auto hugeLength = block;
  hugeLength[6] = 0xFF;
  EXPECT_FALSE(DecompressBlock(hugeLength.data(), hugeLength.size()));
  EXPECT_FALSE(DecompressBlock(block.data(), 12));
  EXPECT_FALSE(DecompressBlock(block.data(), block.size() - 3));

  auto empty = CompressBlock(nullptr, 0);
  auto emptyBack = DecompressBlock(empty.data(), empty.size());
  ASSERT_TRUE(emptyBack);
  EXPECT_TRUE(emptyBack->empty());
}

TEST(Scrambler, SymmetricAndKeyedByLength) {
  std::vector<uint8_t> data(64, 0);
  auto scrambled = data;
  ScramblePayload(scrambled.data(), scrambled.size());
  EXPECT_NE(scrambled, data);
  auto twice = scrambled;
  ScramblePayload(twice.data(), twice.size());
  EXPECT_EQ(twice, data);
  EXPECT_NE(ContainerKey(64), ContainerKey(65));
  EXPECT_EQ(ContainerKey(64).size(), std::string("Tdwell" "40" "64").size());
}

// A model with two code units, a data segment, publics and lines.
TMapFile SampleModel() {
  TMapFile m;
  m.SetBounds(0x401000, 0x409000, 0x40A000, 0x40C000);
  m.AddSegment(true, 0x401000, 0x2000, "MainUnit");
  m.AddSegment(true, 0x403000, 0x1000, "StationSession");
  m.AddSegment(false, 0x40A000, 0x100, "MainUnit");
  m.SortSegments();
  m.AddPublic(true, "TForm1.TForm1", 0x401000);
  m.AddPublic(true, "TForm1.btnSetClick", 0x401200);
  m.AddPublic(true, "TForm1.FormShow", 0x4012C0); // difference 0xC0 (low byte 0x80 case below)
  m.AddPublic(true, "TForm1.Later", 0x401340);    // difference 0x80
  m.AddPublic(true, "StationSession.Start", 0x403000);
  m.AddPublic(true, "__tail", 0x403800);
  m.AddLine(10, 0x401000);
  m.AddLine(106, 0x401200);
  m.AddLine(107, 0x401210);
  m.AddLine(101, 0x401280); // backwards in line number
  m.AddLine(400, 0x403000);
  m.SetEntryPoint(0x401010);
  return m;
}

std::vector<TMfSegment> CodeSegments(const TMapFile &m) {
  std::vector<TMfSegment> out;
  for (const auto &s : m.Segments())
    if (s.Code)
      out.push_back(s);
  return out;
}

TMapFile Reload(const TMapFile &source, const std::vector<uint8_t> &container) {
  TMapFile m;
  m.SetBounds(source.BaseOfCode(), source.TopOfCode(), source.BaseOfData(), source.TopOfData());
  EXPECT_TRUE(m.LoadContainer(container.data(), container.size()));
  return m;
}

TEST(Container, RoundTripVersions2And3) {
  TMapFile m = SampleModel();
  for (bool v3 : {false, true}) {
    auto bytes = m.Export(v3, false, false, 0x11223344, 0x55667788);
    ASSERT_GT(bytes.size(), 34u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 14), "Tidewell debug");
    EXPECT_EQ(bytes[18], v3 ? 3 : 2);
    TMapFile back = Reload(m, bytes);
    EXPECT_EQ(CodeSegments(back), CodeSegments(m)); // data segments are not stored
    EXPECT_EQ(back.Publics(), m.Publics());
    EXPECT_EQ(back.Lines(), m.Lines());
    EXPECT_EQ(back.EntryPoint(), 0x401010u);
    EXPECT_EQ(back.MinDebugInfo(), "");
  }
}

TEST(Container, HidesUglyNamesOnRequest) {
  TMapFile m = SampleModel();
  TMapFile back = Reload(m, m.Export(true, false, true));
  EXPECT_EQ(back.PublicCount(), m.PublicCount() - 1);
  EXPECT_EQ(back.FindAddress("StationSession", "__tail"), 0u);
}

TEST(Container, MinimalInformation) {
  TMapFile m = SampleModel();
  auto bytes = m.Export(true, true, false);
  EXPECT_EQ(bytes[30], 1); // flag word bit 0
  TMapFile back = Reload(m, bytes);
  ASSERT_EQ(back.SegmentCount(), 2);
  EXPECT_EQ(back.FindSegmentAt(0).Unit_, "segment%0");
  EXPECT_TRUE(back.FindSegmentAt(0).LineNumbers);
  EXPECT_EQ(back.FindPublicAt(1).Name, "public%1");
  EXPECT_EQ(back.FindPublic(0x401205).Address, 0x401200u);
  EXPECT_EQ(back.LineCount(), 0);
  EXPECT_EQ(back.FindLine(0x401205), -1); // lines exist but are not loaded
  EXPECT_EQ(back.FindLine(0x409500), 0);  // no segment
}

TEST(Container, CorruptionIsRejectedAndLeavesTheModelAlone) {
  TMapFile m = SampleModel();
  auto good = m.Export(true, false, false);
  auto reject = [&](std::vector<uint8_t> bytes) {
    TMapFile t;
    t.SetBounds(m.BaseOfCode(), m.TopOfCode(), 0, 0);
    EXPECT_FALSE(t.LoadContainer(bytes.data(), bytes.size()));
    EXPECT_EQ(t.SegmentCount() + t.PublicCount() + t.LineCount(), 0);
  };
  for (size_t at : {size_t(0), size_t(18), size_t(34), size_t(42), (good.size() + 34) / 2}) {
    auto bad = good;
    // marker, version, stated length, CRC (the scrambler XORs, so a flipped payload byte flips
    // the same byte of the block), deflate stream
    bad[at] ^= 0x20;
    SCOPED_TRACE(at);
    reject(bad);
  }
  reject(std::vector<uint8_t>(good.begin(), good.end() - 1)); // payload shorter than stated
  reject(std::vector<uint8_t>(good.begin(), good.begin() + 22));
  auto longer = good;
  longer[14] = 0xFF; // stated length past the end
  reject(longer);
}

// Files held in memory, with an optional own resource and settings.
class MemoryFiles : public IModuleFiles {
public:
  std::map<std::string, std::vector<uint8_t>> Files;
  std::map<std::string, std::string> Settings;
  std::optional<std::vector<uint8_t>> Resource;
  std::optional<std::vector<uint8_t>> ReadFile(const std::string &path) override {
    auto it = Files.find(path);
    if (it == Files.end())
      return std::nullopt;
    return it->second;
  }
  std::optional<std::vector<uint8_t>> OwnResource(const std::string &) override { return Resource; }
  std::string SettingsProperty(const std::string &, const std::string &name) override {
    return Settings.count(name) ? Settings[name] : "";
  }
};

TEST(Container, MinimalResourceDefersToMatchingCompanion) {
  TMapFile full = SampleModel();
  auto fullBytes = full.Export(true, false, false, 0xAAAA, 0xBBBB);
  auto minimal = full.Export(true, true, false);
  std::string signature = TMapFile::ContainerSignature(uint32_t(fullBytes.size()), 0xAAAA, 0xBBBB);
  EXPECT_EQ(signature.size(), 31u);

  MemoryFiles files;
  files.Files["/x/App.exe"] = BuildTestImage({{".text", 0x1000, 0x8000, 0x60000020}}, 0x400000);
  files.Resource = minimal;
  files.Files["/x/App.kes"] = fullBytes;

  files.Settings["MinDebugInfo"] = signature;
  TMapFile withCompanion(true, "/x/App.exe", 0x400000, false, true, &files);
  EXPECT_TRUE(withCompanion.IsValid());
  EXPECT_EQ(withCompanion.FindPublic(0x401205).Name, "TForm1.btnSetClick");
  EXPECT_EQ(withCompanion.MinDebugInfo(), "");

  files.Settings["MinDebugInfo"] = TMapFile::ContainerSignature(uint32_t(fullBytes.size()), 0xAAAA, 0xBBBC);
  TMapFile mismatch(true, "/x/App.exe", 0x400000, false, true, &files);
  EXPECT_TRUE(mismatch.IsValid());
  EXPECT_EQ(mismatch.FindPublic(0x401205).Name, "public%1");
  EXPECT_FALSE(mismatch.MinDebugInfo().empty());
}

TEST(Container, SourceOrder) {
  TMapFile full = SampleModel();
  MemoryFiles files;
  files.Files["/x/App.exe"] = BuildTestImage({{".text", 0x1000, 0x8000, 0x60000020}}, 0x400000);
  files.Files["/x/App.kes"] = full.Export(true, false, false);
  files.Files["/x/App.map"] = std::vector<uint8_t>{}; // nothing usable: falls through to .kes
  TMapFile fromKes(true, "/x/App.exe", 0x400000, false, false, &files);
  EXPECT_TRUE(fromKes.IsValid());
  EXPECT_EQ(fromKes.FindLine(0x401211), 107);

  TMapFile none(true, "/y/Other.exe", 0x400000, false, false, &files);
  EXPECT_FALSE(none.IsValid());
  EXPECT_FALSE(none.FindPublic(0x401205).IsValid);
  EXPECT_EQ(none.FindLine(0x401205), 0);

  TMapFile invalid(false, "/x/App.exe", 0x400000, false, false, &files);
  EXPECT_FALSE(invalid.IsValid());
  EXPECT_EQ(invalid.PublicCount(), 0);
}

} // namespace

namespace {

// A model of an x86-64 image whose code crosses the 4 GiB line, so that 32-bit arithmetic
// anywhere between writer and reader loses the high part.
TMapFile WideModel() {
  TMapFile m;
  m.SetMachine(kMachineAmd64);
  m.SetBounds(0xFFFF0000, 0x100020000, 0x100020000, 0x100030000);
  m.AddSegment(true, 0xFFFF0000, 0x18000, "Low");
  m.AddSegment(true, 0x100008000, 0x18000, "High");
  m.SortSegments();
  m.AddPublic(true, "Low.First", 0xFFFF0000);
  m.AddPublic(true, "Low.Across", 0xFFFFFF80);
  m.AddPublic(true, "High.Start", 0x100008000);
  m.AddPublic(true, "High.Later", 0x10001F000);
  m.AddLine(5, 0xFFFF0000);
  m.AddLine(9, 0xFFFFFFF0);
  m.AddLine(2, 0x100000010);
  m.AddLine(70, 0x100008000);
  m.SetEntryPoint(0x100000010);
  return m;
}

TMapFile WideReload(const std::vector<uint8_t> &container, uint16_t machine, bool &loaded) {
  TMapFile m;
  m.SetMachine(machine);
  m.SetBounds(0xFFFF0000, 0x100020000, 0, 0);
  loaded = m.LoadContainer(container.data(), container.size());
  return m;
}

TEST(Container64, RoundTripAboveFourGiBIsVersion4NamingTheMachine) {
  const TMapFile m = WideModel();
  for (bool newFormat : {false, true}) {
    SCOPED_TRACE(newFormat);
    // Version 2 cannot name a machine: an x86-64 model is always written as version 4.
    auto bytes = m.Export(newFormat, false, false, 0x11223344, 0x55667788);
    ASSERT_GT(bytes.size(), 38u);
    EXPECT_EQ(bytes[18], 4);
    EXPECT_EQ(bytes[22], 0x44); // checksum A where version 3 has it
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 34, bytes.begin() + 38), (std::vector<uint8_t>{0x64, 0x86, 0, 0}));
    bool loaded = false;
    TMapFile back = WideReload(bytes, kMachineAmd64, loaded);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(CodeSegments(back), CodeSegments(m));
    EXPECT_EQ(back.Publics(), m.Publics());
    EXPECT_EQ(back.Lines(), m.Lines());
    EXPECT_EQ(back.EntryPoint(), 0x100000010u);
    EXPECT_EQ(back.FindPublic(0x100000000).Name, "Across"); // below its unit
    EXPECT_EQ(back.FindLine(0x100000000), 9);
    EXPECT_EQ(back.FindSegment(true, 0x100010000).Unit_, "High");
  }
  // Minimal information keeps its flag word, and the machine after it.
  auto minimal = m.Export(true, true, false);
  EXPECT_EQ(minimal[30], 1);
  EXPECT_EQ(minimal[34], 0x64);
  bool loaded = false;
  TMapFile back = WideReload(minimal, kMachineAmd64, loaded);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(back.FindPublic(0x100008004).Address, 0x100008000u);
}

TEST(Container64, TheMachineDecidesWhoMayReadAContainer) {
  const auto wide = WideModel().Export(true, false, false);
  const auto narrow = SampleModel().Export(true, false, false);
  bool loaded = true;
  // An x86-64 container is refused for an i386 image, and an old one for an x86-64 image; the
  // model stays empty.
  TMapFile refused = WideReload(wide, kMachineI386, loaded);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(refused.SegmentCount() + refused.PublicCount() + refused.LineCount(), 0);
  TMapFile old;
  old.SetMachine(kMachineAmd64);
  old.SetBounds(0x401000, 0x409000, 0, 0);
  EXPECT_FALSE(old.LoadContainer(narrow.data(), narrow.size()));
  EXPECT_EQ(old.PublicCount(), 0);
  // A model of unknown machine takes the container's: versions 2 and 3 are i386.
  TMapFile any = WideReload(wide, 0, loaded);
  EXPECT_TRUE(loaded);
  EXPECT_EQ(any.Machine(), kMachineAmd64);
  TMapFile anyOld;
  anyOld.SetBounds(0x401000, 0x409000, 0, 0);
  EXPECT_TRUE(anyOld.LoadContainer(narrow.data(), narrow.size()));
  EXPECT_EQ(anyOld.Machine(), kMachineI386);

  // A machine of neither kind, or a header cut inside the machine word, is refused.
  auto other = wide;
  other[34] = 0xC0, other[35] = 0x01; // ARM
  WideReload(other, 0, loaded);
  EXPECT_FALSE(loaded);
  other = wide;
  other[36] = 1; // high half of the word
  WideReload(other, 0, loaded);
  EXPECT_FALSE(loaded);
  WideReload(std::vector<uint8_t>(wide.begin(), wide.begin() + 37), 0, loaded);
  EXPECT_FALSE(loaded);
  // A version beyond 4 is not read.
  other = wide;
  other[18] = 5;
  WideReload(other, 0, loaded);
  EXPECT_FALSE(loaded);
}

TEST(Container64, AnI386ModelIsWrittenAsBefore) {
  // Naming the machine of an i386 image changes nothing in the bytes written.
  TMapFile named = SampleModel();
  named.SetMachine(kMachineI386);
  for (bool v3 : {false, true})
    EXPECT_EQ(named.Export(v3, false, false, 1, 2), SampleModel().Export(v3, false, false, 1, 2));
}

TEST(Container64, AModuleReadsItsOwnMachinesCompanion) {
  // A PE32+ image based above 4 GiB with the companion container kesgen writes for it.
  struct Files : IModuleFiles {
    std::map<std::string, std::vector<uint8_t>> Content;
    std::optional<std::vector<uint8_t>> ReadFile(const std::string &path) override {
      auto it = Content.find(path);
      return it == Content.end() ? std::nullopt : std::optional(it->second);
    }
  } files;
  files.Content["/x/App64.exe"] =
      BuildTestImage({{".text", 0x1000, 0x2000, 0x60000020}}, 0x40000000, {}, {}, true, 1);
  TMapFile source;
  source.SetMachine(kMachineAmd64);
  source.SetBounds(0x140001000, 0x140003000, 0, 0);
  source.AddSegment(true, 0x140001000, 0x2000, "Main");
  source.AddPublic(true, "Run", 0x140001100);
  source.AddLine(42, 0x140001100);
  files.Content["/x/App64.kes"] = source.Export(true, false, false);
  TMapFile m(true, "/x/App64.exe", 0x140000000, false, true, &files);
  ASSERT_TRUE(m.IsValid());
  EXPECT_EQ(m.Machine(), kMachineAmd64);
  EXPECT_EQ(m.HInstance(), 0x140000000u);
  EXPECT_EQ(m.BaseOfCode(), 0x140001000u);
  EXPECT_EQ(m.FindPublic(0x140001180).Name, "Run");
  EXPECT_EQ(m.FindLine(0x140001180), 42);
  // Loaded elsewhere (relocated), the same container follows the image.
  TMapFile moved(true, "/x/App64.exe", 0x7FF600000000, false, true, &files);
  ASSERT_TRUE(moved.IsValid());
  EXPECT_EQ(moved.FindPublic(0x7FF600001180).Address, 0x7FF600001100u);
  // The container of an i386 build beside the same image is not used.
  files.Content["/x/App64.kes"] = SampleModel().Export(true, false, false);
  EXPECT_FALSE(TMapFile(true, "/x/App64.exe", 0x140000000, false, true, &files).IsValid());
}

} // namespace
