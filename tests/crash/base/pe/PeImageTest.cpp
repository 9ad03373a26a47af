// The PE reader over a small image built here: headers, the export, import and exception
// directories, read from the file's bytes and from the image as the loader maps it, and what
// damaged images give.
#include "crash/base/pe/PeImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace debuginfo {
namespace {

constexpr uint32_t kDataRva = 0x1000, kDataRaw = 0x400, kDataSize = 0x400;
constexpr uint32_t kExportDir = kDataRva, kImportDir = kDataRva + 0x200, kExceptionDir = kDataRva + 0x300;

struct Image {
  std::vector<uint8_t> file = std::vector<uint8_t>(kDataRaw + kDataSize, 0);
  bool plus;

  template <class T> void Put(size_t at, T value) { std::memcpy(file.data() + at, &value, sizeof value); }
  // A file offset inside the data section from its RVA.
  static size_t Raw(uint32_t rva) { return kDataRaw + (rva - kDataRva); }
  void PutText(uint32_t rva, const std::string &text) { std::memcpy(file.data() + Raw(rva), text.c_str(), text.size() + 1); }
  size_t OptionalHeader() const { return 0x98; }
  size_t Directories() const { return OptionalHeader() + (plus ? 112 : 96); }
  void SetDirectory(size_t index, uint32_t rva, uint32_t size) {
    Put<uint32_t>(Directories() + 8 * index, rva);
    Put<uint32_t>(Directories() + 8 * index + 4, size);
  }

