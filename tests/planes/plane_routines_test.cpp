#include "store/planes/plane_routines.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "simd_paths.h"
#include "store/image_slot.h"

namespace astrelon {
namespace {

// Noisy sky with a few stars and blanks (NaN too), odd width so rows end in tails.
std::vector<float> NoisyPlane(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(1000.0f, 12.0f);
  std::vector<float> v(size_t(w) * size_t(h));
  for (float& x : v) x = noise(rng);
  for (size_t i = 0; i < v.size(); i += 97) v[i] = BlankPixel;
  for (size_t i = 13; i < v.size(); i += 1013) v[i] = std::numeric_limits<float>::quiet_NaN();
  for (size_t i = 40; i < v.size(); i += 517) v[i] = 30000.0f + float(i % 7);
  return v;
}

// Bitwise equality: both paths must give the very same figures.
void ExpectSameBits(double a, double b) { EXPECT_EQ(std::bit_cast<uint64_t>(a), std::bit_cast<uint64_t>(b)); }
void ExpectSameBits(float a, float b) { EXPECT_EQ(std::bit_cast<uint32_t>(a), std::bit_cast<uint32_t>(b)); }

using test::PathGuard;
using test::TPath;

// Runs a test on every path the processor has.
class EveryPath : public ::testing::TestWithParam<TPath> {
protected:
  PathGuard guard_{GetParam()};
  bool Vector() const { return guard_.Vector(); }
};
INSTANTIATE_TEST_SUITE_P(Paths, EveryPath, ::testing::ValuesIn(test::AvailablePaths()),
                         [](const auto& info) { return test::PathName(info.param); });

TEST_P(EveryPath, RectMinMaxClampsHugeValuesAndSkipsBlanks) {
  std::vector<float> d{1, 3e19f, BlankPixel, -2, 5, 7};
  float mn, mx;
  RectMinMax(d, 3, 2, 3, mn, mx, Vector());
  EXPECT_EQ(mn, -2.0f);
  EXPECT_EQ(mx, 1e18f);
  EXPECT_EQ(d[1], 1e18f);
}

TEST_P(EveryPath, RectMinMaxWithoutValidPixelsGivesZeroAndOne) {
  std::vector<float> blanks(37, BlankPixel);
  blanks[5] = std::numeric_limits<float>::quiet_NaN();
  float mn = -5, mx = -5;
  RectMinMax(blanks, 37, 1, 37, mn, mx, Vector());
  EXPECT_EQ(mn, 0.0f);
  EXPECT_EQ(mx, 1.0f);
  // Only values of 1e18 and above count as "nothing found" too.
  std::vector<float> huge(20, 5e30f);
  RectMinMax(huge, 20, 1, 20, mn, mx, Vector());
  EXPECT_EQ(mn, 0.0f);
  EXPECT_EQ(mx, 1.0f);
  EXPECT_EQ(huge[19], 1e18f);
}

TEST(PlaneRoutines, RectMinMaxPathsAgreeAndStayInsideTheRectangle) {
  const int w = 203, h = 31, stride = 211;
  std::vector<float> a = NoisyPlane(stride, h, 1);
  a[5 * stride + 150] = 7e25f;   // inside: clamped
  a[6 * stride + 205] = 9e30f;   // beyond the width: untouched
  a[7 * stride + 17] = -900.0f;  // the minimum
  const std::vector<float> original = a;
  float mn1, mx1;
  RectMinMax(a, w, h, stride, mn1, mx1, false);
  EXPECT_EQ(mn1, -900.0f);
  EXPECT_EQ(mx1, 1e18f);
  EXPECT_EQ(a[6 * stride + 205], 9e30f);
  for (TPath path : test::VectorPaths()) {
    PathGuard guard(path);
    std::vector<float> b = original;
    float mn2, mx2;
    RectMinMax(b, w, h, stride, mn2, mx2, true);
    ExpectSameBits(mn1, mn2);
    ExpectSameBits(mx1, mx2);
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0) << test::PathName(path);
  }
}

TEST_P(EveryPath, RectMinMaxReportsPositiveZero) {
  std::vector<float> d(16, 3.0f);
  d[3] = -0.0f;
  d[11] = 0.0f;
  float mn, mx;
  RectMinMax(d, 16, 1, 16, mn, mx, Vector());
  ExpectSameBits(mn, 0.0f);
}

// Rows scanned one by one, merged bottom-up, give RectMinMax's figures and clamp
// the same values; a scan that saw only blanks reports nothing valid.
TEST_P(EveryPath, MinMaxScansOfRowsMergeToTheRectangleFigures) {
  const int w = 45, h = 9;
  std::vector<float> whole = NoisyPlane(w, h, 7);
  whole[3 * w + 40] = std::numeric_limits<float>::infinity();
  whole[5 * w + 2] = 4e20f;
  whole[8 * w + 44] = -0.0f;
  std::vector<float> rows = whole;
  float mn1, mx1;
  RectMinMax(whole, w, h, w, mn1, mx1, Vector());
  std::vector<TMinMaxScan> scans(h);
  for (int y = 0; y < h; ++y)
    ScanMinMax(std::span<float>(rows).subspan(size_t(y) * w, w), w, 1, w, scans[size_t(y)], Vector());
  TMinMaxScan merged;
  for (int y = h - 1; y >= 0; --y) merged.Merge(scans[size_t(y)]);
  float mn2, mx2;
  merged.Finish(mn2, mx2);
  ExpectSameBits(mn1, mn2);
  ExpectSameBits(mx1, mx2);
  EXPECT_TRUE(merged.AnyValid());
  EXPECT_EQ(std::memcmp(whole.data(), rows.data(), whole.size() * sizeof(float)), 0);

  std::vector<float> blanks(21, BlankPixel);
  blanks[4] = std::numeric_limits<float>::quiet_NaN();
  TMinMaxScan none;
  ScanMinMax(blanks, 21, 1, 21, none, Vector());
  EXPECT_FALSE(none.AnyValid());
  std::vector<float> huge(21, 3e30f);
  TMinMaxScan onlyHuge;
  ScanMinMax(huge, 21, 1, 21, onlyHuge, Vector());
  EXPECT_TRUE(onlyHuge.AnyValid());  // valid, though RectMinMax reports 0 and 1 for it
  onlyHuge.Finish(mn2, mx2);
  EXPECT_EQ(mn2, 0.0f);
  EXPECT_EQ(mx2, 1.0f);
}

TEST_P(EveryPath, RectSumCountsValidPixels) {
  std::vector<float> d{1, 2, BlankPixel, 4, 100, 100};
  double sum;
  int64_t count;
  RectSum(d, 2, 2, 3, sum, count, Vector());
  EXPECT_EQ(sum, 1 + 2 + 4 + 100);
  EXPECT_EQ(count, 4);
}

TEST(PlaneRoutines, RectSumPathsAgreeToTheLastBit) {
  for (int w : {1, 7, 8, 9, 16, 17, 203}) {
    const int h = 17, stride = w + 5;
    const std::vector<float> d = NoisyPlane(stride, h, unsigned(w));
    double s1;
    int64_t c1;
    RectSum(d, w, h, stride, s1, c1, false);
    for (TPath path : test::VectorPaths()) {
      PathGuard guard(path);
      double s2;
      int64_t c2;
      RectSum(d, w, h, stride, s2, c2, true);
      ExpectSameBits(s1, s2);
      EXPECT_EQ(c1, c2);
    }
    double ref = 0;
    int64_t n = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (IsValidPixel(d[size_t(y * stride + x)])) {
          ref += d[size_t(y * stride + x)];
          ++n;
        }
    EXPECT_EQ(c1, n);
    EXPECT_NEAR(s1, ref, 1e-9 * std::fabs(ref));
  }
}

TEST(PlaneRoutines, RectSumDoesNotStallOnManyValues) {
  // 2^24 + 1 ones: a float accumulator stops at 2^24.
  const std::vector<float> ones((1 << 24) + 1, 1.0f);
  for (bool vector : {false, true}) {
    double sum;
    int64_t count;
    RectSum(ones, int32_t(ones.size()), 1, int64_t(ones.size()), sum, count, vector);
    EXPECT_EQ(sum, double((1 << 24) + 1));
    EXPECT_EQ(count, (1 << 24) + 1);
  }
}

TEST(PlaneRoutines, RectOutsideItsBufferIsRefused) {
  std::vector<float> d(10, 1.0f);
  float mn, mx;
  EXPECT_THROW(RectMinMax(d, 4, 3, 4, mn, mx, true), std::invalid_argument);
  EXPECT_THROW(CopyRect32(d, d, 5, 2, 4, 5), std::invalid_argument);
}

TEST(PlaneRoutines, PercentAboveCountsStrictlyAboveAmongValid) {
  std::vector<float> d{1, 2, 3, 4};
  EXPECT_EQ(PercentAbove(d, 2.0f), 50);
  d.push_back(BlankPixel);
  d.push_back(std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(PercentAbove(d, 2.0f), 50);
  EXPECT_EQ(PercentAbove(d, 0.5f), 100);
  std::vector<float> blanks(9, BlankPixel);
  EXPECT_EQ(PercentAbove(blanks, -5e11f), 0);
  // Nothing lies above a NaN threshold, in the blocks of 16 as in the rest.
  std::vector<float> twenty(20, 7.0f);
  EXPECT_EQ(PercentAbove(twenty, std::numeric_limits<float>::quiet_NaN()), 0);
  // 1 of 3 above: 33 (integer division).
  EXPECT_EQ(PercentAbove(std::vector<float>{1, 1, 5}, 1.0f), 33);
}

TEST(PlaneRoutines, EstimateNoiseClippedOfShortRunIsTheFixedValue) {
  const float expected = float(std::sqrt(1.0 / 1.0001) / 1.1);
  for (bool vector : {false, true}) {
    EXPECT_FLOAT_EQ(EstimateNoiseClipped(std::vector<float>{1, 50, -3, 8, 1000}, vector), expected);
    EXPECT_FLOAT_EQ(EstimateNoiseClipped({}, vector), expected);
  }
}

TEST(PlaneRoutines, EstimateNoiseClippedMeasuresGaussianNoise) {
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(500.0f, 3.0f);
  std::vector<float> d(200001);
  for (float& x : d) x = noise(rng);
  for (size_t i = 0; i < d.size(); i += 50) d[i] = BlankPixel;
  const float scalar = EstimateNoiseClipped(d, false);
  for (TPath path : test::VectorPaths()) {
    PathGuard guard(path);
    ExpectSameBits(scalar, EstimateNoiseClipped(d, true));
  }
  // Neighbour differences have sigma 3 * sqrt(2); the clipped estimate scales it down again.
  EXPECT_GT(scalar, 2.5f);
  EXPECT_LT(scalar, 5.0f);
}

TEST(PlaneRoutines, EstimateNoiseClippedPathsAgreeOnAllLengths) {
  const std::vector<float> d = NoisyPlane(300, 1, 3);
  for (TPath path : test::VectorPaths()) {
    PathGuard guard(path);
    for (size_t n = 6; n < 60; ++n) {
      const std::span<const float> run(d.data(), n);
      ExpectSameBits(EstimateNoiseClipped(run, false), EstimateNoiseClipped(run, true));
    }
  }
}

TEST(PlaneRoutines, EstimateNoiseClippedOfFlatRunIsTheFloor) {
  const std::vector<float> flat(100, 7.0f);
  // Mean square 0 is raised to 0.0001 after the first pass.
  for (bool vector : {false, true}) EXPECT_FLOAT_EQ(EstimateNoiseClipped(flat, vector), float(0.01 / 1.1));
}

TEST(PlaneRoutines, FindBrightestPixelOnBlanksKeepsTheCentre) {
  std::vector<float> d(9 * 7, BlankPixel);
  for (bool spiral : {false, true}) {
    int32_t x = -1, y = -1;
    float v = 0;
    FindBrightestPixel(d, 9, 7, 9, 1, x, y, v, spiral);
    EXPECT_EQ(x, 4);
    EXPECT_EQ(y, 3);
    EXPECT_EQ(v, -1e9f);
  }
}

TEST(PlaneRoutines, FindBrightestPixelExhaustiveFindsTheBrightestWindow) {
  const int w = 12, h = 10;
  std::vector<float> d(size_t(w * h), 10.0f);
  d[size_t(6 * w + 8)] = 100.0f;
  d[size_t(6 * w + 9)] = 100.0f;
  d[size_t(0 * w + 0)] = 1000.0f;  // on the edge: no whole window is centred there
  int32_t x, y;
  float v;
  FindBrightestPixel(d, w, h, w, 1, x, y, v, false);
  EXPECT_EQ(x, 1);  // the window at (1,1) holds the corner pixel
  EXPECT_EQ(y, 1);
  EXPECT_FLOAT_EQ(v, (8 * 10.0f + 1000.0f) / 9);
  d[0] = 10.0f;
  FindBrightestPixel(d, w, h, w, 1, x, y, v, false);
  // The first of the equal windows (8,6)/(9,6) in reading order wins: (8,5).
  EXPECT_EQ(x, 8);
  EXPECT_EQ(y, 5);
  EXPECT_FLOAT_EQ(v, (7 * 10.0f + 200.0f) / 9);
}

TEST(PlaneRoutines, FindBrightestPixelSpiralClimbsToTheNearbyStar) {
  const int w = 32, h = 32;
  std::vector<float> d(size_t(w * h), 10.0f);
  // A faint star next to the centre and a much brighter one far away in the corner.
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) d[size_t((18 + dy) * w + 19 + dx)] = 60.0f;
  d[size_t(18 * w + 19)] = 80.0f;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) d[size_t((3 + dy) * w + 3 + dx)] = 1000.0f;
  int32_t x, y;
  float v;
  FindBrightestPixel(d, w, h, w, 1, x, y, v, true);
  EXPECT_EQ(x, 19);
  EXPECT_EQ(y, 18);
  EXPECT_FLOAT_EQ(v, (8 * 60.0f + 80.0f) / 9);
  FindBrightestPixel(d, w, h, w, 1, x, y, v, false);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 3);
}

