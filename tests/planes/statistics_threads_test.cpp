// The statistics passes over large planes run on bands of threads: their figures
// must be the same with one thread or many, on every SIMD path.
#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "simd_paths.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "test_support.h"

namespace astrelon {
namespace {

using test::PathGuard;
using test::TPath;

// Large enough (over a million pixels) for the passes to take several threads.
constexpr int W = 1031, H = 1030;

class StatisticsThreads : public test::StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    saved_ = Options;
  }
  void TearDown() override {
    Options = saved_;
    StoreTest::TearDown();
  }
  // Three planes of noise with blanks, NaN, values above 1e18 and a lone minimum
  // and maximum in different bands of rows.
  void MakeImage(int slot) {
    TImageSlot& im = Store.Image[slot];
    im.Width = W;
    im.Height = H;
    im.PlaneCount = 3;
    im.IsColor = 1;
    im.AllocatePlanes(3);
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(900.0f, 40.0f);
    for (int p = 1; p <= 3; ++p) {
      for (float& v : im.Planes[p]) v = noise(rng) * float(p);
      for (size_t i = 7; i < im.PixelCount(); i += 4099) im.Planes[p][i] = BlankPixel;
      for (size_t i = 3; i < im.PixelCount(); i += 100003) im.Planes[p][i] = std::numeric_limits<float>::quiet_NaN();
      im.At(p, 5, H - 3) = -50.0f * float(p);
      im.At(p, W - 1, 2) = 20000.0f + float(p);
    }
    im.At(2, 100, H / 2) = 7e25f;  // clamped to 1e18
    Store.InUse[slot] = 1;
    Store.FileName[slot] = "bands.fit";
  }

  TProgramOptions saved_;
};

TEST_F(StatisticsThreads, MinMaxHistogramAndLevelsDoNotDependOnTheThreads) {
  for (TPath path : test::AvailablePaths()) {
    PathGuard guard(path);
    for (int multicore : {0, 1}) {
      SCOPED_TRACE(test::PathName(path) + (multicore ? " threads" : " one thread"));
      Options.Multicore = uint8_t(multicore);
      MakeImage(multicore + 1);
    }
    for (int slot : {1, 2}) {
      Options.Multicore = uint8_t(slot - 1);
      ResetDisplayRange(slot, 0);
      ComputeHistogram(slot, false, false);
    }
    const TImageSlot& a = Store.Image[1];
    const TImageSlot& b = Store.Image[2];
    EXPECT_EQ(a.PlaneMin, b.PlaneMin);
    EXPECT_EQ(a.PlaneMax, b.PlaneMax);
    EXPECT_EQ(a.MinValue, -150.0f);
    EXPECT_EQ(a.MaxValue, 1e18f);
    EXPECT_EQ(b.MinValue, a.MinValue);
    EXPECT_EQ(b.MaxValue, a.MaxValue);
    EXPECT_EQ(a.PlaneMax[1], 20001.0f);
    EXPECT_EQ(b.At(2, 100, H / 2), 1e18f);
    EXPECT_EQ(Store.Display[1].Histogram, Store.Display[2].Histogram);
    EXPECT_EQ(Store.Display[1].HistogramPeak, Store.Display[2].HistogramPeak);
    EXPECT_GT(Store.Display[1].HistogramPeak, 0);
    for (int slot : {1, 2}) {
      Options.Multicore = uint8_t(slot - 1);
      SetAutoDisplayRange(slot, false);
    }
    EXPECT_EQ(std::bit_cast<uint32_t>(Store.Display[1].Black), std::bit_cast<uint32_t>(Store.Display[2].Black));
    EXPECT_EQ(std::bit_cast<uint32_t>(Store.Display[1].White), std::bit_cast<uint32_t>(Store.Display[2].White));
    TPercentileLevels la, lb;
    for (int slot : {1, 2}) {
      Options.Multicore = uint8_t(slot - 1);
      GetPercentileLevels(slot, 3, 0, W - 1, 0, H - 1, 0.5, 99.5, slot == 1 ? la : lb);
    }
    EXPECT_EQ(la.LevelA, lb.LevelA);
    EXPECT_EQ(la.LevelB, lb.LevelB);
    EXPECT_EQ(la.RectMin, lb.RectMin);
    EXPECT_EQ(la.RectMax, lb.RectMax);
  }
}

// Few distinct values overflow the gathering of the vector path, which then
// counts a histogram instead; with one thread or many the levels agree.
TEST_F(StatisticsThreads, LevelsOfFewDistinctValues) {
  for (TPath path : test::AvailablePaths()) {
    PathGuard guard(path);
    SCOPED_TRACE(test::PathName(path));
    MakeImage(1);
    TImageSlot& im = Store.Image[1];
    for (size_t i = 0; i < im.PixelCount(); ++i) im.Planes[1][i] = float(i % 7 == 0 ? 3 : i % 3);
    im.Planes[1][12345] = BlankPixel;
    UpdateMinMax(1);
    TPercentileLevels one, many;
    Options.Multicore = 0;
    GetPercentileLevels(1, 1, 0, W - 1, 0, H - 1, 10.0, 90.0, one);
    Options.Multicore = 1;
    GetPercentileLevels(1, 1, 0, W - 1, 0, H - 1, 10.0, 90.0, many);
    EXPECT_EQ(one.LevelA, many.LevelA);
    EXPECT_EQ(one.LevelB, many.LevelB);
    EXPECT_NEAR(one.LevelA, 0.0, 1e-3);
    EXPECT_NEAR(one.LevelB, 3.0, 1e-3);
  }
}

TEST_F(StatisticsThreads, PlanesWithoutValidPixelsGiveZeroAndOne) {
  MakeImage(1);
  TImageSlot& im = Store.Image[1];
  std::fill(im.Planes[1].begin(), im.Planes[1].end(), BlankPixel);
  std::fill(im.Planes[3].begin(), im.Planes[3].end(), 5e30f);  // only values above 1e18
  UpdateMinMax(1);
  EXPECT_EQ(im.PlaneMin[1], 0.0f);
  EXPECT_EQ(im.PlaneMax[1], 1.0f);
  EXPECT_EQ(im.PlaneMin[3], 0.0f);
  EXPECT_EQ(im.PlaneMax[3], 1.0f);
  EXPECT_EQ(im.MinValue, -100.0f);
  EXPECT_EQ(im.MaxValue, 1e18f);
  // The plane of huge values counts as valid: alone it gives the overall 0 and 1.
  std::fill(im.Planes[2].begin(), im.Planes[2].end(), BlankPixel);
  im.At(3, 0, 0) = BlankPixel;
  UpdateMinMax(1);
  EXPECT_EQ(im.MinValue, 0.0f);
  EXPECT_EQ(im.MaxValue, 1.0f);
  std::fill(im.Planes[3].begin(), im.Planes[3].end(), BlankPixel);
  UpdateMinMax(1);
  EXPECT_EQ(im.MinValue, 0.0f);
  EXPECT_EQ(im.MaxValue, 1.0f);
}

}  // namespace
}  // namespace astrelon