  explicit Image(bool pe32Plus = false) : plus(pe32Plus) {
    Put<uint16_t>(0, 0x5A4D);
    Put<uint32_t>(0x3C, 0x80);
    Put<uint32_t>(0x80, 0x00004550);
    Put<uint16_t>(0x84, plus ? 0x8664 : 0x14C);
    Put<uint16_t>(0x86, 1);                       // one section
    Put<uint16_t>(0x94, plus ? 240 : 224);        // SizeOfOptionalHeader
    Put<uint16_t>(0x96, 0x0102);                  // Characteristics
    const size_t oh = OptionalHeader();
    Put<uint16_t>(oh, plus ? 0x20B : 0x10B);
    Put<uint8_t>(oh + 2, 2);                      // linker 2.39
    Put<uint8_t>(oh + 3, 39);
    Put<uint32_t>(oh + (plus ? 24 : 28), 0x400000);
    Put<uint32_t>(oh + 56, 0x2000);               // SizeOfImage
    Put<uint32_t>(oh + 60, 0x400);                // SizeOfHeaders
    Put<uint16_t>(oh + 68, kSubsystemWindowsConsole);
    Put<uint32_t>(Directories() - 4, 16);
    const size_t sh = oh + (plus ? 240 : 224);
    std::memcpy(file.data() + sh, ".data", 5);
    Put<uint32_t>(sh + 8, kDataSize);
    Put<uint32_t>(sh + 12, kDataRva);
    Put<uint32_t>(sh + 16, kDataSize);
    Put<uint32_t>(sh + 20, kDataRaw);
    Put<uint32_t>(sh + 36, 0xC0000040);

    // Exports: three functions, names in the table's order, one of them forwarded.
    SetDirectory(kDirectoryExport, kExportDir, 0x100);
    const uint32_t functions = kExportDir + 40, names = functions + 12, ordinals = names + 12;
    Put<uint32_t>(Raw(kExportDir) + 20, 3);
    Put<uint32_t>(Raw(kExportDir) + 24, 3);
    Put<uint32_t>(Raw(kExportDir) + 28, functions);
    Put<uint32_t>(Raw(kExportDir) + 32, names);
    Put<uint32_t>(Raw(kExportDir) + 36, ordinals);
    const uint32_t rvas[] = {0x1500, kExportDir + 0xC0, 0x1400};
    const char *texts[] = {"gamma", "forwarded", "alpha"};
    uint32_t text = kExportDir + 0x60;
    for (uint32_t i = 0; i < 3; ++i) {
      Put<uint32_t>(Raw(functions) + 4 * (2 - i), rvas[i]);
      Put<uint16_t>(Raw(ordinals) + 2 * i, uint16_t(2 - i));
      Put<uint32_t>(Raw(names) + 4 * i, text);
      PutText(text, texts[i]);
      text += uint32_t(std::strlen(texts[i]) + 1);
    }
    PutText(kExportDir + 0xC0, "OTHER.Function");

    // Imports: two modules, then the empty descriptor.
    SetDirectory(kDirectoryImport, kImportDir, 0x3C);
    const char *modules[] = {"KERNEL32.dll", "USER32.dll"};
    for (uint32_t i = 0; i < 2; ++i) {
      const size_t d = Raw(kImportDir) + 20 * i;
      Put<uint32_t>(d, 0x1280 + 0x10 * i);      // lookup table
      Put<uint32_t>(d + 12, 0x1240 + 0x10 * i); // module name
      Put<uint32_t>(d + 16, 0x12A0 + 0x10 * i); // address table
      PutText(0x1240 + 0x10 * i, modules[i]);
    }

    // Exception directory: two entries.
    SetDirectory(kDirectoryException, kExceptionDir, 24);
    for (uint32_t i = 0; i < 2; ++i) {
      Put<uint32_t>(Raw(kExceptionDir) + 12 * i, 0x1400 + 0x100 * i);
      Put<uint32_t>(Raw(kExceptionDir) + 12 * i + 4, 0x1480 + 0x100 * i);
      Put<uint32_t>(Raw(kExceptionDir) + 12 * i + 8, 0x1380 + 4 * i);
    }
  }
};

// A PE32+ image may be based anywhere: its ImageBase is read whole.
TEST(PeImage, Pe32PlusBasedAboveFourGiB) {
  Image high(true);
  high.Put<uint64_t>(high.OptionalHeader() + 24, 0x00007FF6'12340000ull);
  std::optional<PeImage> pe = PeImage::Parse(high.file.data(), high.file.size());
  ASSERT_TRUE(pe);
  EXPECT_TRUE(pe->Pe32Plus);
  EXPECT_EQ(pe->ImageBase, 0x00007FF6'12340000ull);
  EXPECT_EQ(pe->Directory(kDirectoryException), std::make_pair(kExceptionDir, 24u));
}

TEST(PeImage, HeadersOfPe32AndPe32Plus) {
  for (bool plus : {false, true}) {
    Image image(plus);
    std::optional<PeImage> pe = PeImage::Parse(image.file.data(), image.file.size());
    ASSERT_TRUE(pe) << plus;
    EXPECT_EQ(pe->Pe32Plus, plus);
    EXPECT_EQ(pe->HeadersOffset, 0x80u);
    EXPECT_EQ(pe->Machine, plus ? 0x8664 : 0x14C);
    EXPECT_EQ(pe->Characteristics, 0x0102);
    EXPECT_EQ(pe->MajorLinkerVersion, 2);
    EXPECT_EQ(pe->MinorLinkerVersion, 39);
    EXPECT_EQ(pe->ImageBase, 0x400000u);
    EXPECT_EQ(pe->SizeOfImage, 0x2000u);
    EXPECT_EQ(pe->Subsystem, kSubsystemWindowsConsole);
    EXPECT_EQ(pe->Directory(kDirectoryImport), std::make_pair(kImportDir, 0x3Cu));
    EXPECT_EQ(pe->Directory(16), std::make_pair(0u, 0u));
    ASSERT_EQ(pe->Sections.size(), 1u);
    EXPECT_EQ(pe->Sections[0].Name, ".data");
    EXPECT_EQ(pe->Sections[0].PointerToRawData, kDataRaw);
  }
}

TEST(PeImage, AnOptionalHeaderWithoutDirectories) {
  Image image;
  // The section table moves up to where the shorter optional header ends.
  std::memmove(image.file.data() + 0x98 + 96, image.file.data() + 0x98 + 224, 40);
  image.Put<uint16_t>(0x94, 96);
  std::optional<PeImage> pe = PeImage::Parse(image.file.data(), 0x98 + 96 + 40);
  ASSERT_TRUE(pe);
  EXPECT_TRUE(pe->DataDirectories.empty());
  EXPECT_EQ(pe->Directory(kDirectoryExport), std::make_pair(0u, 0u));
  ASSERT_EQ(pe->Sections.size(), 1u);
  EXPECT_EQ(pe->Sections[0].VirtualAddress, kDataRva);
}

TEST(PeImage, DamagedHeadersGiveNothing) {
  Image good;
  for (size_t cut : {size_t(0), size_t(0x3F), size_t(0x83), size_t(0x99), size_t(0x100), size_t(0x19F)})
    EXPECT_FALSE(PeImage::Parse(good.file.data(), cut)) << cut; // each cut inside the headers
  Image notPe;
  notPe.Put<uint32_t>(0x80, 0x00004551);
  EXPECT_FALSE(PeImage::Parse(notPe.file.data(), notPe.file.size()));
  Image farAway;
  farAway.Put<uint32_t>(0x3C, 0xFFFFFFF0u); // the NT headers past anything there is
  EXPECT_FALSE(PeImage::Parse(farAway.file.data(), farAway.file.size()));
  Image shortOptional;
  shortOptional.Put<uint16_t>(0x94, 95);
  EXPECT_FALSE(PeImage::Parse(shortOptional.file.data(), shortOptional.file.size()));
  Image manySections;
  manySections.Put<uint16_t>(0x86, 0xFFFF); // a table running past the end
  EXPECT_FALSE(PeImage::Parse(manySections.file.data(), manySections.file.size()));
}

// The directories read the same from the file (through the section table) and from the image as
// the loader maps it (RVA = offset).
void ExpectDirectories(const PeSource &source, const PeImage &pe) {
  auto [exportRva, exportSize] = pe.Directory(kDirectoryExport);
  std::vector<PeExport> exports = ReadExports(source, exportRva, exportSize);
  ASSERT_EQ(exports.size(), 2u); // the forwarder is left out
  EXPECT_EQ(exports[0].Name, "gamma");
  EXPECT_EQ(exports[0].Rva, 0x1500u);
  EXPECT_EQ(exports[1].Name, "alpha");
  EXPECT_EQ(exports[1].Rva, 0x1400u);
  EXPECT_EQ(FindExport(source, "alpha"), 0x1400u);
  EXPECT_EQ(FindExport(source, "forwarded"), std::nullopt);
  EXPECT_EQ(FindExport(source, "alph"), std::nullopt);

  auto [importRva, importSize] = pe.Directory(kDirectoryImport);
  std::optional<std::vector<PeImport>> imports = ReadImports(source, importRva, importSize);
  ASSERT_TRUE(imports);
  ASSERT_EQ(imports->size(), 2u);
  EXPECT_EQ((*imports)[0].Module, "KERNEL32.dll");
  EXPECT_EQ((*imports)[0].LookupTable, 0x1280u);
  EXPECT_EQ((*imports)[1].Module, "USER32.dll");
  EXPECT_EQ((*imports)[1].AddressTable, 0x12B0u);

  auto [exceptionRva, exceptionSize] = pe.Directory(kDirectoryException);
  std::vector<PeRuntimeFunction> functions = ReadRuntimeFunctions(source, exceptionRva, exceptionSize);
  ASSERT_EQ(functions.size(), 2u);
  EXPECT_EQ(functions[1].Begin, 0x1500u);
  EXPECT_EQ(functions[1].End, 0x1580u);
  EXPECT_EQ(functions[1].UnwindInfo, 0x1384u);
}

TEST(PeImage, DirectoriesFromTheFileAndFromTheMappedImage) {
  for (bool plus : {false, true}) {
    Image image(plus);
    std::optional<PeImage> pe = PeImage::Parse(image.file.data(), image.file.size());
    ASSERT_TRUE(pe);
    ExpectDirectories(PeFileRvas(*pe, image.file), *pe);
    const std::vector<uint8_t> mapped = pe->MapImage(image.file.data(), image.file.size());
    ASSERT_EQ(mapped.size(), 0x2000u);
    const PeSpan span(mapped);
    std::optional<PeImage> fromMapped = PeImage::Parse(span);
    ASSERT_TRUE(fromMapped);
    EXPECT_EQ(fromMapped->SizeOfImage, pe->SizeOfImage);
    ExpectDirectories(span, *fromMapped);
  }
}

TEST(PeImage, DamagedDirectoriesStayInsideTheImage) {
  Image image;
  std::optional<PeImage> pe = PeImage::Parse(image.file.data(), image.file.size());
  ASSERT_TRUE(pe);
  std::vector<uint8_t> mapped = pe->MapImage(image.file.data(), image.file.size());

  // A name that runs to the end of the image is cut there; one of more than 255 characters is
  // cut at 255.
  const uint32_t nameRva = kExportDir + 0x60; // "gamma"
  std::memset(mapped.data() + nameRva, 'n', mapped.size() - nameRva);
  std::vector<PeExport> exports = ReadExports(PeSpan(mapped), kExportDir, 0x100);
  ASSERT_FALSE(exports.empty());
  EXPECT_EQ(exports[0].Name, std::string(255, 'n'));
  std::vector<uint8_t> cut(mapped.begin(), mapped.begin() + nameRva + 3);
  exports = ReadExports(PeSpan(cut), kExportDir, 0x100);
  ASSERT_EQ(exports.size(), 1u);
  EXPECT_EQ(exports[0].Name, "nnn");

  // Counts far beyond the tables read only what is there.
  Image huge;
  huge.Put<uint32_t>(Image::Raw(kExportDir) + 24, 0xFFFFFFFF);
  huge.Put<uint32_t>(Image::Raw(kExportDir) + 20, 0xFFFFFFFF);
  pe = PeImage::Parse(huge.file.data(), huge.file.size());
  ASSERT_TRUE(pe);
  EXPECT_LE(ReadExports(PeFileRvas(*pe, huge.file), kExportDir, 0x100).size(), 0x400u);
  EXPECT_EQ(ReadRuntimeFunctions(PeFileRvas(*pe, huge.file), kExceptionDir, 0xFFFFFFF0u).size(),
            (kDataRva + kDataSize - kExceptionDir) / 12);

  // An import directory that runs out of the image is broken; one without its empty
  // descriptor ends with the directory.
  EXPECT_FALSE(ReadImports(PeSpan(mapped), 0x1FF0, 0x28));
  std::optional<std::vector<PeImport>> imports = ReadImports(PeSpan(mapped), kImportDir, 20);
  ASSERT_TRUE(imports);
  EXPECT_EQ(imports->size(), 1u);

  // Directory RVAs near 4 GiB do not wrap around to the start of the image.
  EXPECT_TRUE(ReadExports(PeSpan(mapped), 0xFFFFFFF0u, 0x100).empty());
  EXPECT_TRUE(ReadRuntimeFunctions(PeSpan(mapped), 0xFFFFFFF8u, 24).empty());
  EXPECT_FALSE(ReadImports(PeSpan(mapped), 0xFFFFFFF0u, 0x20));
}

TEST(PeImage, FileRvasReadOnlyWhatTheFileHolds) {
  Image image;
  std::optional<PeImage> pe = PeImage::Parse(image.file.data(), image.file.size());
  ASSERT_TRUE(pe);
  PeFileRvas rvas(*pe, image.file);
  uint8_t b[8];
  EXPECT_TRUE(rvas.Read(0, b, 2)); // the headers
  EXPECT_EQ(b[0], 'M');
  EXPECT_TRUE(rvas.Read(kDataRva + kDataSize - 8, b, 8));
  EXPECT_FALSE(rvas.Read(kDataRva + kDataSize - 4, b, 8)); // runs out of the section's raw data
  EXPECT_FALSE(rvas.Read(0x3FC, b, 8));                    // runs out of the headers
  EXPECT_FALSE(rvas.Read(0x1800, b, 1));                   // between sections
  EXPECT_FALSE(rvas.Read(~uint64_t(0), b, 2));
}


// Bytes at RVAs from 0, counting the reads.
struct CountingSource : PeSource {
  std::vector<uint8_t> bytes;
  mutable size_t reads = 0;
  bool Read(uint64_t offset, void *out, size_t size) const override {
    ++reads;
    return PeSpan(bytes).Read(offset, out, size);
  }
  void Put32(size_t at, uint32_t value) {
    if (bytes.size() < at + 4)
      bytes.resize(at + 4);
    std::memcpy(bytes.data() + at, &value, 4);
  }
};

TEST(RuntimeFunctions, BinarySearchFindsTheCoveringEntry) {
  Image image(true);
  std::vector<uint8_t> mapped = PeImage::Parse(image.file.data(), image.file.size())->MapImage(image.file.data(), image.file.size());
  const PeSpan span(mapped);
  // The two entries: [0x1400, 0x1480) and [0x1500, 0x1580).
  for (uint32_t rva : {0x1400u, 0x147Fu, 0x1500u, 0x157Fu}) {
    PeRuntimeFunctionLookup found = FindRuntimeFunction(span, kExceptionDir, 24, rva);
    ASSERT_EQ(found.Status, PeLookup::Found) << std::hex << rva;
    EXPECT_EQ(found.Function.Begin, rva < 0x1500 ? 0x1400u : 0x1500u);
    EXPECT_EQ(found.Function.End, found.Function.Begin + 0x80);
    EXPECT_EQ(found.Function.UnwindInfo, rva < 0x1500 ? 0x1380u : 0x1384u);
  }
  for (uint32_t rva : {0u, 0x13FFu, 0x1480u, 0x14FFu, 0x1580u, 0xFFFFFFFFu})
    EXPECT_EQ(FindRuntimeFunction(span, kExceptionDir, 24, rva).Status, PeLookup::NotFound) << std::hex << rva;
  EXPECT_EQ(FindRuntimeFunction(span, kExceptionDir, 0, 0x1400).Status, PeLookup::NotFound);
  EXPECT_EQ(FindRuntimeFunction(span, kExceptionDir, 11, 0x1400).Status, PeLookup::NotFound); // not one whole entry
  // A directory that claims more entries than the image holds: the search reads beyond it.
  EXPECT_EQ(FindRuntimeFunction(span, kExceptionDir, 0xFFFFFFF0u, 0x1400).Status, PeLookup::Unreadable);
  EXPECT_EQ(FindRuntimeFunction(span, 0xFFFFFFF8u, 24, 0x1400).Status, PeLookup::Unreadable);
}

TEST(RuntimeFunctions, SearchReadsLogarithmicallyMany) {
  CountingSource source;
  const uint32_t count = 200000;
  for (uint32_t i = 0; i < count; ++i) { // functions of 0x10 bytes with gaps of 0x10
    source.Put32(12 * i, 0x1000 + 0x20 * i);
    source.Put32(12 * i + 4, 0x1010 + 0x20 * i);
    source.Put32(12 * i + 8, 0x900000 + 4 * i);
  }
  for (uint32_t i : {0u, 1u, 77777u, count - 1}) {
    for (uint32_t delta : {0u, 0xFu, 0x10u}) {
      source.reads = 0;
      PeRuntimeFunctionLookup found = FindRuntimeFunction(source, 0, 12 * count, 0x1000 + 0x20 * i + delta);
      EXPECT_EQ(found.Status, delta < 0x10 ? PeLookup::Found : PeLookup::NotFound);
      if (delta < 0x10) {
        EXPECT_EQ(found.Function.UnwindInfo, 0x900000 + 4 * i);
      }
      EXPECT_LE(source.reads, 19u); // log2(200000) + 1
    }
  }
  // Unsorted entries: the search still ends after as many reads.
  for (uint32_t i = 0; i < count; ++i)
    source.Put32(12 * i, (i * 2654435761u) >> 8);
  source.reads = 0;
  (void)FindRuntimeFunction(source, 0, 12 * count, 0x123456);
  EXPECT_LE(source.reads, 19u);
}

// An unwind record at RVA 0 of a source of the given bytes.
std::optional<PeUnwindInfo> Unwind(const std::vector<uint8_t> &bytes) { return ReadUnwindInfo(PeSpan(bytes), 0); }

TEST(UnwindInfo, EveryOperationWithItsOperands) {
  const std::vector<uint8_t> bytes = {
      0x01 | 0x01 << 3, 0x30, 19, 0x35, // version 1, exception handler; prolog 0x30; 19 slots; rbp, offset 3
      0x30, 0x40 | 9, 0x10, 0x00, 0x02, 0x00,  // save xmm4 far at 0x20010
      0x2C, 0x38, 0x03, 0x00,                   // save xmm3 at 3 * 16
      0x28, 0x75, 0x34, 0x12, 0x01, 0x00,       // save rdi far at 0x11234
      0x22, 0x64, 0x05, 0x00,                   // save rsi at 5 * 8
      0x1E, 0x03,                               // set the frame register
      0x1A, 0x11, 0x00, 0x00, 0x09, 0x00,       // allocate 0x90000
      0x12, 0x01, 0x00, 0x04,                   // allocate 0x400 * 8
      0x0C, 0xF2,                               // allocate 15 * 8 + 8
      0x08, 0xC0,                               // push r12
      0x02, 0x1A,                               // push a machine frame with an error code
      0x00, 0x00,                               // padding to an even count
      0x78, 0x56, 0x34, 0x12,                   // the handler
  };
  std::optional<PeUnwindInfo> info = Unwind(bytes);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Version, 1);
  EXPECT_EQ(info->Flags, kUnwindFlagExceptionHandler);
  EXPECT_EQ(info->SizeOfProlog, 0x30);
  EXPECT_EQ(info->CountOfCodes, 19);
  EXPECT_EQ(info->FrameRegister, 5);
  EXPECT_EQ(info->FrameOffset, 3);
  EXPECT_FALSE(info->Chained);
  EXPECT_EQ(info->Handler, 0x12345678u);
  EXPECT_EQ(info->HandlerData, 4u + 20 * 2 + 4);
  struct Expected {
    uint8_t offset;
    PeUnwindOp op;
    uint8_t info;
    uint32_t value;
    uint8_t slots;
  };
  const Expected expected[] = {
      {0x30, PeUnwindOp::SaveXmm128Far, 4, 0x20010, 3}, {0x2C, PeUnwindOp::SaveXmm128, 3, 0x30, 2},
      {0x28, PeUnwindOp::SaveNonvolFar, 7, 0x11234, 3}, {0x22, PeUnwindOp::SaveNonvol, 6, 0x28, 2},
      {0x1E, PeUnwindOp::SetFpreg, 0, 0, 1},            {0x1A, PeUnwindOp::AllocLarge, 1, 0x90000, 3},
      {0x12, PeUnwindOp::AllocLarge, 0, 0x2000, 2},      {0x0C, PeUnwindOp::AllocSmall, 15, 0x80, 1},
      {0x08, PeUnwindOp::PushNonvol, 12, 0, 1},          {0x02, PeUnwindOp::PushMachframe, 1, 0, 1},
  };
  ASSERT_EQ(info->Codes.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const PeUnwindCode &c = info->Codes[i];
    EXPECT_EQ(c.CodeOffset, expected[i].offset) << i;
    EXPECT_EQ(c.Op, expected[i].op) << i;
    EXPECT_EQ(c.Info, expected[i].info) << i;
    EXPECT_EQ(c.Value, expected[i].value) << i;
    EXPECT_EQ(c.Slots, expected[i].slots) << i;
  }
}

TEST(UnwindInfo, ChainAfterPaddingAndVersionTwoEpilogs) {
  // Version 2: two epilog codes, then a push; three slots, padded to four; then the chained entry.
  const std::vector<uint8_t> bytes = {0x02 | 0x04 << 3, 0x04, 3, 0x00, 0x05, 0x16, 0x20, 0x06, 0x04, 0x30,
                                      0xEE, 0xEE, 0x00, 0x11, 0, 0, 0x40, 0x11, 0, 0, 0x80, 0x23, 0, 0};
  std::optional<PeUnwindInfo> info = Unwind(bytes);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Version, 2);
  ASSERT_EQ(info->Codes.size(), 3u);
  EXPECT_EQ(info->Codes[0].Op, PeUnwindOp::Epilog);
  EXPECT_EQ(info->Codes[1].Op, PeUnwindOp::Epilog);
  EXPECT_EQ(info->Codes[2].Op, PeUnwindOp::PushNonvol);
  EXPECT_EQ(info->Codes[2].Info, 3);
  ASSERT_TRUE(info->Chained);
  EXPECT_EQ(info->Chained->Begin, 0x1100u);
  EXPECT_EQ(info->Chained->End, 0x1140u);
  EXPECT_EQ(info->Chained->UnwindInfo, 0x2380u);
  EXPECT_EQ(info->Handler, 0u);

  // Every cut of the record is refused, where the codes or the chained entry are not all there.
  for (size_t cut = 0; cut < bytes.size(); ++cut)
    EXPECT_FALSE(Unwind(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut)))) << cut;
}

