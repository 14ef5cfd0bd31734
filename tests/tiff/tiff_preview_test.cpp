// The open dialog's TIFF preview: picture sizes, values and failures.
#include "store/tiff/tiff_preview.h"

#include <gtest/gtest.h>

#include "test_support.h"
#include "tiff_test_files.h"

namespace astrelon::test {
namespace {

TEST(TiffPreviewSize, FitsTheBoxKeepingTheAspectRatio) {
  auto fit = [](uint32_t w, uint32_t h) {
    const TPreviewSize s = FitPreviewSize(280, 186, w, h);
    return std::pair(s.Width, s.Height);
  };
  EXPECT_EQ(fit(4000, 1000), std::pair(280, 70));
  EXPECT_EQ(fit(1000, 4000), std::pair(46, 186));
  EXPECT_EQ(fit(200, 100), std::pair(200, 100));  // fits: own size
  EXPECT_EQ(fit(100000, 10), std::pair(280, 1));  // at least one row
  EXPECT_EQ(fit(10, 100000), std::pair(1, 186));
}

TEST(TiffPreview, EightBitRgbComesThroughTheRgbaStrips) {
  TPreviewSize size;
  TDisplayBitmap bmp;
  LoadTiffPreview(280, 186, DataFile("libtiff/rgb-3c-8b.tiff"), size, bmp);
  EXPECT_EQ(size.Width, 157);
  EXPECT_EQ(size.Height, 151);
  ASSERT_EQ(bmp.Format, TBitmapFormat::Bgr24);
  EXPECT_EQ(bmp.Width, 157);
  // The reduced picture of a larger box agrees with the full one at the mapped pixels.
  TDisplayBitmap small;
  LoadTiffPreview(50, 50, DataFile("libtiff/rgb-3c-8b.tiff"), size, small);
  ASSERT_EQ(small.Width, 50);
  ASSERT_EQ(small.Height, 48);  // 151 * 50 div 157
  for (int r : {0, 20, 47})
    for (int c : {0, 33, 49}) {
      const int sy = r * 151 / 48, sx = c * 157 / 50;
      for (int k = 0; k < 3; ++k) EXPECT_EQ(small.Row(r)[size_t(c * 3 + k)], bmp.Row(sy)[size_t(sx * 3 + k)]);
    }
}

TEST(TiffPreview, DeepSamplesGiveHighBytes) {
  TempDir dir;
  const std::string f = dir.file("p.tif");
  TTestTiff t;
  t.Width = 3;
  t.Height = 2;
  t.RowsPerStrip = 1;
  t.Data = Bytes(std::vector<uint16_t>{0x1234, 0xFF00, 0x00FF, 0x8000, 0x0100, 0xFFFF});
  ASSERT_TRUE(WriteTestTiff(f, t));
  TPreviewSize size;
  TDisplayBitmap bmp;
  LoadTiffPreview(280, 186, f, size, bmp);
  ASSERT_EQ(bmp.Format, TBitmapFormat::Indexed8);
  EXPECT_EQ(bmp.Row(0)[0], 0x12);
  EXPECT_EQ(bmp.Row(0)[1], 0xFF);
  EXPECT_EQ(bmp.Row(1)[2], 0xFF);
  EXPECT_EQ(bmp.ColourTable[200], 0x00C8C8C8u);  // grey palette

  // Float RGB 0..1 maps to 0..255, stored blue, green, red; orientation 3 flips rows.
  t.Bits = 32;
  t.Samples = 3;
  t.Photometric = PHOTOMETRIC_RGB;
  t.SampleFormat = SAMPLEFORMAT_IEEEFP;
  t.Data = Bytes(std::vector<float>{1, 0.5f, 0, 0, 0, 0, 0, 0, 0, 0.2f, 0.4f, 0.6f, 0, 0, 0, 0, 0, 0});
  t.ExtraTags = [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_BOTRIGHT); };
  ASSERT_TRUE(WriteTestTiff(f, t));
  LoadTiffPreview(280, 186, f, size, bmp);
  ASSERT_EQ(bmp.Format, TBitmapFormat::Bgr24);
  EXPECT_EQ(bmp.Row(1)[0], 0);    // blue of source row 0, now the bottom row
  EXPECT_EQ(bmp.Row(1)[1], 128);
  EXPECT_EQ(bmp.Row(1)[2], 255);
  EXPECT_EQ(bmp.Row(0)[0], 153);  // 0.6 * 255
  EXPECT_EQ(bmp.Row(0)[2], 51);
}

TEST(TiffPreview, FailuresGiveSizeZero) {
  TempDir dir;
  TPreviewSize size{5, 5};
  TDisplayBitmap bmp;
  LoadTiffPreview(280, 186, dir.file("missing.tif"), size, bmp);
  EXPECT_EQ(size.Width, 0);
  EXPECT_EQ(size.Height, 0);
  LoadTiffPreview(280, 186, DataFile("libtiff/quad-tile.jpg.tiff"), size, bmp);  // tiles
  EXPECT_EQ(size.Width, 0);
  EXPECT_TRUE(bmp.Empty());

  // A directory claiming a 16000 x 16000 picture in one Deflate strip of a few
  // bytes is refused before its strip buffer is made.
  std::vector<uint8_t> f{'I', 'I', 42, 0, 8, 0, 0, 0};
  auto u16 = [&](uint32_t v) { f.insert(f.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  auto u32 = [&](uint32_t v) { f.insert(f.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); };
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
    u16(tag);
    u16(type);
    u32(1);
    if (type == 3) {
      u16(value);
      u16(0);
    } else {
      u32(value);
    }
  };
  const uint32_t dataAt = 8 + 2 + 9 * 12 + 4;
  u16(9);
  entry(256, 4, 16000);   // ImageWidth
  entry(257, 4, 16000);   // ImageLength
  entry(258, 3, 8);       // BitsPerSample
  entry(259, 3, 8);       // Deflate
  entry(262, 3, 1);       // min-is-black
  entry(273, 4, dataAt);  // StripOffsets
  entry(277, 3, 1);       // SamplesPerPixel
  entry(278, 4, 16000);   // RowsPerStrip
  entry(279, 4, 8);       // StripByteCounts
  u32(0);
  f.insert(f.end(), 8, 0);
  WriteAll(dir.file("huge.tif"), f);
  size = {5, 5};
  LoadTiffPreview(280, 186, dir.file("huge.tif"), size, bmp);
  EXPECT_EQ(size.Width, 0);
  EXPECT_EQ(size.Height, 0);
}

}  // namespace
}  // namespace astrelon::test