TEST(PlaneRoutines, FindBrightestPixelSpiralNeverReadsOutsideTheRectangle) {
  // The rectangle is the middle of a larger buffer whose surroundings are brighter.
  const int bw = 40, bh = 40, w = 16, h = 16, ox = 12, oy = 12;
  std::vector<float> buf(size_t(bw * bh), 1e6f);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) buf[size_t((oy + y) * bw + ox + x)] = 5.0f + float(x);
  const std::span<const float> rect = std::span<const float>(buf).subspan(size_t(oy * bw + ox));
  int32_t x, y;
  float v;
  FindBrightestPixel(rect, w, h, bw, 2, x, y, v, true);
  EXPECT_LE(v, 5.0f + 15.0f);
  EXPECT_GE(x, 2);
  EXPECT_LE(x, w - 3);
}

TEST(PlaneRoutines, FindBrightestPixelOfOnePixel) {
  std::vector<float> d{42.0f};
  int32_t x, y;
  float v;
  FindBrightestPixel(d, 1, 1, 1, 3, x, y, v, false);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(v, 42.0f);
}

TEST(PlaneRoutines, CopyRect32CopiesRowsWithTheirStrides) {
  std::vector<float> src(5 * 4);
  for (size_t i = 0; i < src.size(); ++i) src[i] = float(i);
  std::vector<float> dst(7 * 3, -1.0f);
  CopyRect32(std::span<const float>(src).subspan(1), dst, 3, 3, 5, 7);
  EXPECT_EQ(dst[0], 1.0f);
  EXPECT_EQ(dst[2], 3.0f);
  EXPECT_EQ(dst[3], -1.0f);
  EXPECT_EQ(dst[7], 6.0f);
  EXPECT_EQ(dst[14 + 2], 13.0f);
  CopyRect32(src, dst, 3, 0, 5, 7);  // nothing for h < 1
  EXPECT_EQ(dst[0], 1.0f);
}

