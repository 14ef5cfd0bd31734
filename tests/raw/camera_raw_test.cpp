// Loading camera RAW files into slots: mosaic and interpolated, header cards,
// thumbnails, metadata queries and damaged files.
#include "store/raw/camera_raw.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/processor_features.h"
#include "raw_fixture.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon::test {
namespace {

class CameraRawTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    EngineUi().Messages.clear();
    savedOptions_ = Options;
    spec_ = StandardDng();
    file_ = dir_.file("test.dng");
    ASSERT_TRUE(WriteDng(file_, spec_));
  }
  void TearDown() override {
    Options = savedOptions_;
    StoreTest::TearDown();
  }
  // The header's active cards, trimmed of their blank fill.
  std::vector<std::string> Cards(int slot) {
    std::vector<std::string> out;
    for (std::string c : Store.Header[slot].ActiveCards()) {
      c.erase(c.find_last_not_of(' ') + 1);
      out.push_back(c);
    }
    return out;
  }
  bool HasCard(int slot, const std::string& card) {
    for (const auto& c : Cards(slot))
      if (c == card) return true;
    return false;
  }

  LocalZone zone_;
  TempDir dir_;
  TDngLayout spec_;
  std::string file_;
  TProgramOptions savedOptions_;
};

TEST_F(CameraRawTest, MosaicWithBlackLevelSubtracted) {
  Options.RScaleOff = 0;  // "RScale" on
  ASSERT_TRUE(LoadCameraRaw(1, file_, false, false, false));
  const TImageSlot& im = Store.Image[1];
  EXPECT_TRUE(Store.InUse[1]);
  EXPECT_EQ(im.Width, 64);
  EXPECT_EQ(im.Height, 48);
  EXPECT_EQ(im.PlaneCount, 1);
  EXPECT_EQ(im.IsColor, 0);
  EXPECT_EQ(im.RawMosaic, 1);
  EXPECT_EQ(im.RawBlackLevel, 0);  // used up by the transfer
  for (size_t i = 0; i < spec_.Cfa.size(); ++i) ASSERT_EQ(im.Planes[1][i], float(spec_.Cfa[i]) - 1024.0f) << i;
  EXPECT_LT(im.Planes[1][5 * 64 + 9], 0.0f);  // noise below black is kept
  EXPECT_NEAR(im.RawMultipliers[0], 2.0f, 1e-4);
  EXPECT_NEAR(im.RawMultipliers[2], 1.25f, 1e-4);
  EXPECT_NE(im.RawColorMatrix[0][0], 0.0f);
  EXPECT_EQ((im.RawFilterPattern >> ((((1 << 1) & 14) | 1) << 1)) & 3, 2u);  // blue at (1, 1)
  EXPECT_TRUE(HasCard(1, "HISTORY Raw Bild geladen, nur Bias [1024] subtrahiert"));
  EXPECT_TRUE(EngineUi().Messages.empty());
}

TEST_F(CameraRawTest, HeaderCardsFromTheMetadata) {
  ASSERT_TRUE(LoadCameraRaw(1, file_, false, false, false));
  const auto cards = Cards(1);
  ASSERT_GE(cards.size(), 6u);
  EXPECT_EQ(cards[0], "SIMPLE  =                    T");
  EXPECT_TRUE(HasCard(1, "DATE-OBS= '2021-07-14'"));
  EXPECT_TRUE(HasCard(1, "TIME-OBS= '23:30:05'"));  // the camera's clock, summer time
  EXPECT_TRUE(HasCard(1, "INSTRUME= 'Testkamera TK-1'"));
  EXPECT_TRUE(HasCard(1, "EXPTIME =  8.0000000000000E-03"));
  EXPECT_TRUE(HasCard(1, "COMMENT    ISO 800"));
  EXPECT_TRUE(HasCard(1, "COMMENT    Aperture 5.6"));
  EXPECT_TRUE(HasCard(1, "COMMENT    Focal Length 50"));
  EXPECT_TRUE(HasCard(1, "AUTHOR  = 'Erika Mustermann'"));
  EXPECT_EQ(cards.back(), "END");
}

TEST_F(CameraRawTest, LongCameraNameIsCutTo68Characters) {
  spec_.Make = std::string(40, 'M');
  spec_.Model = std::string(39, 'N');
  ASSERT_TRUE(WriteDng(file_, spec_));
  ASSERT_TRUE(LoadCameraRaw(1, file_, false, false, false));
  const std::string expected = "INSTRUME= '" + (std::string(40, 'M') + " " + std::string(39, 'N')).substr(0, 68) + "'";
  EXPECT_TRUE(HasCard(1, expected));
}

