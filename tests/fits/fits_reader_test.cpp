// The FITS reader: sample formats, planes, row order, cards, blank rules, and
// files it must refuse without touching the slot.
#include "store/fits/fits_reader.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "core/settings.h"
#include "fits_test_util.h"
#include "store/fits/fits_header.h"
#include "store/fits/fits_layout.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

using test::ImageCards;
using test::ValueCard;

class FitsReaderTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    Options.FitsFlip = 1;
  }
  void TearDown() override {
    Options.FitsFlip = 1;
    test::StoreTest::TearDown();
  }
  std::string Write(const std::vector<uint8_t>& bytes, const std::string& name = "in.fit") {
    const std::string file = dir_.file(name);
    test::WriteAll(file, bytes);
    return file;
  }
  float Pixel(int slot, int p, int x, int y) { return Store.Image[slot].At(p, x, y); }
  test::TempDir dir_;
  test::TRecordingUi ui_;
};

TEST_F(FitsReaderTest, EightBitSamplesAreUnsigned) {
  const std::string file = Write(test::FitsFile(ImageCards(8, 3, 1), {200, 0, 255}));
  ASSERT_TRUE(LoadFits(1, file, false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), 200.0f);
  EXPECT_EQ(Pixel(1, 1, 2, 0), 255.0f);
  EXPECT_EQ(Store.InUse[1], 1);
  EXPECT_EQ(Store.FileName[1], file);
  EXPECT_EQ(Store.Image[1].NumberedName, 0);
}

TEST_F(FitsReaderTest, EverySampleFormatWithScaling) {
  std::vector<uint8_t> d16, d32, f32, f64;
  test::PutBe16(d16, -2);
  test::PutBe32(d32, 100000);
  test::PutBeFloat(f32, 1.5f);
  test::PutBeDouble(f64, -2.25);
  struct TCase {
    int bitpix;
    std::vector<uint8_t> data;
    float want;
  };
  for (const TCase& c : {TCase{16, d16, -2 * 0.5f + 10}, TCase{32, d32, 100000 * 0.5f + 10}, TCase{-32, f32, 10.75f},
                         TCase{-64, f64, 8.875f}}) {
    std::vector<std::string> cards = ImageCards(c.bitpix, 1, 1);
    cards.push_back(ValueCard("BSCALE", "0.5"));
    cards.push_back(ValueCard("BZERO", "10"));
    ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, c.data)), false)) << c.bitpix;
    EXPECT_EQ(Pixel(1, 1, 0, 0), c.want) << c.bitpix;
  }
}

TEST_F(FitsReaderTest, FloatLimitsAndNaN) {
  std::vector<uint8_t> d;
  for (float v : {3e20f, NAN, -INFINITY, -2.5f}) test::PutBeFloat(d, v);
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(ImageCards(-32, 4, 1), d)), false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), 1e17f);       // cut to 1e17
  EXPECT_EQ(Pixel(1, 1, 1, 0), BlankPixel);  // NaN is stored as the blank value
  EXPECT_EQ(Pixel(1, 1, 2, 0), BlankPixel);
  EXPECT_EQ(Pixel(1, 1, 3, 0), -2.5f);
  d.clear();
  for (double v : {-5e11, 5e20, 1.0 / 3}) test::PutBeDouble(d, v);
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(ImageCards(-64, 3, 1), d)), false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), -1e11f);
  EXPECT_EQ(Pixel(1, 1, 1, 0), 1e17f);
  EXPECT_EQ(Pixel(1, 1, 2, 0), float(1.0 / 3));
}

