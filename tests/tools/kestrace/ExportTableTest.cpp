// Finding the export in PE32 and PE32+ images: by its exact name, not forwarded, and never reading
// past what the image holds; and the product exe's own export table.
#include "ExportTable.h"
#include "PeImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace kestrace {
namespace {

// An image as the loader lays it out, with an export directory at 0x1000 and names after it.
class FakeImage {
public:
  explicit FakeImage(bool pe32Plus) : FBytes(0x3000, 0) {
    Put<uint16_t>(0, 0x5a4d);
    Put<uint32_t>(0x3c, 0x80);
    Put<uint32_t>(0x80, 0x00004550);
    const uint32_t optional = 0x80 + 24;
    Put<uint16_t>(optional, pe32Plus ? 0x20b : 0x10b);
    const uint32_t directories = optional + (pe32Plus ? 108 : 92);
    Put<uint32_t>(directories, 16);
    Put<uint32_t>(directories + 4, kExportDir);
    Put<uint32_t>(directories + 8, 0x400);
  }
  // Adds an export; names must be added in the order of the name table (sorted).
  void Export(const std::string &name, uint32_t rva) { FExports.push_back({name, rva}); }
  void Finish() {
    const uint32_t count = uint32_t(FExports.size());
    const uint32_t functions = kExportDir + 40, names = functions + 4 * count, ordinals = names + 4 * count;
    uint32_t text = ordinals + 2 * count;
    Put<uint32_t>(kExportDir + 20, count);
    Put<uint32_t>(kExportDir + 24, count);
    Put<uint32_t>(kExportDir + 28, functions);
    Put<uint32_t>(kExportDir + 32, names);
    Put<uint32_t>(kExportDir + 36, ordinals);
    for (uint32_t i = 0; i < count; ++i) {
      const uint16_t ordinal = uint16_t(count - 1 - i); // the function table in another order
      Put<uint32_t>(functions + 4 * ordinal, FExports[i].second);
      Put<uint16_t>(ordinals + 2 * i, ordinal);
      Put<uint32_t>(names + 4 * i, text);
      std::memcpy(FBytes.data() + text, FExports[i].first.c_str(), FExports[i].first.size() + 1);
      text += uint32_t(FExports[i].first.size() + 1);
    }
  }
  template <class T> void Put(uint32_t at, T value) { std::memcpy(FBytes.data() + at, &value, sizeof value); }

  ImageReader Reader(size_t limit = SIZE_MAX) const {
    return [this, limit](uint32_t rva, void *buffer, size_t size) {
      const size_t end = std::min(limit, FBytes.size());
      if (rva > end || size > end - rva)
        return false;
      std::memcpy(buffer, FBytes.data() + rva, size);
      return true;
    };
  }

  static constexpr uint32_t kExportDir = 0x1000;

private:
  std::vector<uint8_t> FBytes;
  std::vector<std::pair<std::string, uint32_t>> FExports;
};

TEST(ExportTable, FindsTheFunctionByItsExactName) {
  for (bool pe32Plus : {false, true}) {
    SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
    FakeImage image(pe32Plus);
    image.Export("alpha", 0x2100);
    image.Export("kesTraceProcess", 0x15c0);
    image.Export("kesTraceProcessEx", 0x2200);
    image.Finish();
    EXPECT_EQ(ExportRva(image.Reader(), "kesTraceProcess"), 0x15c0u);
    EXPECT_EQ(ExportRva(image.Reader(), "alpha"), 0x2100u);
    EXPECT_EQ(ExportRva(image.Reader(), "kesTraceProcessEx"), 0x2200u);
    for (const char *other : {"kesTrace", "kesTraceProcess@4", "KESTRACEPROCESS"})
      EXPECT_EQ(ExportRva(image.Reader(), other), std::nullopt) << other;
  }
}

TEST(ExportTable, ForwardedExportsAndBrokenImagesGiveNothing) {
  FakeImage forwarded(false);
  forwarded.Export("kesTraceProcess", FakeImage::kExportDir + 0x300); // inside the export directory
  forwarded.Finish();
  EXPECT_EQ(ExportRva(forwarded.Reader(), "kesTraceProcess"), std::nullopt);
  FakeImage image(false);
  image.Export("kesTraceProcess", 0x15c0);
  image.Finish();
  EXPECT_EQ(ExportRva(image.Reader(FakeImage::kExportDir + 30), "kesTraceProcess"), std::nullopt); // cut short
  image.Put<uint32_t>(FakeImage::kExportDir + 20, 0); // no function for the ordinal
  EXPECT_EQ(ExportRva(image.Reader(), "kesTraceProcess"), std::nullopt);
  image.Put<uint32_t>(0x80, 0x00004551); // not a PE image
  EXPECT_EQ(ExportRva(image.Reader(), "kesTraceProcess"), std::nullopt);
}

#ifdef PRODUCT_EXE
TEST(ExportTable, TheProductExportsKesTraceProcessUndecorated) {
  std::ifstream in(PRODUCT_EXE, std::ios::binary);
  if (!in)
    GTEST_SKIP() << "no product exe at " << PRODUCT_EXE;
  in.seekg(0, std::ios::end);
  std::vector<uint8_t> file(size_t(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char *>(file.data()), std::streamsize(file.size()));
  ASSERT_TRUE(in);
  std::optional<debuginfo::PeImage> pe = debuginfo::PeImage::Parse(file.data(), file.size());
  ASSERT_TRUE(pe);
  std::vector<uint8_t> image = pe->MapImage(file.data(), file.size());
  ImageReader read = [&](uint32_t rva, void *buffer, size_t size) {
    if (rva > image.size() || size > image.size() - rva)
      return false;
    std::memcpy(buffer, image.data() + rva, size);
    return true;
  };
  std::optional<uint32_t> rva = ExportRva(read, "kesTraceProcess");
  ASSERT_TRUE(rva);
  EXPECT_GE(*rva, pe->BaseOfCode);
  EXPECT_LT(*rva, pe->BaseOfCode + pe->SizeOfCode);
  // The only export.
  ASSERT_GE(pe->DataDirectories.size(), 1u);
  uint32_t names = 0;
  std::memcpy(&names, image.data() + pe->DataDirectories[0].first + 24, 4);
  EXPECT_EQ(names, 1u);
}
#endif

} // namespace
} // namespace kestrace
