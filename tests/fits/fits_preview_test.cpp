// Thumbnails of FITS and PGM/PPM files for the open dialog.
#include <filesystem>

#include "core/settings.h"
#include "fits_test_util.h"
#include "store/fits/fits_preview.h"
#include "store/image_store.h"
#include "store/pictures/pnm_preview.h"
#include "test_support.h"

namespace astrelon {
namespace {

class FitsPreviewTest : public test::StoreTest {
protected:
  std::string Write(const std::vector<uint8_t>& bytes, const std::string& name) {
    const std::string file = dir_.file(name);
    test::WriteAll(file, bytes);
    return file;
  }
  test::TempDir dir_;
  test::TRecordingUi ui_;
};

TEST(PreviewThumbnail, FitsTheBox) {
  TThumbnailSize t = PreviewThumbnailSize(4000, 3000);
  EXPECT_EQ(t.Width, 248);
  EXPECT_EQ(t.Height, 186);
  t = PreviewThumbnailSize(1000, 500);
  EXPECT_EQ(t.Width, 280);
  EXPECT_EQ(t.Height, 140);
  t = PreviewThumbnailSize(100000, 1);
  EXPECT_EQ(t.Height, 1);
}

TEST_F(FitsPreviewTest, FitsThumbnailSamplesRowsAndColumns) {
  // 560 x 10, 16 bit: every second column and a third of a row per thumbnail row.
  std::vector<uint8_t> d;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 560; ++x) test::PutBe16(d, int16_t(y * 1000 + x));
  const std::string file = Write(test::FitsFile(test::ImageCards(16, 560, 10), d), "p.fit");
  int32_t w = 0, h = 0;
  ASSERT_TRUE(LoadFitsPreview(5, file, w, h));
  EXPECT_EQ(w, 560);
  EXPECT_EQ(h, 10);
  const TImageSlot& im = Store.Image[5];
  ASSERT_EQ(im.Width, 280);
  ASSERT_EQ(im.Height, 5);
  // Sample step 0.999 / 0.5 = 1.998: column 3 reads Trunc(5.994) = 5, row 4 reads 7.
  EXPECT_EQ(im.At(1, 3, 4), 7005.0f);
  EXPECT_EQ(im.At(1, 279, 0), 557.0f);
  EXPECT_EQ(Store.InUse[5], 1);
  // A refused header shows the reader's message.
  EXPECT_FALSE(LoadFitsPreview(6, test::DataFile("fits/bad/short_data.fit"), w, h));
  EXPECT_EQ(ui_.Messages, std::vector<std::string>{"Der Header konnte nicht erkannt werden!"});
  EXPECT_EQ(Store.InUse[6], 0);
}

TEST_F(FitsPreviewTest, FitsColourThumbnailWithMissingPlanes) {
  std::vector<std::string> cards = test::ImageCards(8, 3, 2, 2);
  const std::string file = Write(test::FitsFile(cards, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), "c.fit");
  int32_t w = 0, h = 0;
  ASSERT_TRUE(LoadFitsPreview(5, file, w, h));
  const TImageSlot& im = Store.Image[5];
  EXPECT_EQ(im.PlaneCount, 3);
  EXPECT_EQ(im.At(1, 0, 0), 1.0f);
  EXPECT_EQ(im.At(2, 0, 0), 7.0f);
  EXPECT_EQ(im.At(3, 0, 0), BlankPixel);
}

TEST_F(FitsPreviewTest, PnmThumbnails) {
  // 16-bit PPM: the high byte of each sample, stored blue, green, red.
  std::vector<uint8_t> ppm{'P', '6', '\n', '2', ' ', '1', '\n', '6', '5', '5', '3', '5', '\n'};
  for (uint8_t b : {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}) ppm.push_back(b);
  TDisplayBitmap bitmap;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(LoadPnmPreview(bitmap, Write(ppm, "a.ppm"), w, h));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(bitmap.Format, TBitmapFormat::Bgr24);
  EXPECT_EQ(bitmap.Width, 280);
  EXPECT_EQ(bitmap.Height, 140);
  EXPECT_EQ(bitmap.Row(0)[0], 0x9A);
  EXPECT_EQ(bitmap.Row(0)[1], 0x56);
  EXPECT_EQ(bitmap.Row(0)[2], 0x12);
  // Grey PGM, 8 bit, with rows missing at the end: they stay black.
  const std::vector<uint8_t> pgm{'P', '5', '\n', '1', ' ', '4', '\n', '2', '5', '5', '\n', 200, 100};
  ASSERT_TRUE(LoadPnmPreview(bitmap, Write(pgm, "b.ppm"), w, h));
  EXPECT_EQ(bitmap.Format, TBitmapFormat::Indexed8);
  EXPECT_EQ(bitmap.Row(0)[0], 200);
  EXPECT_EQ(bitmap.Row(bitmap.Height - 1)[0], 0);
  // Magic, width, height and maximum on one line: the height runs into the maximum.
  EXPECT_FALSE(LoadPnmPreview(bitmap, Write({'P', '6', ' ', '6', '4', '0', ' ', '4', '8', '0', ' ', '2', '5', '5', '\n'},
                                            "c.ppm"),
                              w, h));
  EXPECT_FALSE(LoadPnmPreview(bitmap, Write({'P', '3', '\n'}, "d.ppm"), w, h));
  EXPECT_FALSE(LoadPnmPreview(bitmap, Write({'P', '5', '\n', '0', ' ', '4', '\n', '2', '5', '5', '\n'}, "e.ppm"), w, h));
  EXPECT_FALSE(LoadPnmPreview(bitmap, Write({'P', '5'}, "f.ppm"), w, h));
}

}  // namespace
}  // namespace astrelon