TEST_F(CameraRawTest, ScaledMosaicSubtractsThePedestal) {
  Options.RScaleOff = 1;  // "RScale" off: "-d"
  ASSERT_TRUE(LoadCameraRaw(1, file_, false, false, false));
  const TImageSlot& im = Store.Image[1];
  EXPECT_EQ(im.RawMosaic, 1);
  const double scale = 65535.0 / (16383.0 - 1024.0);
  // A green site: (v - black) * 1 * scale.
  EXPECT_NEAR(im.Planes[1][1], (spec_.Cfa[1] - 1024.0) * scale, 1.0);
  // A red site with multiplier 2.
  EXPECT_NEAR(im.Planes[1][2], (spec_.Cfa[2] - 1024.0) * 2.0 * scale, 1.0);
  EXPECT_LT(im.Planes[1][5 * 64 + 9], 0.0f);
  EXPECT_FALSE(HasCard(1, "HISTORY Raw Bild geladen, nur Bias [1024] subtrahiert"));
}

// LibRaw's own converter on the same file: linear 16-bit sRGB, camera white
// balance, no rotation.
bool RunReferenceConverter(const std::string& dng, const std::string& tiff) {
  const std::string cmd = "dcraw_emu -w -4 -T -t 0 -Z '" + tiff + "' '" + dng + "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

TEST_F(CameraRawTest, InterpolatedImageMatchesTheReferenceConverter) {
  if (std::system("command -v dcraw_emu >/dev/null 2>&1") != 0) GTEST_SKIP() << "dcraw_emu not installed";
  const std::string ref = dir_.file("ref.tiff");
  ASSERT_TRUE(RunReferenceConverter(file_, ref));
  ASSERT_TRUE(LoadCameraRaw(1, file_, true, false, false));
  const TImageSlot& im = Store.Image[1];
  ASSERT_EQ(im.PlaneCount, 3);
  EXPECT_EQ(im.IsColor, 1);
  EXPECT_EQ(im.RawMosaic, 0);
  ASSERT_EQ(im.Width, 62);  // the border of one pixel is dropped
  ASSERT_EQ(im.Height, 46);

  TIFF* tif = TIFFOpen(ref.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  uint32_t w = 0, h = 0;
  uint16_t bits = 0, spp = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  ASSERT_EQ(w, 64u);
  ASSERT_EQ(h, 48u);
  ASSERT_EQ(bits, 16);
  ASSERT_EQ(spp, 3);
  std::vector<uint16_t> row(size_t(w) * 3);
  double maxDiff = 0, sum = 0;
  for (uint32_t y = 1; y + 1 < h; ++y) {
    ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, 0), 1);
    for (uint32_t x = 1; x + 1 < w; ++x)
      for (int p = 1; p <= 3; ++p) {
        const double ours = im.At(p, int(x - 1), int(y - 1));
        const double theirs = row[size_t(x) * 3 + size_t(p - 1)];
        maxDiff = std::max(maxDiff, std::fabs(ours - theirs));
        sum += theirs;
      }
  }
  TIFFClose(tif);
  EXPECT_GT(sum, 0.0);
  EXPECT_LE(maxDiff, 1.0);
}

TEST_F(CameraRawTest, PreviewIsAThumbnailWithoutBias) {
  ASSERT_TRUE(LoadCameraRaw(2, file_, false, true, false));
  const TImageSlot& im = Store.Image[2];
  // Half-size decode 32 x 24, ratio 1.333: the height is fixed at 186.
  EXPECT_EQ(im.Height, 186);
  EXPECT_EQ(im.Width, 248);
  EXPECT_EQ(LastRawDecode.Width, 32);
  EXPECT_EQ(LastRawDecode.Shrink, 1);
  // Every thumbnail pixel is a red site of the file (channel 0 of the half-size decode).
  for (float v : im.Planes[1]) ASSERT_GE(v, 1100.0f);
  // The last rows and columns read the buffer's last row and column.
  EXPECT_EQ(im.At(1, 247, 185), float(spec_.Cfa[size_t(46) * 64 + 62]));
  ASSERT_TRUE(LoadCameraRaw(3, file_, true, true, false));
  EXPECT_EQ(Store.Image[3].PlaneCount, 3);
  EXPECT_EQ(Store.Image[3].Height, 186);
  EXPECT_TRUE(EngineUi().Messages.empty());
}