TEST(UnwindInfo, MalformedRecordsAreRefused) {
  // {version/flags, prolog, count, frame} + codes
  const std::vector<std::vector<uint8_t>> bad = {
      {0x03, 0, 0, 0},                        // version 3
      {0x00, 0, 0, 0},                        // version 0
      {0x01, 4, 1, 0, 0x04, 0x01, 0, 0},      // allocate large in one slot only
      {0x01, 4, 2, 0, 0x04, 0x11, 0, 0},      // the 32-bit form in two
      {0x01, 4, 1, 0, 0x04, 0x21, 0, 0},      // a third form of allocate large
      {0x01, 4, 1, 0, 0x04, 0x04, 0, 0},      // save without its offset
      {0x01, 4, 2, 0, 0x04, 0x05, 0, 0},      // save far without its high half
      {0x01, 4, 1, 0, 0x04, 0x08, 0, 0},      // save xmm without its offset
      {0x01, 4, 1, 0, 0x04, 0x06, 0, 0},      // 6 in version 1
      {0x01, 4, 1, 0, 0x04, 0x07, 0, 0},      // 7
      {0x01, 4, 1, 0, 0x04, 0x0B, 0, 0},      // 11
      {0x01, 4, 1, 0, 0x04, 0x0F, 0, 0},      // 15
      {0x02, 4, 1, 0, 0x04, 0x07, 0, 0},      // 7 in version 2
      {0x01, 4, 1, 0, 0x04, 0x2A, 0, 0},      // a machine frame of a third kind
      {0x01, 4, 1, 0, 0x04, 0x03, 0, 0},      // set the frame register without one
      {0x01 | 0x01 << 3, 0, 0, 0, 1, 2},      // a handler cut short
  };
  for (size_t i = 0; i < bad.size(); ++i)
    EXPECT_FALSE(Unwind(bad[i])) << i;
  // An RVA near 4 GiB does not wrap to the start.
  std::vector<uint8_t> good = {0x01, 0, 0, 0};
  EXPECT_TRUE(Unwind(good));
  EXPECT_FALSE(ReadUnwindInfo(PeSpan(good), 0xFFFFFFFFu));
}

} // namespace
} // namespace debuginfo
