// The portable bitmap through INVBitmap: saving through the file interface, including the files
// that must not be left behind when writing fails.
#include <gtest/gtest.h>

#include "crash/output/image/NVBmpReader.h"
#include "crash/output/image/NVMemoryBitmap.h"
#include "tests/crash/output/image/TestPictures.h"

namespace kx::test {
namespace {

const std::u16string kPng = u"C:\\Temp\\Tidewell.Kestrelix\\screenShot.png";
const std::u16string kBmp = u"C:\\Temp\\Tidewell.Kestrelix\\screenShot.bmp";

struct BitmapFixture : ::testing::Test {
  std::shared_ptr<MemoryImageFileSystem> files = std::make_shared<MemoryImageFileSystem>();
  std::shared_ptr<TNVMemoryBitmap> bitmap = CreateMemoryBitmap(GradientPicture(40, 30), files);
};

TEST_F(BitmapFixture, SavesExactlyWhatTheTextFormsHold) {
  auto twin = CreateMemoryBitmap(GradientPicture(40, 30), nullptr);
  ASSERT_TRUE(bitmap->SavePng(kPng, pfColour));
  EXPECT_EQ(files->files[kPng], twin->AsPngStr(pfColour));
  ASSERT_TRUE(bitmap->SaveBmp(kBmp));
  EXPECT_EQ(files->files[kBmp], bitmap->AsBmpStr());
  // The BMP text reads back as the same picture.
  NVBmpImage image = ReadBmp(files->files[kBmp]);
  ASSERT_TRUE(image.Ok());
  EXPECT_EQ(image.pixels.Bits(), bitmap->Buffer().Bits());
}

TEST_F(BitmapFixture, ReplacesAnOldFile) {
  files->files[kPng] = "an older and much longer screenshot file";
  ASSERT_TRUE(bitmap->SavePng(kPng, pfGrey));
  EXPECT_EQ(files->files[kPng].substr(1, 3), "PNG");
  EXPECT_EQ(files->files[kPng], CreateMemoryBitmap(GradientPicture(40, 30), nullptr)->AsPngStr(pfGrey));
}

TEST_F(BitmapFixture, AFileNotWrittenCompletelyIsDeleted) {
  files->failWrite = true;
  EXPECT_FALSE(bitmap->SavePng(kPng, pfColour));
  EXPECT_FALSE(bitmap->SaveBmp(kBmp));
  EXPECT_TRUE(files->files.empty());
  files->failWrite = false;
  files->failClose = true;
  EXPECT_FALSE(bitmap->SaveBmp(kBmp));
  EXPECT_TRUE(files->files.empty());
  files->failClose = false;
  files->failCreate = true;
  EXPECT_FALSE(bitmap->SaveBmp(kBmp));
  EXPECT_TRUE(files->files.empty());
}

TEST(Bitmap, WithoutAFileSystemNothingIsSavedButTheTextsWork) {
  auto bitmap = CreateMemoryBitmap(GradientPicture(5, 4), nullptr);
  EXPECT_FALSE(bitmap->SavePng(kPng, pfColour));
  EXPECT_EQ(bitmap->GetWidth(), 5);
  EXPECT_EQ(bitmap->GetHeight(), 4);
  EXPECT_FALSE(bitmap->Draw(0, 0, 0));
  EXPECT_EQ(bitmap->AsBmpStr().size(), 54u + 80u);
  EXPECT_FALSE(bitmap->AsPngStr(pfColour).empty());
  EXPECT_FALSE(CreateMemoryBitmap(NVPixelBuffer(), nullptr));
}

TEST(ImageFiles, EmptyBytesCreateNoFileAndLeaveAnOldOneAlone) {
  MemoryImageFileSystem files;
  files.files[kPng] = "old";
  EXPECT_FALSE(WriteImageFile(files, kPng, ""));
  EXPECT_EQ(files.files[kPng], "old");
}

} // namespace
} // namespace kx::test