TEST_F(CameraRawTest, IdentifyOnlyReportsTheTimeStamp) {
  EXPECT_TRUE(LoadCameraRaw(0, file_, false, true, true));
  EXPECT_TRUE(HasCard(0, "DATE-OBS= '2021-07-14'"));
  EXPECT_FALSE(Store.InUse[0]);
  spec_.DateTime.clear();
  ASSERT_TRUE(WriteDng(file_, spec_));
  EXPECT_FALSE(LoadCameraRaw(0, file_, false, true, true));
  EXPECT_TRUE(EngineUi().Messages.empty());
}

TEST_F(CameraRawTest, TooManyImagesIsRefusedAndOnlyReportedWhenLoading) {
  for (int s = 1; s <= MaxImageSlots; ++s) Store.InUse[s] = 1;
  EXPECT_FALSE(LoadCameraRaw(5, file_, false, false, false));
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0], "Es sind zu viele Bilder geöffnet");
  EngineUi().Messages.clear();
  EXPECT_FALSE(LoadCameraRaw(5, file_, false, true, false));
  EXPECT_FALSE(LoadCameraRaw(0, file_, false, true, true));
  EXPECT_TRUE(EngineUi().Messages.empty());
}

TEST_F(CameraRawTest, TooSmallImageFailsAndLeavesTheSlotFree) {
  // The decoder itself refuses a mosaic 2 pixels wide.
  spec_.Width = 2;
  spec_.Height = 1000;
  spec_.Cfa.assign(2000, 3000);
  ASSERT_TRUE(WriteDng(file_, spec_));
  EXPECT_FALSE(LoadCameraRaw(4, file_, false, false, false));
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0], "Fehler 2 beim öffnen der Datei\ntest.dng");
  EXPECT_FALSE(Store.InUse[4]);
  // So does the transfer, for a decoded image of 2 x 1000 pixels.
  std::vector<uint16_t> buffer(2000 * 4, 5000);
  Store.Image[4].Width = 2;
  Store.Image[4].Height = 1000;
  RawBuffer = {buffer.data(), 2, 1000, 300};
  EXPECT_FALSE(TransferRawImage(4, 16, false, false, false));
  RawBuffer = {};
  EXPECT_FALSE(Store.InUse[4]);
  EXPECT_TRUE(Store.Image[4].Planes[1].empty());
}

TEST_F(CameraRawTest, VectorAndScalarTransferAgree) {
  const bool saved = Sse2Enabled;
  Sse2Enabled = false;
  ASSERT_TRUE(LoadCameraRaw(1, file_, true, false, false));
  ASSERT_TRUE(LoadCameraRaw(2, file_, false, false, false));
  Sse2Enabled = true;
  ASSERT_TRUE(LoadCameraRaw(3, file_, true, false, false));
  ASSERT_TRUE(LoadCameraRaw(4, file_, false, false, false));
  Sse2Enabled = saved;
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Store.Image[1].Planes[p], Store.Image[3].Planes[p]);
  EXPECT_EQ(Store.Image[2].Planes[1], Store.Image[4].Planes[1]);
}

// Truncated and bit-flipped copies end with the decoder's error message (or, for
// flips inside the pixel data, an image) and never hang or crash.
TEST_F(CameraRawTest, DamagedFilesEndCleanly) {
  for (bool jpeg : {false, true}) {
    spec_.LosslessJpeg = jpeg;
    ASSERT_TRUE(WriteDng(file_, spec_));
    const std::vector<unsigned char> good = ReadAll(file_);
    const std::string bad = dir_.file("bad.dng");
    for (int k = 0; k < 24; ++k) {
      WriteAll(bad, std::span(good).first(good.size() * size_t(k) / 24));
      EngineUi().Messages.clear();
      EXPECT_FALSE(LoadCameraRaw(1, bad, false, false, false)) << k;
      ASSERT_EQ(EngineUi().Messages.size(), 1u);
      EXPECT_EQ(EngineUi().Messages[0].rfind("Fehler ", 0), 0u);
      EXPECT_FALSE(Store.InUse[1]);
    }
    uint32_t state = 99;
    for (int k = 0; k < 40; ++k) {
      std::vector<unsigned char> copy = good;
      for (int j = 0; j < 3; ++j) {
        state = state * 1664525u + 1013904223u;
        copy[(state >> 8) % copy.size()] ^= uint8_t(1u << (state & 7));
      }
      WriteAll(bad, copy);
      for (bool interpolate : {false, true}) {
        EngineUi().Messages.clear();
        const bool ok = LoadCameraRaw(1, bad, interpolate, false, false);
        EXPECT_EQ(EngineUi().Messages.empty(), ok);
        Store.Reset();
      }
    }
  }
}

}  // namespace
}  // namespace astrelon::test