TEST_F(FitsReaderTest, PlanesOfColourImages) {
  // NAXIS = 3 with one plane: colour, planes 2 and 3 blank.
  std::vector<uint8_t> d{1, 2};
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(ImageCards(8, 2, 1, 1), d)), false));
  std::vector<std::string> cards = ImageCards(8, 2, 1);
  cards[2] = ValueCard("NAXIS", "3");
  cards.push_back(ValueCard("NAXIS3", "1"));
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, d)), false));
  EXPECT_EQ(Store.Image[1].IsColor, 1);
  EXPECT_EQ(Store.Image[1].PlaneCount, 3);
  EXPECT_EQ(Pixel(1, 1, 1, 0), 2.0f);
  EXPECT_EQ(Pixel(1, 2, 0, 0), BlankPixel);
  EXPECT_EQ(Pixel(1, 3, 1, 0), BlankPixel);
  // NAXIS3 before NAXIS = 3 is not taken: one plane is read.
  cards = {ValueCard("SIMPLE", "T"), ValueCard("BITPIX", "8"), ValueCard("NAXIS3", "3"), ValueCard("NAXIS", "3"),
           ValueCard("NAXIS1", "2"), ValueCard("NAXIS2", "1"), "CTYPE3  = 'YUV     '"};
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, {5, 6, 7, 8, 9, 10})), false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), 5.0f);
  EXPECT_EQ(Pixel(1, 2, 0, 0), BlankPixel);
  EXPECT_EQ(Store.Image[1].ColorModel, CmYuv);
  // Three planes follow each other.
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(ImageCards(8, 2, 1, 3), {1, 2, 3, 4, 5, 6})), false));
  EXPECT_EQ(Pixel(1, 3, 1, 0), 6.0f);
  EXPECT_EQ(Store.Image[1].ColorModel, CmRgb);
  // Two planes: the third is blank.
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(ImageCards(8, 2, 1, 2), {1, 2, 3, 4})), false));
  EXPECT_EQ(Pixel(1, 2, 1, 0), 4.0f);
  EXPECT_EQ(Pixel(1, 3, 0, 0), BlankPixel);
  // NAXIS3 = 0 reads no plane: a colour image whose three planes are blank.
  cards = ImageCards(8, 2, 1);
  cards[2] = ValueCard("NAXIS", "3");
  cards.push_back(ValueCard("NAXIS3", "0"));
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, {})), false));
  EXPECT_EQ(Store.Image[1].IsColor, 1);
  EXPECT_EQ(Store.Image[1].PlaneCount, 3);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Pixel(1, p, 1, 0), BlankPixel);
}

TEST_F(FitsReaderTest, DataStartAfterWholeHeaderBlocks) {
  std::vector<std::string> cards = ImageCards(8, 1, 1);
  while (cards.size() < 39) cards.push_back("COMMENT filler");  // 40 cards with END
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, {42})), false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), 42.0f);
  EXPECT_EQ(test::ReadAll(dir_.file("in.fit"))[5760], 42);
}

TEST_F(FitsReaderTest, RowOrderFollowsFitsFlip) {
  const std::string file = Write(test::FitsFile(ImageCards(8, 1, 3), {10, 11, 12}));
  ASSERT_TRUE(LoadFits(1, file, false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), 10.0f);
  Options.FitsFlip = 0;
  ASSERT_TRUE(LoadFits(1, file, false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), 12.0f);
  EXPECT_EQ(Pixel(1, 1, 0, 2), 10.0f);
}

TEST_F(FitsReaderTest, PixelLimit) {
  TFitsHeaderInfo info;
  info.Bitpix = 8;
  info.Naxis = 2;
  info.Naxis1 = 20000;
  info.Naxis2 = 20000;
  info.HasEnd = true;
  info.DataOffset = 2880;
  EXPECT_TRUE(CheckFitsHeader(info, 2880 + 400000000).has_value());
  EXPECT_FALSE(CheckFitsHeader(info, 2880 + 400000000 - 1).has_value());  // one byte short
  info.Naxis1 = 400000001;
  info.Naxis2 = 1;
  EXPECT_FALSE(CheckFitsHeader(info, uint64_t(1) << 40).has_value());
}