TEST(PlaneRoutines, CopyRect32OfALargeRectangle) {
  // Large enough for the cache-bypassing copy; odd offsets test its edges.
  const int w = 1021, h = 1100;
  std::vector<float> src(size_t(w + 3) * h), dst(size_t(w + 5) * h + 1, -1.0f);
  for (size_t i = 0; i < src.size(); ++i) src[i] = float(i % 65521);
  CopyRect32(src, std::span<float>(dst).subspan(1), w, h, w + 3, w + 5);
  for (int y = 0; y < h; y += 37)
    for (int x = 0; x < w; ++x) ASSERT_EQ(dst[1 + size_t(y) * (w + 5) + x], src[size_t(y) * (w + 3) + x]);
  EXPECT_EQ(dst[0], -1.0f);
  EXPECT_EQ(dst[1 + w], -1.0f);
}

TEST_P(EveryPath, FillDwordsAndZeroBytesCoverExactlyTheirRange) {
  for (size_t offset = 0; offset < 4; ++offset)
    for (size_t n : {0, 1, 3, 4, 5, 17, 64}) {
      std::vector<float> d(80, 9.0f);
      FillDwords(std::span<float>(d).subspan(offset, n), Vector(), BlankPixel);
      for (size_t i = 0; i < d.size(); ++i) ASSERT_EQ(d[i], (i >= offset && i < offset + n) ? BlankPixel : 9.0f);
      std::vector<std::byte> b(100, std::byte{0x5A});
      ZeroBytes(std::span<std::byte>(b).subspan(offset * 3, n + 1), Vector());
      for (size_t i = 0; i < b.size(); ++i)
        ASSERT_EQ(b[i], (i >= offset * 3 && i < offset * 3 + n + 1) ? std::byte{0} : std::byte{0x5A});
    }
}

