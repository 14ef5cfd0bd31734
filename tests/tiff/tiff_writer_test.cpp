// Writing slots as TIFF: sample types, value mapping, strips, compression and the
// Software tag checked through libtiff's tools, ImageMagick and plain libtiff
// reading; failed writes; the scaled entry point.
#include "shell/save/save_tiff_scaled.h"
#include "store/tiff/tiff_word_samples.h"
#include "store/tiff/tiff_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <random>

#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "platform/processor_features.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"
#include "tiff_test_files.h"

namespace astrelon::test {
namespace {

// Reads every sample of a written file with plain libtiff scanline reading.
template <typename T>
std::vector<T> ScanlineSamples(const std::string& file, uint32_t& w, uint32_t& h, uint16_t& spp) {
  std::vector<T> out;
  TIFF* tif = TIFFOpen(file.c_str(), "r");
  if (!tif) return out;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  out.resize(size_t(w) * h * spp);
  for (uint32_t y = 0; y < h; ++y) TIFFReadScanline(tif, out.data() + size_t(y) * w * spp, y, 0);
  TIFFClose(tif);
  return out;
}

class StatusRecorder : public TEngineUi {
public:
  void ShowStatus(const std::string& text) override { Status.push_back(text); }
  std::vector<std::string> Status;
};

class TiffWriterTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    saved_ = Options;
    SetEngineUi(&ui_);
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    Options = saved_;
    BatchRunning = 0;
    StoreTest::TearDown();
  }
  // A slot with values v(x, y, p) = base + 10 x + 100 y + 1000 (p - 1).
  void MakeImage(int slot, int w, int h, bool colour, float base = 0) {
    TImageSlot& im = Store.Image[slot];
    im.Width = w;
    im.Height = h;
    im.IsColor = colour;
    im.PlaneCount = colour ? 3 : 1;
    im.AllocatePlanes(im.PlaneCount);
    for (int p = 1; p <= im.PlaneCount; ++p)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) im.At(p, x, y) = base + 10.0f * x + 100.0f * y + 1000.0f * (p - 1);
    Store.InUse[slot] = 1;
    MakeDefaultHeader(slot);
  }

  TempDir dir_;
  TProgramOptions saved_;
  StatusRecorder ui_;
};

TEST(TiffSamples, ConversionsClampAndRoundHalvesToEven) {
  EXPECT_EQ(FloatToByteSample(-0.5f), 0);
  EXPECT_EQ(FloatToByteSample(std::nanf("")), 0);
  EXPECT_EQ(FloatToByteSample(1.5f), 255);
  EXPECT_EQ(FloatToByteSample(0.5f), 128);  // 127.5 rounds to even
  EXPECT_EQ(FloatToWordSample(2.5f), 2);
  EXPECT_EQ(FloatToWordSample(3.5f), 4);
  EXPECT_EQ(FloatToWordSample(70000.0f), 65535);
  EXPECT_EQ(FloatToWordSample(-1.0f), 0);
  EXPECT_EQ(FloatToDwordSample(5e9f), 4294967295u);
  EXPECT_EQ(FloatToDwordSample(4294967040.0f), 4294967040u);
  EXPECT_EQ(FloatToDwordSample(std::nanf("")), 0u);
}

