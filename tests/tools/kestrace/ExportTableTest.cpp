// Finding the export in PE32 and PE32+ images: by its exact name, not forwarded, and never reading
// past what the image holds; and the product exe's own export table.
#include "crash/base/pe/PeImage.h"
#include "tools/kestrace/ExportTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace kestrace {
namespace {

// An image as the loader lays it out: headers, an export directory at 0x1000, its tables and names.
struct FakeImage {
  static constexpr uint32_t kExportDir = 0x1000;
  std::vector<uint8_t> bytes = std::vector<uint8_t>(0x3000, 0);
  size_t readable = SIZE_MAX;

  template <class T> void Put(uint32_t at, T value) { std::memcpy(bytes.data() + at, &value, sizeof value); }
  FakeImage(bool pe32Plus, const std::vector<std::pair<std::string, uint32_t>> &exports) {
    Put<uint16_t>(0, 0x5a4d);
    Put<uint32_t>(0x3c, 0x80);
    Put<uint32_t>(0x80, 0x00004550);
    Put<uint16_t>(0x98, pe32Plus ? 0x20b : 0x10b);
    const uint32_t directories = 0x98 + (pe32Plus ? 108 : 92);
    Put<uint32_t>(directories, 16);
    Put<uint32_t>(directories + 4, kExportDir);
    Put<uint32_t>(directories + 8, 0x400);
    const uint32_t n = uint32_t(exports.size()), functions = kExportDir + 40, names = functions + 4 * n,
                   ordinals = names + 4 * n;
    for (uint32_t at : {20u, 24u})
      Put<uint32_t>(kExportDir + at, n);
    Put<uint32_t>(kExportDir + 28, functions);
    Put<uint32_t>(kExportDir + 32, names);
    Put<uint32_t>(kExportDir + 36, ordinals);
    uint32_t text = ordinals + 2 * n;
    for (uint32_t i = 0; i < n; ++i) {
      const uint16_t ordinal = uint16_t(n - 1 - i); // the function table in another order
      Put<uint32_t>(functions + 4 * ordinal, exports[i].second);
      Put<uint16_t>(ordinals + 2 * i, ordinal);
      Put<uint32_t>(names + 4 * i, text);
      std::memcpy(bytes.data() + text, exports[i].first.c_str(), exports[i].first.size() + 1);
      text += uint32_t(exports[i].first.size() + 1);
    }
  }
  std::optional<uint32_t> Find(std::string_view name) const {
    return ExportRva(
        [this](uint32_t rva, void *buffer, size_t size) {
          const size_t end = std::min(readable, bytes.size());
          if (rva > end || size > end - rva)
            return false;
          std::memcpy(buffer, bytes.data() + rva, size);
          return true;
        },
        name);
  }
};

TEST(ExportTable, FindsTheFunctionByItsExactName) {
  for (bool pe32Plus : {false, true}) {
    FakeImage image(pe32Plus, {{"alpha", 0x2100}, {"kesTraceProcess", 0x15c0}, {"kesTraceProcessEx", 0x2200}});
    EXPECT_EQ(image.Find("kesTraceProcess"), 0x15c0u);
    EXPECT_EQ(image.Find("alpha"), 0x2100u);
    EXPECT_EQ(image.Find("kesTraceProcessEx"), 0x2200u);
    for (const char *other : {"kesTrace", "kesTraceProcess@4", "KESTRACEPROCESS"})
      EXPECT_EQ(image.Find(other), std::nullopt) << other;
  }
}

TEST(ExportTable, ForwardedExportsAndBrokenImagesGiveNothing) {
  FakeImage forwarded(false, {{"kesTraceProcess", FakeImage::kExportDir + 0x300}}); // a "module.function" text
  EXPECT_EQ(forwarded.Find("kesTraceProcess"), std::nullopt);
  FakeImage image(false, {{"kesTraceProcess", 0x15c0}});
  image.readable = FakeImage::kExportDir + 30; // cut short
  EXPECT_EQ(image.Find("kesTraceProcess"), std::nullopt);
  image.readable = SIZE_MAX;
  image.Put<uint32_t>(FakeImage::kExportDir + 20, 0); // no function for the ordinal
  EXPECT_EQ(image.Find("kesTraceProcess"), std::nullopt);
  image.Put<uint32_t>(0x80, 0x00004551); // not a PE image
  EXPECT_EQ(image.Find("kesTraceProcess"), std::nullopt);
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