TEST(PlaneRoutines, CombinePlanesModes) {
  const std::vector<float> a{10, 20, BlankPixel, 40};
  const std::vector<float> b{1, BlankPixel, 3, 4};
  std::vector<float> dst(4, 0.0f);
  CombinePlanes(a, b, dst, 2, 2, 2, 2, 2, 2, 0.0f);
  EXPECT_EQ(dst, (std::vector<float>{9, 20, BlankPixel, 36}));  // a blank in b copies a
  CombinePlanes(a, b, dst, 4, 1, 4, 4, 4, 1, 0.0f);
  EXPECT_EQ(dst, (std::vector<float>{11, 20, BlankPixel, 44}));
  CombinePlanes(a, b, dst, 4, 1, 4, 4, 4, 3, 0.5f);
  EXPECT_EQ(dst, (std::vector<float>{6, 20, BlankPixel, 24}));
  std::vector<float> untouched(4, 7.0f);
  CombinePlanes(a, b, untouched, 4, 1, 4, 4, 4, 9, 1.0f);
  EXPECT_EQ(untouched, std::vector<float>(4, 7.0f));
}

TEST(PlaneRoutines, ResampleLineLinearDoublesAndAverages) {
  const std::vector<double> src{0, 10, 20, 40, 80};
  std::vector<double> dst(9);
  ResampleLine(src, dst, IkLinear);
  EXPECT_EQ(dst, (std::vector<double>{0, 5, 10, 15, 20, 30, 40, 60, 80}));
}

