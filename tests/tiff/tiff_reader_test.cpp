// Reading TIFF files into slots: libtiff's own test pictures, files written by
// ImageMagick and tiffcp, and files with chosen tags (including refused ones).
#include "store/tiff/tiff_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"
#include "tiff_test_files.h"

namespace astrelon::test {
namespace {

// An 8-bit binary PGM or PPM: its samples.
std::vector<uint8_t> ReadPnm8(const std::string& path, int& width, int& height) {
  const std::vector<unsigned char> bytes = ReadAll(path);
  std::string head(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 64));
  std::istringstream in(head);
  std::string magic;
  int maxval = 0;
  in >> magic >> width >> height >> maxval;
  const size_t start = size_t(in.tellg()) + 1;
  return std::vector<uint8_t>(bytes.begin() + std::ptrdiff_t(start), bytes.end());
}

std::string Card(int slot, int index) {
  std::string c = Store.Header[slot][size_t(index)];
  c.erase(c.find_last_not_of(' ') + 1);
  return c;
}

bool HasCard(int slot, const std::string& card) {
  for (std::string c : Store.Header[slot].ActiveCards()) {
    c.erase(c.find_last_not_of(' ') + 1);
    if (c == card) return true;
  }
  return false;
}

class TiffReaderTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    EngineUi().Messages.clear();
    saved_ = Options;
  }
  void TearDown() override {
    Options = saved_;
    StoreTest::TearDown();
  }
  // Loads a file expected to be refused: one message naming it, the slot untouched.
  void ExpectRefused(const std::string& file, const std::string& messageStart) {
    EngineUi().Messages.clear();
    EXPECT_FALSE(LoadTiffImage(3, file));
    ASSERT_EQ(EngineUi().Messages.size(), 1u);
    EXPECT_EQ(EngineUi().Messages[0].rfind(messageStart, 0), 0u) << EngineUi().Messages[0];
    EXPECT_NE(EngineUi().Messages[0].find(file), std::string::npos);
    EXPECT_FALSE(Store.InUse[3]);
    EXPECT_TRUE(Store.Image[3].Planes[1].empty());
  }

  TempDir dir_;
  TProgramOptions saved_;
};

TEST_F(TiffReaderTest, EightBitGreyMatchesItsPgm) {
  ASSERT_TRUE(LoadTiffImage(1, DataFile("libtiff/minisblack-1c-8b.tiff")));
  int w = 0, h = 0;
  const std::vector<uint8_t> ref = ReadPnm8(DataFile("libtiff/minisblack-1c-8b.pgm"), w, h);
  const TImageSlot& im = Store.Image[1];
  ASSERT_EQ(im.Width, w);
  ASSERT_EQ(im.Height, h);
  EXPECT_EQ(im.PlaneCount, 1);
  EXPECT_EQ(im.IsColor, 0);
  for (size_t i = 0; i < ref.size(); ++i) ASSERT_EQ(im.Planes[1][i], float(ref[i])) << i;
  EXPECT_EQ(Store.Display[1].Black, 0.0f);
  EXPECT_EQ(Store.Display[1].White, 255.0f);
  EXPECT_EQ(Card(1, 1), "BITPIX  =                   16");
  EXPECT_EQ(Store.FileName[1], DataFile("libtiff/minisblack-1c-8b.tiff"));
}

TEST_F(TiffReaderTest, EightBitRgbMatchesItsPpm) {
  ASSERT_TRUE(LoadTiffImage(1, DataFile("libtiff/rgb-3c-8b.tiff")));
  int w = 0, h = 0;
  const std::vector<uint8_t> ref = ReadPnm8(DataFile("libtiff/rgb-3c-8b.ppm"), w, h);
  const TImageSlot& im = Store.Image[1];
  ASSERT_EQ(im.PlaneCount, 3);
  EXPECT_EQ(im.IsColor, 1);
  ASSERT_EQ(im.Width, w);
  for (size_t i = 0; i < size_t(w) * size_t(h); ++i)
    for (int p = 1; p <= 3; ++p) ASSERT_EQ(im.Planes[p][i], float(ref[i * 3 + size_t(p - 1)])) << i;
  EXPECT_EQ(Store.Display[1].White, 255.0f);
  EXPECT_TRUE(HasCard(1, "NAXIS3  =                    3"));
}