// Values around every limit and rounding tie, grey and colour rows of every
// length around the vector widths: the vector paths give the scalar samples.
TEST(TiffSamples, VectorWordSamplesEqualScalarSamples) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-5000, 80000);
  const float specials[] = {NAN, INFINITY, -INFINITY, -0.0f, BlankPixel, 0.5f, 1.5f, 2.5f, 65534.5f, 65535.0f,
                            65535.5f, 65536.0f, 3e38f, -1e-30f};
  const bool avx2 = Avx2Enabled;
  for (int planes : {1, 3})
    for (size_t n = 0; n <= 41; ++n) {
      std::vector<std::vector<float>> v(3, std::vector<float>(n));
      for (auto& plane : v)
        for (size_t x = 0; x < n; ++x) plane[x] = rng() % 3 == 0 ? specials[rng() % std::size(specials)] : u(rng);
      const float* rows[3] = {v[0].data(), v[1].data(), v[2].data()};
      for (const auto& [low, factor] : {std::pair{0.0, 1.0}, {-300.0, 65535.0 / 70000.0}, {0.25, 3.0}}) {
        std::vector<uint16_t> scalar(n * size_t(planes)), vector(scalar.size());
        WordSamplesOfRow(rows, planes, n, low, factor, scalar.data(), false);
        for (size_t x = 0; x < n; ++x)
          ASSERT_EQ(scalar[x * size_t(planes)], FloatToWordSample(float((double(v[0][x]) - low) * factor)));
        for (bool wide : {false, true}) {
          Avx2Enabled = wide;
          std::fill(vector.begin(), vector.end(), uint16_t(12345));
          WordSamplesOfRow(rows, planes, n, low, factor, vector.data(), true);
          EXPECT_EQ(vector, scalar) << planes << " planes, " << n << " pixels, avx2 " << wide;
        }
      }
    }
  Avx2Enabled = avx2;
}

TEST(TiffSamples, TypeCodes) {
  EXPECT_EQ(TiffWriterTypeOf(0), 3);
  EXPECT_EQ(TiffWriterTypeOf(1), 2);
  EXPECT_EQ(TiffWriterTypeOf(2), 1);
  EXPECT_EQ(TiffWriterTypeOf(3), 1);  // never offered: 16-bit integer
  EXPECT_EQ(TiffWriterTypeOf(7), 1);
  EXPECT_TRUE(TiffCodeCompressed(4));
  EXPECT_FALSE(TiffCodeCompressed(3));
  EXPECT_EQ(TiffCodeFromDialog(2, true), 6);
  EXPECT_STREQ(TiffSampleTypes[size_t(2)].DialogEntry, "16 Bit Ganzzahl");
  EXPECT_EQ(TiffSoftwareText().rfind("Astrelon 4.28  + LIBTIFF, Version ", 0), 0u);
}

TEST_F(TiffWriterTest, SixteenBitGreyMapsLowHighOntoTheFullRange) {
  MakeImage(1, 9, 4, false);
  Store.Image[1].At(1, 0, 0) = BlankPixel;
  const std::string f = dir_.file("g16.tif");
  SaveTiffImage(1, 1, false, 100.0, 300.0, f);
  uint32_t w, h;
  uint16_t spp;
  const auto s = ScanlineSamples<uint16_t>(f, w, h, spp);
  ASSERT_EQ(w, 9u);
  ASSERT_EQ(h, 4u);
  ASSERT_EQ(spp, 1);
  EXPECT_EQ(s[0], 0);                       // blank
  EXPECT_EQ(s[size_t(1) * 9 + 0], 0);       // 100 -> 0
  EXPECT_EQ(s[size_t(2) * 9 + 0], 32768);   // 200: 32767.5 rounds to even
  EXPECT_EQ(s[size_t(2) * 9 + 5], 49151);   // 250: 49151.25
  const std::string info = TiffInfo(f);
  EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos);
  EXPECT_NE(info.find("Sample Format: unsigned integer"), std::string::npos);
  EXPECT_NE(info.find("min-is-black"), std::string::npos);
  EXPECT_NE(info.find("Software: Astrelon 4.28  + LIBTIFF"), std::string::npos);
}

