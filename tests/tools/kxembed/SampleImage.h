#pragma once
// A small linked image for the kxembed tests, PE32 or PE32+: headers in the first 0x400 bytes,
// ".text" (RVA 0x1000, file 0x400) and ".rsrc" (RVA 0x2000, file 0x600) with a resource directory
// written out by hand, entry by entry, as a resource compiler lays it out:
//   "MYTYPE" 7 (0x409)           16 bytes of 0x71
//   2 (bitmap) "LOGO" (0x409)     32 bytes of 0x22
//   10 (RCDATA) "TKESTRELIX" (0x409) 16 bytes of 0xA1
//   10 (RCDATA) "ZFORM" (0x409)   8 bytes of 0xF0
// Its helpers write single fields, so a test can damage the directory where it wants or write
// another one.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kxembed_test {

class SampleImage {
public:
  static constexpr uint32_t kTextRva = 0x1000, kTextRaw = 0x400, kRsrcRva = 0x2000, kRsrcRaw = 0x600;
  static constexpr uint32_t kHighBit = 0x80000000u;

  std::vector<uint8_t> file;
  bool plus;

  // rsrcSize: the resource section's raw size (a multiple of 0x200).
  explicit SampleImage(bool pe32Plus = false, uint32_t rsrcSize = 0x400) : plus(pe32Plus) {
    file.assign(kRsrcRaw + rsrcSize, 0);
    Put<uint16_t>(0, 0x5A4D);
    Put<uint32_t>(0x3C, 0x80);
    Put<uint32_t>(0x80, 0x00004550);
    Put<uint16_t>(0x84, plus ? 0x8664 : 0x14C);
    Put<uint16_t>(0x86, 2);
    Put<uint16_t>(0x94, plus ? 240 : 224);
    Put<uint16_t>(0x96, 0x0102);
    const size_t oh = OptionalHeader();
    Put<uint16_t>(oh, plus ? 0x20B : 0x10B);
    Put<uint32_t>(oh + 4, 0x200);  // SizeOfCode
    Put<uint32_t>(oh + 8, rsrcSize); // SizeOfInitializedData
    Put<uint32_t>(oh + 16, 0x1000); // entry point
    Put<uint32_t>(oh + (plus ? 24 : 28), 0x400000);
    Put<uint32_t>(oh + 32, 0x1000); // SectionAlignment
    Put<uint32_t>(oh + 36, 0x200);  // FileAlignment
    Put<uint32_t>(oh + 56, (kRsrcRva + rsrcSize + 0xFFF) & ~0xFFFu); // SizeOfImage
    Put<uint32_t>(oh + 60, 0x400); // SizeOfHeaders
    Put<uint16_t>(oh + 68, 2);
    Put<uint32_t>(Directories() - 4, 16);
    Section(0, ".text", kTextRva, 0x200, kTextRaw, 0x60000020);
    Section(1, ".rsrc", kRsrcRva, rsrcSize, kRsrcRaw, 0x40000040);
    SetDirectory(2, kRsrcRva, rsrcSize);
    file[kTextRaw] = 0xC3;
    WriteSampleResources();
  }

  template <class T> void Put(size_t at, T value) { std::memcpy(file.data() + at, &value, sizeof value); }
  size_t OptionalHeader() const { return 0x98; }
  size_t Directories() const { return OptionalHeader() + (plus ? 112 : 96); }
  size_t SectionTable() const { return OptionalHeader() + (plus ? 240 : 224); }
  size_t CheckSumField() const { return OptionalHeader() + 64; }
  void SetDirectory(size_t index, uint32_t rva, uint32_t size) {
    Put<uint32_t>(Directories() + 8 * index, rva);
    Put<uint32_t>(Directories() + 8 * index + 4, size);
  }
  void Section(size_t index, const char *name, uint32_t rva, uint32_t size, uint32_t raw, uint32_t flags) {
    const size_t at = SectionTable() + 40 * index;
    std::memcpy(file.data() + at, name, std::strlen(name));
    Put<uint32_t>(at + 8, size);
    Put<uint32_t>(at + 12, rva);
    Put<uint32_t>(at + 16, size);
    Put<uint32_t>(at + 20, raw);
    Put<uint32_t>(at + 36, flags);
  }

  // Fields of the resource directory, by their offset from its root.
  size_t R(uint32_t offset) const { return kRsrcRaw + offset; }
  void Table(uint32_t at, uint16_t named, uint16_t ids) {
    Put<uint16_t>(R(at) + 12, named);
    Put<uint16_t>(R(at) + 14, ids);
  }
  void Entry(uint32_t table, uint32_t index, uint32_t name, uint32_t target) {
    Put<uint32_t>(R(table) + 16 + 8 * index, name);
    Put<uint32_t>(R(table) + 20 + 8 * index, target);
  }
  void Name(uint32_t at, const std::u16string &name) {
    Put<uint16_t>(R(at), uint16_t(name.size()));
    for (size_t i = 0; i < name.size(); ++i)
      Put<uint16_t>(R(at) + 2 + 2 * i, uint16_t(name[i]));
  }
  void Data(uint32_t entry, uint32_t at, uint32_t size, uint8_t fill) {
    Put<uint32_t>(R(entry), kRsrcRva + at);
    Put<uint32_t>(R(entry) + 4, size);
    std::memset(file.data() + R(at), fill, size);
  }

  // The four resources listed above.
  void WriteSampleResources() {
    Table(0x000, 1, 2);
    Entry(0x000, 0, kHighBit | 0x140, kHighBit | 0x028);
    Entry(0x000, 1, 2, kHighBit | 0x040);
    Entry(0x000, 2, 10, kHighBit | 0x058);
    Table(0x028, 0, 1);
    Entry(0x028, 0, 7, kHighBit | 0x080);
    Table(0x040, 1, 0);
    Entry(0x040, 0, kHighBit | 0x150, kHighBit | 0x098);
    Table(0x058, 2, 0);
    Entry(0x058, 0, kHighBit | 0x160, kHighBit | 0x0B0);
    Entry(0x058, 1, kHighBit | 0x180, kHighBit | 0x0C8);
    const uint32_t languages[] = {0x080, 0x098, 0x0B0, 0x0C8};
    for (uint32_t i = 0; i < 4; ++i) {
      Table(languages[i], 0, 1);
      Entry(languages[i], 0, 0x409, 0x100 + 0x10 * i);
    }
    Name(0x140, u"MYTYPE");
    Name(0x150, u"LOGO");
    Name(0x160, u"TKESTRELIX");
    Name(0x180, u"ZFORM");
    Data(0x100, 0x200, 16, 0x71);
    Data(0x110, 0x220, 32, 0x22);
    Data(0x120, 0x260, 16, 0xA1);
    Data(0x130, 0x280, 8, 0xF0);
  }
};

} // namespace kxembed_test