TEST_F(TiffReaderTest, SixteenBitFilesMatchImageMagick) {
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick not installed";
  for (const char* name : {"libtiff/minisblack-1c-16b.tiff", "libtiff/rgb-3c-16b.tiff"}) {
    const bool rgb = std::string(name).find("rgb") != std::string::npos;
    ASSERT_TRUE(LoadTiffImage(1, DataFile(name))) << name;
    const std::vector<uint16_t> ref = MagickSamples16(DataFile(name), rgb);
    const TImageSlot& im = Store.Image[1];
    ASSERT_EQ(ref.size(), im.PixelCount() * (rgb ? 3 : 1));
    for (size_t i = 0; i < im.PixelCount(); ++i)
      for (int p = 1; p <= (rgb ? 3 : 1); ++p)
        ASSERT_EQ(im.Planes[p][i], float(ref[i * (rgb ? 3 : 1) + size_t(p - 1)])) << name << " " << i;
    EXPECT_EQ(Store.Display[1].White, 65535.0f);
    EXPECT_EQ(Store.Display[1].Black, 0.0f);
  }
}

TEST_F(TiffReaderTest, OtherEightBitLayoutsGoThroughTheRgbaDecoding) {
  // Grey with alpha in separate planes, a palette image (red component as grey)
  // and JPEG-compressed tiles.
  ASSERT_TRUE(LoadTiffImage(1, DataFile("libtiff/minisblack-2c-8b-alpha.tiff")));
  EXPECT_EQ(Store.Image[1].PlaneCount, 1);
  ASSERT_TRUE(LoadTiffImage(2, DataFile("libtiff/palette-1c-8b.tiff")));
  EXPECT_EQ(Store.Image[2].PlaneCount, 1);
  EXPECT_GT(Store.Image[2].MaxValue, 0.0f);
  ASSERT_TRUE(LoadTiffImage(3, DataFile("libtiff/quad-tile.jpg.tiff")));
  EXPECT_EQ(Store.Image[3].Width, 512);
  EXPECT_EQ(Store.Image[3].PlaneCount, 3);
  EXPECT_TRUE(EngineUi().Messages.empty());
}

TEST_F(TiffReaderTest, FilesWrittenByImageMagickAndTiffcp) {
  if (!HaveTool("convert") || !HaveTool("tiffcp")) GTEST_SKIP() << "ImageMagick or tiffcp not installed";
  const int w = 7, h = 5;
  std::vector<uint16_t> grey(w * h), rgb(w * h * 3);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint16_t(i * 1871 % 65536);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint16_t(i * 523 % 65536);
  const std::string pgm = dir_.file("g.pgm"), ppm = dir_.file("c.ppm");
  WritePnm(pgm, w, h, false, 65535, grey);
  WritePnm(ppm, w, h, true, 65535, rgb);

  struct Case {
    std::string Name;
    std::string Command;
    bool Rgb;
    int Bits;
  };
  const std::string d = dir_.path().string() + "/";
  const std::vector<Case> cases = {
      {"g8zip.tif", "convert " + pgm + " -depth 8 -compress zip " + d + "g8zip.tif", false, 8},
      {"c8.tif", "convert " + ppm + " -depth 8 " + d + "c8.tif", true, 8},
      {"g16.tif", "convert " + pgm + " -depth 16 -compress none " + d + "g16.tif", false, 16},
      {"c16lzw.tif", "convert " + ppm + " -depth 16 -compress none " + d + "c16.tif && tiffcp -c lzw " + d +
                          "c16.tif " + d + "c16lzw.tif", true, 16},
      {"g16zip.tif", "tiffcp -c zip " + d + "g16.tif " + d + "g16zip.tif", false, 16},
      {"gf.tif", "convert " + pgm + " -define quantum:format=floating-point -depth 32 -compress zip " + d + "gf.tif", false, 32},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(RunQuietly(c.Command)) << c.Command;
    ASSERT_TRUE(LoadTiffImage(1, d + c.Name)) << c.Name;
    const TImageSlot& im = Store.Image[1];
    ASSERT_EQ(im.Width, w);
    ASSERT_EQ(im.PlaneCount, c.Rgb ? 3 : 1) << c.Name;
    const std::vector<uint16_t>& src = c.Rgb ? rgb : grey;
    const std::vector<uint16_t> magick = c.Bits == 8 ? MagickSamples16(d + c.Name, c.Rgb) : std::vector<uint16_t>{};
    for (size_t i = 0; i < size_t(w * h); ++i)
      for (int p = 1; p <= (c.Rgb ? 3 : 1); ++p) {
        const double v = src[i * (c.Rgb ? 3 : 1) + size_t(p - 1)];
        const size_t k = i * (c.Rgb ? 3 : 1) + size_t(p - 1);
        const double expected = c.Bits == 8 ? magick.at(k) / 257.0 : c.Bits == 16 ? v : v / 65535.0 * 65536.0;
        ASSERT_NEAR(im.Planes[p][i], expected, c.Bits == 32 ? 0.02 : 0.0) << c.Name << " " << i;
      }
  }
}