TEST_F(FitsReaderTest, RefusedFilesLeaveTheSlotFree) {
  // Regression inputs: each is refused with the header message; the slot stays
  // free and keeps its old planes.
  const std::filesystem::path folder = test::DataFile("fits/bad");
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    SCOPED_TRACE(entry.path().filename().string());
    ++files;
    Store.Image[3].Planes[1].assign(4, 7.0f);
    ui_.Messages.clear();
    EXPECT_FALSE(LoadFits(3, entry.path().string(), false));
    EXPECT_EQ(Store.InUse[3], 0);
    EXPECT_EQ(ui_.Messages, std::vector<std::string>{"Der Header konnte nicht erkannt werden!"});
    LoadFits(0, entry.path().string(), true);  // header alone: no crash
  }
  EXPECT_GE(files, 14);
  // A file that cannot be opened: false without a message.
  ui_.Messages.clear();
  EXPECT_FALSE(LoadFits(3, dir_.file("missing.fit"), false));
  EXPECT_TRUE(ui_.Messages.empty());
}

TEST_F(FitsReaderTest, OddButReadableCards) {
  // Bytes outside ASCII in a comment, values in free format with comments, a
  // "D" exponent and a comma.
  std::vector<std::string> cards{ValueCard("SIMPLE", "T"), "BITPIX  = 16 / bits", "NAXIS   = 2",
                                 "NAXIS1  = 2 / width",       "NAXIS2  = 1",         "BZERO   = 1.0D+01 / zero",
                                 "BSCALE  =                  0,5", "COMMENT caf\xe9 \x01"};
  std::vector<uint8_t> d;
  test::PutBe16(d, 4);
  test::PutBe16(d, -4);
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, d)), false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), 12.0f);
  EXPECT_EQ(Pixel(1, 1, 1, 0), 8.0f);
  EXPECT_EQ(Store.Header[1][7], PadCard("COMMENT caf? ?"));
  // A free-format value longer than columns 11..30 counts as a whole.
  cards = {ValueCard("SIMPLE", "T"), ValueCard("BITPIX", "16"), ValueCard("NAXIS", "1"), ValueCard("NAXIS1", "1"),
           "BSCALE  = 1.25000000000000000000E-01 / scale"};
  d.clear();
  test::PutBe16(d, 8);
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, d)), false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), 1.0f);
}

TEST_F(FitsReaderTest, HeaderOnly) {
  std::vector<std::string> cards = ImageCards(16, 640, 480, 3);
  cards.push_back("DATE-OBS= '2024-01-02'");
  cards.push_back("COMMENT MDarkRMS 3.5000000000000E+00");
  const std::string file = Write(test::FitsFile(cards, {}, false));  // the data are not needed
  Store.Image[0].Planes[1].assign(3, 1.0f);
  ASSERT_TRUE(LoadFits(0, file, true));
  EXPECT_EQ(Store.Image[0].Width, 640);
  EXPECT_EQ(Store.Image[0].Height, 480);
  EXPECT_EQ(Store.Image[0].IsColor, 1);
  EXPECT_EQ(Store.Image[0].DarkRms, 3.5);
  EXPECT_EQ(Store.Image[0].Planes[1].size(), 3u);
  EXPECT_EQ(FindHeaderKeyword(0, "DATE-OBS"), 6);
  EXPECT_EQ(Store.InUse[0], 0);
  EXPECT_FALSE(LoadFits(0, file, false));  // the full read needs the data
  EXPECT_FALSE(LoadFits(0, test::DataFile("fits/bad/no_end.fit"), true));
}

TEST_F(FitsReaderTest, DisplayCards) {
  std::vector<std::string> cards = ImageCards(8, 4, 1);
  cards.push_back("COMMENT QZHistPar Min       10 Max      200 Gam 2.00 Typ 1");
  const std::vector<uint8_t> d{0, 50, 100, 250};
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, d)), false));
  const TDisplayRecord& r = Store.Display[1];
  EXPECT_EQ(r.Black, 10.0f);
  EXPECT_EQ(r.White, 200.0f);
  EXPECT_EQ(r.Gamma, 2.0f);
  EXPECT_EQ(r.CurveMode, 1);
  // 3 of 4 valid pixels above 10 + 0.2 * 190: not below 50 %, so no square-root histogram.
  EXPECT_EQ(r.SqrtHistogram, 0);
  // The QZHP3 card wins.
  cards.push_back("COMMENT QZHP3 14D4110000043480000FFFF");
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, d)), false));
  EXPECT_EQ(r.Black, 9.0f);
  EXPECT_EQ(r.White, 200.0f);
  EXPECT_EQ(r.Gamma, 5.0f);
  EXPECT_EQ(r.DisplayType, DtGradient);
  EXPECT_EQ(r.SqrtHistogram, 1);
  EXPECT_EQ(r.RangeLow, 0.0f);
  EXPECT_EQ(r.RangeHigh, 250.0f);
}