TEST(PlaneRoutines, ResampleLineSkipsBlankSources) {
  const std::vector<double> src{0, 10, BlankPixel, 40, 80};
  std::vector<double> dst(9);
  ResampleLine(src, dst, IkLinear);
  EXPECT_EQ(dst[3], 10.0);           // only the valid tap remains
  EXPECT_EQ(dst[4], double(BlankPixel));  // its only tap is blank
  EXPECT_EQ(dst[5], 40.0);
  EXPECT_EQ(dst[6], 40.0);
}

TEST(PlaneRoutines, ResampleLineToOneSampleEvaluatesPositionZero) {
  const std::vector<double> src{7, 9};
  std::vector<double> dst(1);
  ResampleLine(src, dst, IkLinear);
  // Reducing 2 -> 1 widens the kernel to half its slope: weights 1 and 0.5.
  EXPECT_DOUBLE_EQ(dst[0], (7.0 + 9.0 * 0.5) / 1.5);
}

TEST(PlaneRoutines, ResampleLineKeepsAConstantLineForEveryKind) {
  const std::vector<double> src(23, 3.5);
  for (int kind = 0; kind < KernelKindCount; ++kind)
    for (size_t n : {5, 23, 60}) {
      std::vector<double> dst(n);
      ResampleLine(src, dst, TInterpolationKind(kind));
      for (double v : dst) EXPECT_NEAR(v, 3.5, 1e-6) << "kind " << kind << " n " << n;
    }
}

}  // namespace
}  // namespace astrelon