TEST_F(TiffReaderTest, DeepSampleTypes) {
  const std::string f = dir_.file("deep.tif");
  // 16-bit grey without RowsPerStrip: one strip of all rows.
  TTestTiff t;
  t.Data = Bytes(std::vector<uint16_t>{0, 1, 2, 3, 100, 200, 300, 400, 65535, 1000, 2000, 3000});
  ASSERT_TRUE(WriteTestTiff(f, t));
  ASSERT_TRUE(LoadTiffImage(1, f));
  EXPECT_EQ(Store.Image[1].At(1, 0, 2), 65535.0f);
  EXPECT_EQ(Store.Display[1].White, 65535.0f);

  // 16-bit grey plus alpha: the grey samples, the alpha skipped.
  t.Samples = 2;
  t.Data = Bytes(std::vector<uint16_t>(24, 7));
  for (size_t i = 0; i < 12; ++i) reinterpret_cast<uint16_t*>(t.Data.data())[i * 2] = uint16_t(i * 10);
  ASSERT_TRUE(WriteTestTiff(f, t));
  ASSERT_TRUE(LoadTiffImage(1, f));
  EXPECT_EQ(Store.Image[1].PlaneCount, 1);
  EXPECT_EQ(Store.Image[1].At(1, 3, 2), 110.0f);

  // 32-bit float 0..1 comes back as 0..65536 with BITPIX -32.
  t = TTestTiff{};
  t.Bits = 32;
  t.SampleFormat = SAMPLEFORMAT_IEEEFP;
  t.RowsPerStrip = 2;
  t.Data = Bytes(std::vector<float>{0, 0.25f, 0.5f, 1, 0, 0, 0, 0, 0.125f, 0, 0, 2});
  ASSERT_TRUE(WriteTestTiff(f, t));
  ASSERT_TRUE(LoadTiffImage(1, f));
  EXPECT_EQ(Store.Image[1].At(1, 3, 0), 65536.0f);
  EXPECT_EQ(Store.Image[1].At(1, 0, 2), 8192.0f);
  EXPECT_EQ(Card(1, 1), "BITPIX  =                  -32");

  // 32-bit unsigned: divided by 65536, BITPIX 32.
  t.SampleFormat = SAMPLEFORMAT_UINT;
  t.Data = Bytes(std::vector<uint32_t>{65536, 131072, 4294967295u, 0, 0, 0, 0, 0, 0, 0, 0, 32768});
  ASSERT_TRUE(WriteTestTiff(f, t));
  ASSERT_TRUE(LoadTiffImage(1, f));
  EXPECT_EQ(Store.Image[1].At(1, 1, 0), 2.0f);
  EXPECT_EQ(Store.Image[1].At(1, 3, 2), 0.5f);
  EXPECT_NEAR(Store.Image[1].At(1, 2, 0), 65536.0f, 0.01f);
  EXPECT_EQ(Card(1, 1), "BITPIX  =                   32");

  // 64-bit float is converted like 32-bit float.
  t.Bits = 64;
  t.SampleFormat = SAMPLEFORMAT_IEEEFP;
  t.Data = Bytes(std::vector<double>{0.5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  ASSERT_TRUE(WriteTestTiff(f, t));
  ASSERT_TRUE(LoadTiffImage(1, f));
  EXPECT_EQ(Store.Image[1].At(1, 0, 0), 32768.0f);
  EXPECT_EQ(Store.Image[1].At(1, 3, 2), 65536.0f);
}

TEST_F(TiffReaderTest, UnsupportedAndDamagedFilesAreRefused) {
  const std::string f = dir_.file("bad.tif");
  TTestTiff t;
  t.Bits = 12;
  t.Data.assign(4 * 3 * 2, 0x11);
  ASSERT_TRUE(WriteTestTiff(f, t));
  ExpectRefused(f, "Not supported TIFF layout (12 bits per sample)");

  t = TTestTiff{};
  t.Samples = 3;
  t.Photometric = PHOTOMETRIC_RGB;
  t.Planar = PLANARCONFIG_SEPARATE;
  t.Data.assign(4 * 3 * 2 * 3, 0x22);
  ASSERT_TRUE(WriteTestTiff(f, t));
  ExpectRefused(f, "Not supported TIFF layout (separate sample planes)");

  t = TTestTiff{};
  t.SampleFormat = 4;  // "void"
  t.Data.assign(4 * 3 * 2, 0);
  ASSERT_TRUE(WriteTestTiff(f, t));
  ExpectRefused(f, "Not supported sampleformat: '");

  ExpectRefused(DataFile("libtiff/logluv-3c-16b.tiff"), "Not supported TIFF layout");

  // A damaged Deflate stream, and a file that is no TIFF at all.
  t = TTestTiff{};
  t.Width = 64;
  t.Height = 64;
  t.Compression = COMPRESSION_ADOBE_DEFLATE;
  t.Data.resize(64 * 64 * 2);
  for (size_t i = 0; i < t.Data.size(); ++i) t.Data[i] = uint8_t(i * 7919 >> 3);
  ASSERT_TRUE(WriteTestTiff(f, t));
  std::vector<unsigned char> bytes = ReadAll(f);
  for (size_t i = 12; i < 400; ++i) bytes[i] = 0xA5;  // the stream starts right after the header
  WriteAll(f, bytes);
  ExpectRefused(f, "Failed to read '");
  // The same damage in an 8-bit file: libtiff's RGBA decoding fails.
  t.Bits = 8;
  t.Data.resize(64 * 64);
  ASSERT_TRUE(WriteTestTiff(f, t));
  bytes = ReadAll(f);
  for (size_t i = 12; i < 400; ++i) bytes[i] = 0xA5;
  WriteAll(f, bytes);
  ExpectRefused(f, "Failed to read '");
  WriteText(f, "II*\0 not really a TIFF");
  ExpectRefused(f, "Unable to open file '");
}

TEST_F(TiffReaderTest, RefusedFileLeavesAnImageInTheSlot) {
  ASSERT_TRUE(LoadTiffImage(3, DataFile("libtiff/minisblack-1c-8b.tiff")));
  const std::string f = dir_.file("bad.tif");
  WriteText(f, "garbage");
  EXPECT_FALSE(LoadTiffImage(3, f));
  EXPECT_TRUE(Store.InUse[3]);
  EXPECT_EQ(Store.Image[3].Width, 157);
  EXPECT_EQ(Store.FileName[3], DataFile("libtiff/minisblack-1c-8b.tiff"));
}

TEST_F(TiffReaderTest, DateCameraAndArtistCards) {
  const std::string f = dir_.file("cards.tif");
  TTestTiff t;
  t.Data.assign(24, 0);
  t.ExtraTags = [](TIFF* tif) {
    TIFFSetField(tif, TIFFTAG_DATETIME, "2006:03:04 21:05:33");
    TIFFSetField(tif, TIFFTAG_MAKE, "Canon");
    TIFFSetField(tif, TIFFTAG_ARTIST, "E. Mustermann");
  };
  ASSERT_TRUE(WriteTestTiff(f, t));
  ASSERT_TRUE(LoadTiffImage(1, f));
  EXPECT_TRUE(HasCard(1, "DATE-OBS= '2006-03-04'"));
  EXPECT_TRUE(HasCard(1, "TIME-OBS= '21:05:33'"));
  EXPECT_TRUE(HasCard(1, "INSTRUME= 'Canon '"));
  EXPECT_TRUE(HasCard(1, "AUTHOR  = 'E. Mustermann'"));

  t.ExtraTags = [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_DATETIME, "0000:00:00 00:00:00"); };
  ASSERT_TRUE(WriteTestTiff(f, t));
  ASSERT_TRUE(LoadTiffImage(1, f));
  EXPECT_FALSE(HasCard(1, "DATE-OBS= '0000-00-00'"));
  EXPECT_EQ(FindHeaderKeyword(1, "DATE-OBS"), -1);
}

TEST_F(TiffReaderTest, AutoGammaComesFromTheLoadedImage) {
  Options.GammaAdjust = 1;
  const std::string f = dir_.file("float.tif");
  TTestTiff t;
  t.Width = 32;
  t.Height = 32;
  t.Bits = 32;
  t.SampleFormat = SAMPLEFORMAT_IEEEFP;
  std::vector<float> v(32 * 32);
  for (size_t i = 0; i < v.size(); ++i) v[i] = float(i % 97) * float(i % 97) / 9409.0f;
  t.Data = Bytes(v);
  ASSERT_TRUE(WriteTestTiff(f, t));
  // A different image in the slot before leaves a histogram the estimate must not use.
  ASSERT_TRUE(LoadTiffImage(1, DataFile("libtiff/minisblack-1c-16b.tiff")));
  ASSERT_TRUE(LoadTiffImage(1, f));
  const float loaded = Store.Display[1].Gamma;
  ComputeHistogram(1, false, false);
  EXPECT_EQ(loaded, EstimateAutoGamma(1, Store.Display[1].RangeLow, Store.Display[1].RangeHigh));
  EXPECT_EQ(Store.Display[1].CurveMode, 1);
}

}  // namespace
}  // namespace astrelon::test
