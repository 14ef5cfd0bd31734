#include "store/planes/image_statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "simd_paths.h"
#include "store/image_store.h"
#include "store/planes/percentile_levels.h"
#include "store/planes/percentile_selection.h"
#include "store/planes/plane_routines.h"
#include "test_support.h"

namespace astrelon {
namespace {

using test::PathGuard;
using test::TPath;

class ImageStatistics : public test::StoreTest {
protected:
  TImageSlot& MakeSlot(int slot, int w, int h, int planes = 1, float fill = 0.0f) {
    Store.InUse[slot] = 1;
    TImageSlot& im = Store.Image[slot];
    im.Width = w;
    im.Height = h;
    im.PlaneCount = planes;
    im.IsColor = planes > 1;
    im.AllocatePlanes(planes);
    for (int p = 1; p <= planes; ++p) std::fill(im.Planes[p].begin(), im.Planes[p].end(), fill);
    return im;
  }
  void FillNoise(TImageSlot& im, int p, float mean, float sigma, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(mean, sigma);
    for (float& v : im.Planes[p]) v = noise(rng);
  }
};

const float ShortRunNoise = float(std::sqrt(1.0 / 1.0001) / 1.1);

TEST_F(ImageStatistics, FlatRectangleGivesItsValueForBothLevels) {
  MakeSlot(1, 20, 10, 1, 5.0f);
  UpdateMinMax(1);
  for (TPath path : test::AvailablePaths()) {
    PathGuard guard(path);
    TPercentileLevels l;
    GetPercentileLevels(1, 1, 0, 19, 0, 9, 0.2, 99.95, l);
    EXPECT_EQ(l.LevelA, 5.0);
    EXPECT_EQ(l.LevelB, 5.0);
    EXPECT_EQ(l.RectMin, 5.0f);
    EXPECT_EQ(l.RectMax, 5.0f);
  }
}

TEST_F(ImageStatistics, LevelsOfARampAreItsPercentiles) {
  TImageSlot& im = MakeSlot(1, 10, 10);
  for (int i = 0; i < 100; ++i) im.Planes[1][size_t(i)] = float(i);
  UpdateMinMax(1);
  TPercentileLevels l;
  GetPercentileLevels(1, 1, 0, 9, 0, 9, 10, 90, l);
  EXPECT_NEAR(l.LevelA, 9.0, 0.01);
  EXPECT_NEAR(l.LevelB, 90.0, 0.01);
  // Rectangle bounds are clamped into the image.
  GetPercentileLevels(1, 1, -5, 4, 5, 50, 50, 50, l);
  EXPECT_EQ(l.RectMin, 50.0f);
  EXPECT_EQ(l.RectMax, 94.0f);
  EXPECT_EQ(l.LevelA, l.LevelB);
}

// Levels of every path compared with the scalar histogram, over several kinds of data.
void ExpectLevelsAgree(int slot, int x1, int x2, int y1, int y2, const char* what) {
  for (double pctA : {0.0, 0.2, 5.0, 30.0, 50.0})
    for (double pctB : {pctA, 60.0, 99.95, 100.0}) {
      TPercentileLevels ref;
      {
        PathGuard guard(TPath::Scalar);
        GetPercentileLevels(slot, 1, x1, x2, y1, y2, pctA, pctB, ref);
      }
      for (TPath path : test::VectorPaths()) {
        PathGuard guard(path);
        TPercentileLevels l;
        GetPercentileLevels(slot, 1, x1, x2, y1, y2, pctA, pctB, l);
        EXPECT_EQ(std::bit_cast<uint64_t>(l.LevelA), std::bit_cast<uint64_t>(ref.LevelA))
            << what << " " << test::PathName(path) << " " << pctA;
        EXPECT_EQ(std::bit_cast<uint64_t>(l.LevelB), std::bit_cast<uint64_t>(ref.LevelB))
            << what << " " << test::PathName(path) << " " << pctB;
        EXPECT_EQ(l.RectMin, ref.RectMin) << what;
        EXPECT_EQ(l.RectMax, ref.RectMax) << what;
      }
    }
}

TEST_F(ImageStatistics, LevelPathsAgreeToTheLastBit) {
  TImageSlot& im = MakeSlot(1, 301, 257);
  FillNoise(im, 1, 800.0f, 25.0f, 11);
  for (size_t i = 0; i < im.Planes[1].size(); i += 41) im.Planes[1][i] = BlankPixel;
  for (size_t i = 5; i < im.Planes[1].size(); i += 1999) im.Planes[1][i] = 40000.0f;
  im.Planes[1][77] = std::numeric_limits<float>::quiet_NaN();
  UpdateMinMax(1);
  ExpectLevelsAgree(1, 3, 290, 7, 250, "noise");
  ExpectLevelsAgree(1, 0, 300, 0, 256, "whole");
  ExpectLevelsAgree(1, 10, 105, 20, 119, "small rectangle");  // 9600 pixels: a sample of 1024
  // Few distinct values: the windows hold half the pixels and the histogram takes over.
  for (size_t i = 0; i < im.Planes[1].size(); ++i) im.Planes[1][i] = float(i % 2);
  ExpectLevelsAgree(1, 0, 300, 0, 256, "two values");
  // A gradient with a dark corner: the sample sees little of it.
  for (int y = 0; y < 257; ++y)
    for (int x = 0; x < 301; ++x) im.At(1, x, y) = (x < 20 && y < 20) ? -float(x + y) : float(x * 3 + y);
  ExpectLevelsAgree(1, 0, 300, 0, 256, "gradient");
  ExpectLevelsAgree(1, 0, 99, 0, 99, "small gradient");
}

// The selection's pass handed out in parts (bands of columns of a rectangle
// inside the plane, the rest of the plane apart, merged in any order) gives
// the levels of the scalar histogram, and level A lies in its window.
TEST_F(ImageStatistics, LevelSelectionInPartsGivesTheHistogramLevels) {
  TImageSlot& im = MakeSlot(1, 403, 211);
  FillNoise(im, 1, 300.0f, 12.0f, 17);
  for (int y = 40; y < 180; ++y)
    for (int x = 60; x < 350; ++x) im.At(1, x, y) += 4000.0f * float(std::exp(-((x - 200) * (x - 200) + (y - 110) * (y - 110)) / 5000.0));
  for (size_t i = 7; i < im.Planes[1].size(); i += 97) im.Planes[1][i] = BlankPixel;
  UpdateMinMax(1);
  const int32_t W = 403, H = 211;
  const TWorkRect r{50, 380, 30, 200};
  std::span<const float> plane(im.Planes[1].data(), size_t(W) * H);
  for (const auto& [pctA, pctB] : {std::pair{5.0, 5.0}, {1.0, 99.5}, {30.0, 70.0}})
    for (TPath path : test::VectorPaths()) {
      PathGuard guard(path);
      TPercentileLevels ref;
      {
        PathGuard scalar(TPath::Scalar);
        GetPercentileLevels(1, 1, 0, W - 1, 0, H - 1, pctA, pctB, ref);
      }
      TLevelSelection selection(plane, W, H, W, pctA, pctB);
      ASSERT_TRUE(selection.Usable());
      // Three bands of the rectangle's columns, row by row.
      std::vector<std::unique_ptr<TLevelSelection::TPart>> parts;
      for (int k = 0; k < 3; ++k) parts.push_back(selection.NewPart(true));
      const int32_t w = r.x2 - r.x1 + 1;
      for (int32_t y = r.y1; y <= r.y2; ++y)
        for (int k = 0; k < 3; ++k) {
          const int32_t a = r.x1 + w * k / 3, b = r.x1 + w * (k + 1) / 3;
          parts[size_t(k)]->AddRows(plane.data() + y * W + a, b - a, 1, W);
        }
      for (int k = 2; k >= 0; --k) selection.Merge(*parts[size_t(k)]);
      const float* base = plane.data();
      selection.AddRect(base, W, r.y1, W, true);
      selection.AddRect(base + (r.y2 + 1) * W, W, H - 1 - r.y2, W, true);
      selection.AddRect(base + r.y1 * W, r.x1, r.y2 - r.y1 + 1, W, true);
      selection.AddRect(base + r.y1 * W + r.x2 + 1, W - 1 - r.x2, r.y2 - r.y1 + 1, W, true);
      TPercentileLevels l;
      float mn = 0, mx = 0;
      ASSERT_EQ(selection.Finish(l, mn, mx, true), TLevelSelection::TResult::Done) << pctA << " " << PathName(path);
      EXPECT_EQ(std::bit_cast<uint64_t>(l.LevelA), std::bit_cast<uint64_t>(ref.LevelA)) << pctA;
      EXPECT_EQ(std::bit_cast<uint64_t>(l.LevelB), std::bit_cast<uint64_t>(ref.LevelB)) << pctB;
      EXPECT_EQ(mn, ref.RectMin);
      EXPECT_EQ(mx, ref.RectMax);
      float lo = 0, hi = 0;
      if (selection.WindowA(lo, hi)) {
        const double bin = (double(mx) - double(mn)) / 65000;
        EXPECT_LE(lo - bin, l.LevelA);
        EXPECT_GE(hi + bin, l.LevelA);
      }
    }
}

// The levels as the 65536-bin histogram walk gives them, written out plainly.
TPercentileLevels HistogramWalk(std::vector<float> v, double pctA, double pctB) {
  float mn = 0, mx = 1;
  RectMinMax(v, int32_t(v.size()), 1, int64_t(v.size()), mn, mx, false);
  const double scale = 65000.0 / std::max(double(mx) - double(mn), 0.001);
  std::vector<int64_t> hist(65536, 0);
  for (float x : v)
    ++hist[size_t(x > -1e9f ? int32_t(std::nearbyint(std::clamp((double(x) - mn) * scale, 0.0, 65535.0))) : 65535)];
  const int64_t count = int64_t(v.size()) - hist[65535];
  TPercentileLevels l;
  if (count <= 0) return l;  // left alone without valid pixels
  auto level = [&](double pct) {
    const int64_t target = int64_t(std::nearbyint(double(count) * pct)) / 100;
    int32_t bin = 0;
    if (pct < 50) {
      for (int64_t sum = 0; bin < 65000; ++bin)
        if ((sum += hist[size_t(bin)]) >= target) break;
    } else {
      int64_t rest = count;
      for (bin = 65000; bin > 0; --bin)
        if ((rest -= hist[size_t(bin)]) <= target) break;
    }
    return double(bin) / scale + double(mn);
  };
  l.LevelA = level(pctA);
  l.LevelB = level(pctB);
  return l;
}

TEST_F(ImageStatistics, SmallRectangleLevelsAreTheHistogramWalks) {
  std::mt19937 rng(5);
  std::normal_distribution<float> noise(500.0f, 30.0f);
  for (int kind = 0; kind < 4; ++kind)
    for (int n : {1, 2, 7, 300, 43264}) {
      std::vector<float> v(static_cast<size_t>(n));
      for (size_t i = 0; i < v.size(); ++i) {
        v[i] = kind == 1 ? float(i % 3) : noise(rng);
        if (kind == 2 && i % 5 == 0) v[i] = BlankPixel;
        if (kind == 3 && i % 97 == 1) v[i] = 60000.0f + float(i);
      }
      for (double pctA : {0.0, 1.0, 4.0, 30.0})
        for (double pctB : {50.0, 98.0, 99.5, 100.0}) {
          TPercentileLevels l;
          RectPercentileLevels(v, n, 1, n, pctA, pctB, l, true);
          const TPercentileLevels ref = HistogramWalk(v, pctA, pctB);
          EXPECT_EQ(l.LevelA, ref.LevelA) << kind << " " << n << " " << pctA;
          EXPECT_EQ(l.LevelB, ref.LevelB) << kind << " " << n << " " << pctB;
        }
    }
}

TEST_F(ImageStatistics, LevelsClampHugeValuesOnEveryPath) {
  for (TPath path : test::AvailablePaths()) {
    PathGuard guard(path);
    TImageSlot& im = MakeSlot(1, 300, 300);
    FillNoise(im, 1, 100.0f, 5.0f, 2);
    im.At(1, 150, 150) = 7e30f;
    UpdateMinMax(1);  // clamps as well
    im.At(1, 151, 150) = 3e25f;
    TPercentileLevels l;
    GetPercentileLevels(1, 1, 0, 299, 0, 299, 1.0, 99.0, l);
    EXPECT_EQ(im.At(1, 151, 150), 1e18f) << test::PathName(path);
    EXPECT_EQ(l.RectMax, 1e18f);
    // Bins 1e18 / 65000 wide: everything near 100 falls into bin 0, the minimum.
    EXPECT_EQ(l.LevelA, double(l.RectMin));
  }
}

TEST_F(ImageStatistics, PlaneWithoutValidPixelsGivesTheMinimumForBothLevels) {
  MakeSlot(1, 8, 8, 1, BlankPixel);
  UpdateMinMax(1);
  TPercentileLevels l;
  l.LevelB = 123;
  GetPercentileLevels(1, 1, 0, 7, 0, 7, 5, 95, l);
  EXPECT_EQ(l.LevelA, 0.0);
  EXPECT_EQ(l.LevelB, 0.0);
  EXPECT_EQ(l.RectMax, 1.0f);
}

TEST_F(ImageStatistics, UnusedSlotLeavesTheLevelsAlone) {
  TPercentileLevels l;
  l.LevelA = 3;
  l.LevelB = 4;
  GetPercentileLevels(2, 1, 0, 7, 0, 7, 5, 95, l);
  EXPECT_EQ(l.LevelA, 3.0);
  EXPECT_EQ(l.LevelB, 4.0);
}

TEST_F(ImageStatistics, PlaneAboveThePlaneCountFallsBackToPlaneOne) {
  MakeSlot(1, 4, 4, 1, 7.0f);
  UpdateMinMax(1);
  TPercentileLevels l;
  GetPercentileLevels(1, 3, 0, 3, 0, 3, 50, 50, l);
  EXPECT_EQ(l.LevelA, 7.0);
}

TEST_F(ImageStatistics, BackgroundOfHalfDarkHalfBrightImageIsTheDarkLevel) {
  TImageSlot& im = MakeSlot(1, 10, 10);
  for (int i = 50; i < 100; ++i) im.Planes[1][size_t(i)] = 100.0f;
  UpdateMinMax(1);
  EXPECT_EQ(GetBackgroundLevel(1, 1), 0.0f);
  EXPECT_EQ(GetBackgroundLevel(1), 0.0f);
  EXPECT_EQ(GetBackgroundLevel(5), 0.0f);
}

TEST_F(ImageStatistics, EstimateNoiseOfFewValuesIsTheFixedValue) {
  MakeSlot(1, 11, 1, 1, 3.0f);
  EXPECT_FLOAT_EQ(EstimateNoise(1, 1), ShortRunNoise);
  EXPECT_FLOAT_EQ(EstimateNoise(9, 1), ShortRunNoise);  // unused slot
}

TEST_F(ImageStatistics, EstimateNoiseWithoutValidPairsIsFinite) {
  MakeSlot(1, 20, 5, 1, BlankPixel);
  const float n = EstimateNoise(1, 1);
  EXPECT_FALSE(std::isnan(n));
  EXPECT_FLOAT_EQ(n, float(0.01 / 1.1));
}

TEST_F(ImageStatistics, EstimateNoiseMeasuresGaussianNoiseOnBothPaths) {
  TImageSlot& im = MakeSlot(1, 703, 400);  // large enough for the buffered rounds
  FillNoise(im, 1, 300.0f, 5.0f, 3);
  for (size_t i = 0; i < im.Planes[1].size(); i += 37) im.Planes[1][i] = BlankPixel;
  for (size_t i = 2; i < im.Planes[1].size(); i += 311) im.Planes[1][i] = 9000.0f;  // hot pixels
  float scalar;
  {
    PathGuard guard(TPath::Scalar);
    scalar = EstimateNoise(1, 1);
  }
  for (TPath path : test::VectorPaths()) {
    PathGuard guard(path);
    EXPECT_EQ(std::bit_cast<uint32_t>(scalar), std::bit_cast<uint32_t>(EstimateNoise(1, 1))) << test::PathName(path);
  }
  EXPECT_GT(scalar, 4.0f);
  EXPECT_LT(scalar, 6.5f);
}

TEST_F(ImageStatistics, EstimatePlaneNoiseFallsBackToPlaneOne) {
  TImageSlot& im = MakeSlot(1, 50, 40);
  FillNoise(im, 1, 10.0f, 1.0f, 5);
  EXPECT_EQ(EstimatePlaneNoise(1, 2), EstimateNoiseClipped(im.Planes[1], Sse2Enabled));
  EXPECT_EQ(EstimatePlaneNoise(1, 1), EstimateNoiseClipped(im.Planes[1], Sse2Enabled));
}

TEST_F(ImageStatistics, CountingValidAndBlankPixels) {
  TImageSlot& im = MakeSlot(1, 33, 3, 3, 1.0f);
  for (TPath path : test::AvailablePaths()) {
    PathGuard guard(path);
    EXPECT_EQ(CountValidPixels(1, 2), 99);
    EXPECT_FALSE(HasBlankPixels(1));
    im.Planes[3][98] = std::numeric_limits<float>::quiet_NaN();  // the very last pixel
    EXPECT_TRUE(HasBlankPixels(1));
    EXPECT_EQ(CountValidPixels(1, 3), 98);
    im.Planes[3][98] = 1.0f;
    im.Planes[2][40] = -1e9f;  // at the limit: blank
    EXPECT_TRUE(HasBlankPixels(1));
    EXPECT_EQ(CountValidPixels(1, 2), 98);
    im.Planes[2][40] = 1.0f;
  }
  MakeSlot(2, 5, 5, 1, BlankPixel);
  EXPECT_EQ(CountValidPixels(2, 1), 0);
  EXPECT_TRUE(HasBlankPixels(2));
  EXPECT_EQ(CountValidPixels(2, 2), 0);  // empty plane
  EXPECT_FALSE(HasBlankPixels(7));
}

TEST_F(ImageStatistics, BorderPercentileUsesTheOuterPixelsOnly) {
  TImageSlot& im = MakeSlot(1, 5, 4, 1, 1000.0f);  // inside stays 1000
  int k = 0;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x)
      if (y == 0 || y == 3 || x == 0 || x == 4) im.At(1, x, y) = float(k++);
  im.At(1, 0, 1) = BlankPixel;  // skipped
  // 14 border pixels: 0..13 without the blanked one (value 5).
  EXPECT_DOUBLE_EQ(GetBorderPercentile(1, 1, 0.0), 0.0);
  EXPECT_DOUBLE_EQ(GetBorderPercentile(1, 1, 1.0), 13.0);
  EXPECT_DOUBLE_EQ(GetBorderPercentile(1, 1, 0.5), 7.0);
  EXPECT_EQ(GetBorderPercentile(4, 1, 0.5), 0.0);  // unused slot
  EXPECT_EQ(GetBorderPercentile(1, 2, 0.5), 0.0);  // empty plane
}

TEST_F(ImageStatistics, CutoutBorderPercentile) {
  std::vector<float> window(32 * 32, 500.0f);
  for (int x = 0; x < 32; ++x) {
    window[size_t(x)] = 1.0f;
    window[size_t(31 * 32 + x)] = 3.0f;
  }
  for (int y = 1; y < 31; ++y) {
    window[size_t(y * 32)] = 2.0f;
    window[size_t(y * 32 + 31)] = 2.0f;
  }
  EXPECT_EQ(GetCutoutBorderPercentile(window, -7.0f, 0.5), 2.0f);  // 124 values: 32 ones, 60 twos, 32 threes
  EXPECT_EQ(GetCutoutBorderPercentile(window, -7.0f, 0.0), 1.0f);
  std::vector<float> blanks(32 * 32, BlankPixel);
  EXPECT_EQ(GetCutoutBorderPercentile(blanks, -7.0f, 0.5), -7.0f);
}

}  // namespace
}  // namespace astrelon