TEST_F(TiffWriterTest, ValuesOfEachTypeReadBackByLibtiffAndImageMagick) {
  MakeImage(1, 6, 5, true);
  const double low = 0, high = 3000;
  const std::string f16 = dir_.file("c16.tif"), f32 = dir_.file("c32.tif"), ff = dir_.file("cf.tif");
  SaveTiffImage(1, 1, true, low, high, f16);
  SaveTiffImage(1, 2, false, low, high, f32);
  SaveTiffImage(1, 3, true, low, high, ff);
  uint32_t w, h;
  uint16_t spp;
  const auto s16 = ScanlineSamples<uint16_t>(f16, w, h, spp);
  const auto s32 = ScanlineSamples<uint32_t>(f32, w, h, spp);
  const auto sf = ScanlineSamples<float>(ff, w, h, spp);
  ASSERT_EQ(spp, 3);
  const TImageSlot& im = Store.Image[1];
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      for (int p = 1; p <= 3; ++p) {
        const size_t i = (size_t(y) * 6 + size_t(x)) * 3 + size_t(p - 1);
        const double v = im.At(p, x, y);
        EXPECT_EQ(s16[i], FloatToWordSample(float((v - low) * (65535.0 / (high - low)))));
        EXPECT_EQ(s32[i], FloatToDwordSample(float((v - low) * (4294967295.0 / (high - low)))));
        EXPECT_FLOAT_EQ(sf[i], float(v / high));
      }
  EXPECT_NE(TiffInfo(f16).find("Compression Scheme: Deflate"), std::string::npos);
  EXPECT_NE(TiffInfo(f32).find("Bits/Sample: 32"), std::string::npos);
  EXPECT_NE(TiffInfo(ff).find("Sample Format: IEEE floating point"), std::string::npos);
  EXPECT_NE(TiffInfo(ff).find("RGB color"), std::string::npos);
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick not installed";
  const auto m16 = MagickSamples16(f16, true);
  const auto mf = MagickSamples16(ff, true);
  ASSERT_EQ(m16.size(), s16.size());
  ASSERT_EQ(mf.size(), s16.size());
  for (size_t i = 0; i < m16.size(); ++i) {
    EXPECT_EQ(m16[i], s16[i]);
    EXPECT_NEAR(mf[i], s16[i], 1.0);  // float 0..1 as 16-bit
  }
}

// 16-bit files written through the vector paths hold, as libtiff reads them,
// the samples of the scalar formula, and the same bytes as files written without them.
TEST_F(TiffWriterTest, SixteenBitFilesFromTheVectorPathsAreTheScalarFiles) {
  const bool sse2 = Sse2Enabled;
  for (bool colour : {false, true}) {
    MakeImage(1, 37, 9, colour, -700);
    Store.Image[1].At(1, 3, 2) = BlankPixel;
    Store.Image[1].At(1, 4, 2) = NAN;
    const double low = -500, high = 4000;
    const std::string scalar = dir_.file("s.tif"), vector = dir_.file("v.tif");
    Sse2Enabled = false;
    SaveTiffImage(1, 1, false, low, high, scalar);
    Sse2Enabled = true;
    SaveTiffImage(1, 1, false, low, high, vector);
    Sse2Enabled = sse2;
    EXPECT_EQ(ReadAll(vector), ReadAll(scalar)) << colour;
    uint32_t w, h;
    uint16_t spp;
    const auto s16 = ScanlineSamples<uint16_t>(vector, w, h, spp);
    ASSERT_EQ(s16.size(), size_t(37 * 9 * (colour ? 3 : 1)));
    const TImageSlot& im = Store.Image[1];
    for (size_t i = 0; i < s16.size(); ++i) {
      const size_t pixel = i / spp;
      const double v = im.Planes[size_t(i % spp + 1)][pixel];
      EXPECT_EQ(s16[i], FloatToWordSample(float((v - low) * (65535.0 / (high - low))))) << i;
    }
  }
}

TEST_F(TiffWriterTest, EqualLowAndHighWriteTheOffsetValues) {
  MakeImage(1, 4, 2, false, 7);
  const std::string f = dir_.file("flat.tif");
  SaveTiffImage(1, 1, false, 7.0, 7.0, f);
  uint32_t w, h;
  uint16_t spp;
  const auto s = ScanlineSamples<uint16_t>(f, w, h, spp);
  EXPECT_EQ(s[3], 30);   // (37 - 7) * 1.0
  EXPECT_EQ(s[4], 100);  // (107 - 7) * 1.0
}

