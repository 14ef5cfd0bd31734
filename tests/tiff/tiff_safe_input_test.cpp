// TIFF input that used to go wrong: signed samples, floats that are not
// numbers or lie beyond float range, and a preview of a picture far larger
// than its file.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "common/engine_ui.h"
#include "store/image_store.h"
#include "store/tiff/tiff_preview.h"
#include "store/tiff/tiff_reader.h"
#include "test_support.h"
#include "tiff_test_files.h"

namespace astrelon::test {
namespace {

template <typename T>
void WriteRaw(const std::string& path, const std::vector<T>& values) {
  WriteAll(path, Bytes(values));
}

class TiffSafeInputTest : public StoreTest {
protected:
  TempDir dir_;
};

TEST_F(TiffSafeInputTest, SignedSamplesKeepTheirSign) {
  if (!HaveTool("raw2tiff")) GTEST_SKIP() << "raw2tiff not installed";
  struct TCase {
    const char* Type;
    std::vector<uint8_t> Raw;
    std::vector<float> Expected;
  };
  const TCase cases[] = {
      {"sshort", Bytes(std::vector<int16_t>{-2, -1, 0, 100}), {-2, -1, 0, 100}},
      {"slong", Bytes(std::vector<int32_t>{-131072, -65536, 0, 6553600}), {-2, -1, 0, 100}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Type);
    WriteAll(dir_.file("in.raw"), c.Raw);
    ASSERT_TRUE(RunQuietly("raw2tiff -w 4 -l 1 -d " + std::string(c.Type) + " " + dir_.file("in.raw") + " " +
                           dir_.file("s.tif")));
    ASSERT_TRUE(LoadTiffImage(1, dir_.file("s.tif")));
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Store.Image[1].At(1, x, 0), c.Expected[size_t(x)]) << x;
    EXPECT_EQ(Store.Image[1].MinValue, -2.0f);
  }
}

TEST_F(TiffSafeInputTest, FloatsThatAreNoNumbersBecomeBlank) {
  if (!HaveTool("raw2tiff")) GTEST_SKIP() << "raw2tiff not installed";
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  WriteRaw(dir_.file("f.raw"), std::vector<float>{0.5f, nan, inf, -inf, 1e20f, -1e20f});
  ASSERT_TRUE(RunQuietly("raw2tiff -w 6 -l 1 -d float " + dir_.file("f.raw") + " " + dir_.file("f.tif")));
  // Doubles beyond float range are kept within the reader's limits.
  const double dinf = std::numeric_limits<double>::infinity();
  WriteRaw(dir_.file("d.raw"), std::vector<double>{0.5, std::nan(""), dinf, -dinf, 1e300, -1e300});
  ASSERT_TRUE(RunQuietly("raw2tiff -w 6 -l 1 -d double " + dir_.file("d.raw") + " " + dir_.file("d.tif")));
  for (const char* f : {"f.tif", "d.tif"}) {
    SCOPED_TRACE(f);
    ASSERT_TRUE(LoadTiffImage(1, dir_.file(f)));
    const TImageSlot& im = Store.Image[1];
    EXPECT_EQ(im.At(1, 0, 0), 32768.0f);
    for (int x : {1, 2, 3}) EXPECT_EQ(im.At(1, x, 0), BlankPixel) << x;
    EXPECT_EQ(im.At(1, 4, 0), 1e17f);
    EXPECT_EQ(im.At(1, 5, 0), BlankPixel);
    EXPECT_EQ(im.MaxValue, 1e17f);
    EXPECT_EQ(im.MinValue, 32768.0f);
  }
}

// A 1-bit Deflate TIFF that claims 20000 x 20000 pixels in one strip: the
// preview must not make buffers for the whole strip (1.6 GB of RGBA).
TEST_F(TiffSafeInputTest, PreviewOfAHugeOneBitPictureStaysSmall) {
  const std::string f = dir_.file("huge.tif");
  {
    TIFF* tif = TIFFOpen(f.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 20000u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 20000u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 20000u);
    // A little compressed garbage in place of the strip's data.
    std::vector<uint8_t> junk(12600);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t(i * 131 + 7);
    ASSERT_GT(TIFFWriteRawStrip(tif, 0, junk.data(), tmsize_t(junk.size())), 0);
    TIFFClose(tif);
  }
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  TPreviewSize size{7, 7};
  TDisplayBitmap bmp;
  LoadTiffPreview(280, 186, f, size, bmp);
  getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(size.Width, 0);
  EXPECT_EQ(size.Height, 0);
  // Peak resident memory (kilobytes) grew by less than 200 MB.
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 200 * 1024);
}

// Deep samples in one large strip are previewed row by row.
TEST_F(TiffSafeInputTest, PreviewOfADeepSingleStripPicture) {
  const std::string f = dir_.file("deep.tif");
  TTestTiff t;
  t.Width = 600;
  t.Height = 400;
  t.Compression = COMPRESSION_ADOBE_DEFLATE;
  std::vector<uint16_t> v(size_t(t.Width) * t.Height);
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint16_t((i / t.Width) << 8);  // row r: high byte r mod 256
  t.Data = Bytes(v);
  ASSERT_TRUE(WriteTestTiff(f, t));
  TPreviewSize size;
  TDisplayBitmap bmp;
  LoadTiffPreview(280, 186, f, size, bmp);
  EXPECT_EQ(size.Width, 600);
  ASSERT_EQ(bmp.Height, 186);
  for (int r : {0, 100, 185}) EXPECT_EQ(bmp.Row(r)[10], uint8_t((r * 400 + 185) / 186 % 256)) << r;
}

}  // namespace
}  // namespace astrelon::test