TEST_F(FitsReaderTest, BlankRules) {
  // Integer data: BLANK is the raw code.
  std::vector<std::string> cards = ImageCards(16, 3, 1);
  cards.push_back(ValueCard("BZERO", "100"));
  cards.push_back(ValueCard("BLANK", "-1"));
  std::vector<uint8_t> d;
  for (int16_t v : {-1, 0, -101}) test::PutBe16(d, v);
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, d)), false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), BlankPixel);
  EXPECT_EQ(Pixel(1, 1, 1, 0), 100.0f);
  EXPECT_EQ(Pixel(1, 1, 2, 0), -1.0f);  // physically -1, but not the raw code
  // Files that hold the physical blank value in BLANK (their blank pixels sit at
  // the bottom raw code): values within 0.01 of it are blank.
  const double bscale = (99.0 + 2.0) / 65530, bzero = 99.0 - 32766 * bscale;
  cards = ImageCards(16, 3, 1);
  cards.push_back("BZERO   =  " + FormatCardExponent(bzero));
  cards.push_back("BSCALE  =  " + FormatCardExponent(bscale));
  cards.push_back(ValueCard("BLANK", "-2"));
  d.clear();
  for (int16_t v : {-32764, -2, 32766}) test::PutBe16(d, v);
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, d)), false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), BlankPixel);
  EXPECT_NEAR(Pixel(1, 1, 1, 0), 48.5f, 0.01f);  // raw -2 is a valid pixel here
  EXPECT_NEAR(Pixel(1, 1, 2, 0), 99.0f, 1e-4f);
  // Float data: the "COMMENT BLANK " value, within 0.01.
  cards = ImageCards(-32, 3, 1);
  cards.push_back("COMMENT BLANK -1,5");
  d.clear();
  for (float v : {-1.5f, -1.495f, -1.515f}) test::PutBeFloat(d, v);
  ASSERT_TRUE(LoadFits(1, Write(test::FitsFile(cards, d)), false));
  EXPECT_EQ(Pixel(1, 1, 0, 0), BlankPixel);
  EXPECT_EQ(Pixel(1, 1, 1, 0), BlankPixel);
  EXPECT_EQ(Pixel(1, 1, 2, 0), -1.515f);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool UnderSanitizer = true;
#else
constexpr bool UnderSanitizer = false;
#endif

// An image too large for the memory left is refused with a message. The file is
// sparse: its 256 MB of data take no disk space.
TEST_F(FitsReaderTest, TooLargeForMemoryIsRefused) {
  if (UnderSanitizer) GTEST_SKIP() << "address-space limits do not work under the sanitizers";
  const std::string file = dir_.file("huge.fit");
  test::WriteAll(file, test::FitsFile(ImageCards(8, 16000, 16000), {}, false));
  ASSERT_EQ(truncate(file.c_str(), 2880 + 16000 * 16000), 0);
  auto load = [&] {
    rlimit lim{};
    getrlimit(RLIMIT_AS, &lim);
    lim.rlim_cur = rlim_t(512) << 20;  // far less than the 1 GB of planes
    if (setrlimit(RLIMIT_AS, &lim) != 0) return false;
    const bool loaded = LoadFits(1, file, false);
    return !loaded && Store.InUse[1] == 0 && ui_.Messages.size() == 1 &&
           ui_.Messages[0].starts_with("Nicht genügend Speicher");
  };
  EXPECT_EXIT(std::exit(load() ? 0 : 1), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace astrelon