TEST_F(TiffWriterTest, StripsOfAtMost64KiBAndProgressForTallImages) {
  MakeImage(1, 2520, 300, false);
  const std::string f = dir_.file("tall.tif");
  SaveTiffImage(1, 1, false, 0, 65535, f);
  EXPECT_NE(TiffInfo(f).find("Rows/Strip: 13"), std::string::npos);
  ASSERT_FALSE(ui_.Status.empty());
  EXPECT_EQ(ui_.Status.front(), "  0 %");
  EXPECT_EQ(ui_.Status.back(), "");
  ui_.Status.clear();
  MakeImage(2, 1000, 100, false);
  SaveTiffImage(2, 1, false, 0, 65535, f);
  EXPECT_NE(TiffInfo(f).find("Rows/Strip: 32"), std::string::npos);
  EXPECT_TRUE(ui_.Status.empty());
}

TEST_F(TiffWriterTest, WriteIntoAReadOnlyFolderFailsCleanly) {
  MakeImage(1, 8, 8, false);
  std::string target;
  if (geteuid() == 0) {
    target = "/proc/astrelon-test.tif";  // even root cannot create files here
  } else {
    const auto ro = dir_.path() / "ro";
    std::filesystem::create_directory(ro);
    std::filesystem::permissions(ro, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    target = (ro / "x.tif").string();
  }
  try {
    SaveTiffImage(1, 1, false, 0, 100, target);
    FAIL() << "no error";
  } catch (const TTiffError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to create file '" + target + "'");
  }
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(TiffWriterTest, WriteIntoAFullDiskFailsAndKeepsTheOldFile) {
  MakeImage(1, 400, 400, false);
  const std::string f = dir_.file("old.tif");
  WriteText(f, "the old file");
  // A file size limit makes every write past 64 KiB fail as on a full disk.
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = old;
  limit.rlim_cur = 65536;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  std::string message;
  try {
    SaveTiffImage(1, 1, false, 0, 100, f);
  } catch (const TTiffError& e) {
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(message, "Failed to write '" + f + "'");
  EXPECT_EQ(ReadAll(f).size(), std::string("the old file").size());
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.path())) ++files;
  EXPECT_EQ(files, 1u);  // no temporary file left behind
  EXPECT_EQ(ui_.Status.empty() ? "" : ui_.Status.back(), "");
}

TEST_F(TiffWriterTest, ScaledSaveWritesWhatTheWindowShows) {
  MakeImage(1, 11, 3, false, 100);  // values 100..300
  Store.Display[1].Black = 100;
  Store.Display[1].White = 200;
  Store.Display[1].RangeLow = 100;
  Store.Display[1].RangeHigh = 300;
  Store.Display[1].Gamma = 1;
  Store.Display[1].DisplayType = DtGrey;
  Options.TiffScale = 0;
  const std::string f = dir_.file("shown.tif");
  ASSERT_TRUE(SaveTiffScaled(1, 2, f));
  uint32_t w, h;
  uint16_t spp;
  const auto s = ScanlineSamples<uint16_t>(f, w, h, spp);
  EXPECT_EQ(s[0], 0);          // at the black point
  EXPECT_EQ(s[10], 65535);     // at the white point
  EXPECT_EQ(s[11], 65535);     // above it
  EXPECT_EQ(FindFreeSlot(), 2);  // the temporary copy is gone
  EXPECT_EQ(Store.Image[1].At(1, 0, 0), 100.0f);  // the source is untouched

  // While a batch runs: linear in 0..65535.
  BatchRunning = 1;
  ASSERT_TRUE(SaveTiffScaled(1, 2, f));
  EXPECT_EQ(ScanlineSamples<uint16_t>(f, w, h, spp)[1], 110);
  BatchRunning = 0;

  // "TIFF skalieren": linear between the 0.05 % and 99.95 % levels, as float.
  Options.TiffScale = 1;
  ASSERT_TRUE(SaveTiffScaled(1, 0, f));
  const auto sf = ScanlineSamples<float>(f, w, h, spp);
  EXPECT_NEAR(sf[0], 0.0f, 0.01f);
  EXPECT_NEAR(sf[size_t(2) * 11 + 10], 1.0f, 0.01f);

  // A failed write still frees the temporary copy.
  Options.TiffScale = 0;
  EXPECT_THROW(SaveTiffScaled(1, 2, "/proc/astrelon-test.tif"), TTiffError);
  EXPECT_EQ(FindFreeSlot(), 2);
}

}  // namespace
}  // namespace astrelon::test
