// The RAW decoder adapter on DNG files written by the test suite.
#include "platform/raw_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "raw_fixture.h"

namespace astrelon::test {
namespace {

class RawDecoderTest : public ::testing::Test {
protected:
  void SetUp() override {
    spec_ = StandardDng();
    file_ = dir_.file("test.dng");
    ASSERT_TRUE(WriteDng(file_, spec_));
  }
  const uint16_t* Decode(std::vector<const char*> args) {
    args.push_back(file_.c_str());
    return decoder_.loadRaw(int(args.size()), args.data(), 8);
  }

  LocalZone zone_;
  TempDir dir_;
  TDngLayout spec_;
  std::string file_;
  TRawDecoder decoder_;
};

TEST_F(RawDecoderTest, RawMosaicIsTheFileSamplesInChannelZero) {
  const uint16_t* px = Decode({"-c", "-w", "-D"});
  ASSERT_NE(px, nullptr) << decoder_.geterrorcode();
  EXPECT_EQ(decoder_.geterrorcode(), 0);
  ASSERT_EQ(decoder_.getwidth(), 64);
  ASSERT_EQ(decoder_.getheight(), 48);
  EXPECT_EQ(decoder_.getpedestal(), 0);
  for (size_t i = 0; i < spec_.Cfa.size(); ++i) {
    ASSERT_EQ(px[i * 4], spec_.Cfa[i]) << i;
    ASSERT_EQ(px[i * 4 + 1], 0);
  }
}

TEST_F(RawDecoderTest, MetadataRecord) {
  ASSERT_NE(Decode({"-c", "-w", "-D"}), nullptr);
  const TRawMetaData* m = decoder_.qz_getMetaData();
  ASSERT_TRUE(m->Valid);
  EXPECT_EQ(m->Width, 64);
  EXPECT_EQ(m->Height, 48);
  EXPECT_EQ(m->Shrink, 0);
  EXPECT_EQ(m->BlackLevel, 1024);
  // RGGB: red at (0,0), blue at (1,1), greens between.
  auto colour = [&](int row, int col) { return (m->FilterPattern >> ((((row << 1) & 14) | (col & 1)) << 1)) & 3; };
  EXPECT_EQ(colour(0, 0), 0u);
  EXPECT_EQ(colour(0, 1), 1u);
  EXPECT_EQ(colour(1, 1), 2u);
  EXPECT_EQ(colour(1, 0) & 1u, 1u);  // green (1, or 3 for the second green)
  EXPECT_NEAR(m->Iso, 800, 1e-6);
  EXPECT_NEAR(m->ExposureTime, 1.0 / 125, 1e-7);
  EXPECT_NEAR(m->Aperture, 5.6, 1e-5);
  EXPECT_NEAR(m->FocalLength, 50, 1e-6);
  EXPECT_STREQ(m->Maker, "Testkamera");
  EXPECT_STREQ(m->Model, "TK-1");
  EXPECT_STREQ(m->Artist, "Erika Mustermann");
  // The camera's clock read as local time.
  const std::time_t t = std::time_t(m->TimeStamp);
  std::tm tm{};
  ASSERT_NE(localtime_r(&t, &tm), nullptr);
  EXPECT_EQ(tm.tm_year + 1900, 2021);
  EXPECT_EQ(tm.tm_mon + 1, 7);
  EXPECT_EQ(tm.tm_mday, 14);
  EXPECT_EQ(tm.tm_hour, 23);
  EXPECT_EQ(tm.tm_min, 30);
  EXPECT_EQ(tm.tm_sec, 5);
  // White balance from AsShotNeutral (1/neutral), normalised to the smallest.
  EXPECT_NEAR(m->Multipliers[0], 2.0, 1e-4);
  EXPECT_NEAR(m->Multipliers[1], 1.0, 1e-4);
  EXPECT_NEAR(m->Multipliers[2], 1.25, 1e-4);
  EXPECT_NEAR(m->Multipliers[3], 1.0, 1e-4);
  // Each row of the camera-to-sRGB matrix sums to 1 (white stays white).
  for (int r = 0; r < 3; ++r) EXPECT_NEAR(m->Matrix[size_t(r)][0] + m->Matrix[size_t(r)][1] + m->Matrix[size_t(r)][2], 1.0, 0.01);
}

TEST_F(RawDecoderTest, ScaledMosaicSubtractsBlackScalesAndAddsPedestal) {
  const uint16_t* px = Decode({"-c", "-w", "-d"});
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(decoder_.getpedestal(), RawPedestal);
  const double range = 16383.0 - 1024.0;
  const double mul[4] = {2.0, 1.0, 1.25, 1.0};  // R, G, B, G
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const int site = (y & 1) * 2 + (x & 1);
      const double m = site == 0 ? mul[0] : site == 3 ? mul[2] : 1.0;
      const double v = spec_.Cfa[size_t(y) * 64 + size_t(x)];
      const double expected = std::clamp(std::nearbyint((v - 1024) * m * 65535.0 / range + RawPedestal), 0.0, 65535.0);
      ASSERT_NEAR(px[(size_t(y) * 64 + size_t(x)) * 4], expected, 1.0) << x << "," << y;
    }
  // The site below the black level keeps its noise below the pedestal.
  EXPECT_LT(px[(5 * 64 + 9) * 4], RawPedestal);
}

TEST_F(RawDecoderTest, UnclippedScalingNormalisesByTheLargestMultiplier) {
  const uint16_t* px = Decode({"-c", "-w", "-d", "-x"});
  ASSERT_NE(px, nullptr);
  // Green is scaled by 1/2 relative to the clipped scaling (red's multiplier 2 is the largest).
  const double v = spec_.Cfa[1];  // green site (0, 1)
  EXPECT_NEAR(px[4], std::nearbyint((v - 1024) * 0.5 * 65535.0 / (16383.0 - 1024.0) + RawPedestal), 1.0);
}

TEST_F(RawDecoderTest, HalfSizeMosaicHoldsEachSiteInItsChannel) {
  const uint16_t* px = Decode({"-c", "-w", "-D", "-h"});
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(decoder_.getwidth(), 32);
  EXPECT_EQ(decoder_.getheight(), 24);
  EXPECT_EQ(decoder_.getshrink(), 1);
  EXPECT_EQ(px[(3 * 32 + 5) * 4 + 0], spec_.Cfa[size_t(6) * 64 + 10]);  // red
  EXPECT_EQ(px[(3 * 32 + 5) * 4 + 2], spec_.Cfa[size_t(7) * 64 + 11]);  // blue
}

TEST_F(RawDecoderTest, IdentifyOnlyGivesMetadataWithoutPixels) {
  EXPECT_EQ(Decode({"-c", "-w", "-D", "-i"}), nullptr);
  EXPECT_EQ(decoder_.geterrorcode(), 0);
  EXPECT_TRUE(decoder_.qz_getMetaData()->Valid);
  EXPECT_NE(decoder_.gettimestamp(), -1);
}

TEST_F(RawDecoderTest, LosslessJpegDngDecodesToTheSameMosaic) {
  spec_.LosslessJpeg = true;
  ASSERT_TRUE(WriteDng(file_, spec_));
  const uint16_t* px = Decode({"-c", "-w", "-D"});
  ASSERT_NE(px, nullptr) << decoder_.geterrorcode();
  for (size_t i = 0; i < spec_.Cfa.size(); ++i) ASSERT_EQ(px[i * 4], spec_.Cfa[i]) << i;
}

TEST_F(RawDecoderTest, ErrorsGiveCodesAndNoBuffer) {
  const char* none[] = {"-c", "-w", ""};
  EXPECT_EQ(decoder_.loadRaw(2, none, 8), nullptr);
  EXPECT_EQ(decoder_.geterrorcode(), RawNoFile);
  const std::string missing = dir_.file("missing.dng");
  const char* args[] = {"-c", missing.c_str()};
  EXPECT_EQ(decoder_.loadRaw(2, args, 8), nullptr);
  EXPECT_EQ(decoder_.geterrorcode(), RawNoFile);
  const std::string text = dir_.file("text.nef");
  WriteText(text, "this is not a raw file at all, just some words in a file");
  const char* args2[] = {"-c", text.c_str()};
  EXPECT_EQ(decoder_.loadRaw(2, args2, 8), nullptr);
  EXPECT_EQ(decoder_.geterrorcode(), RawUnsupported);
  EXPECT_FALSE(decoder_.qz_getMetaData()->Valid);
}

}  // namespace
}  // namespace astrelon::test
