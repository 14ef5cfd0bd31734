// The running percentile of the masked flattening: its windows near the
// edges, the eight-pixel vector path against the scalar one, both passes in
// bands against two whole passes, and a flattened ramp and bowl.
#include <random>

#include "../pixelops/slot_images.h"
#include "gradient_sky.h"
#include "kernels/background/background_flattening.h"
#include "kernels/background/percentile_bands.h"
#include "kernels/background/running_percentile.h"
#include "platform/processor_features.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

TEST(RunningPercentileTest, WindowsNearTheEdgesReachPastTheMirror) {
  // Near the start: from the line's first value to 1 + h div 5 past the
  // mirror of it (at most h); near the end from h div 5 before the mirror of
  // the line's end (at least -h, not before the start) to its last value.
  struct TCase {
    int32_t X, N, H, A, B;
  };
  for (const TCase c : {TCase{50, 100, 10, -10, 10}, TCase{0, 100, 10, 0, 3}, TCase{3, 100, 10, -3, 6},
                        TCase{9, 100, 10, -9, 10}, TCase{10, 100, 10, -10, 10}, TCase{89, 100, 10, -10, 10},
                        TCase{90, 100, 10, -10, 9}, TCase{97, 100, 10, -5, 2}, TCase{99, 100, 10, -3, 0},
                        TCase{5, 11, 40, -5, 5}, TCase{1, 4, 12, -1, 2}}) {
    int32_t a = 0, b = 0;
    PercentileWindow(c.X, c.N, c.H, a, b);
    EXPECT_EQ(a, c.A) << c.X;
    EXPECT_EQ(b, c.B) << c.X;
  }
}

TEST(RunningPercentileTest, VectorRunGivesTheScalarValues) {
  // Rows and columns of random values with blanks, windows of 1 to 41 samples
  // and percentiles from 0 to 1: every pixel as WeightedPercentile gives it.
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> value(-50, 950);
  const int32_t width = 200, height = 110;  // the column windows reach rows 5..105
  std::vector<float> plane(size_t(width) * height);
  for (float& v : plane) v = value(rng);
  for (size_t i = 7; i < plane.size(); i += 131) plane[i] = BlankPixel;
  TPercentileWeights w{};
  for (size_t i = 0; i < w.size(); ++i) w[i] = float(std::exp(-double(i) * double(i) / 400.0));
  std::vector<float> samples;
  std::vector<float> out(static_cast<size_t>(width));
  for (double fraction : {0.0, 0.25, 0.35, 0.5, 0.9, 1.0})
    for (auto [h, step] : {std::pair{1, 1}, std::pair{6, 1}, std::pair{20, 1}, std::pair{50, 8}, std::pair{40, 5}}) {
      // A row (stride 1) and the rows read down the columns (stride width).
      for (ptrdiff_t stride : {ptrdiff_t(1), ptrdiff_t(width)}) {
        const int32_t y = 55, x0 = stride == 1 ? h : 3;
        const int32_t count = stride == 1 ? width - 2 * h : width - 6;
        const float* first = plane.data() + size_t(y) * width + x0;
        WeightedPercentileRun(first, stride, count, -h, h, step, w, fraction, true, out.data(), samples);
        for (int32_t j = 0; j < count; ++j) {
          const float c0 = first[j];
          const float expected = IsValidPixel(c0)
                                     ? WeightedPercentile(first + j, stride, -h, h, step, c0, w, fraction, samples)
                                     : BlankPixel;
          ASSERT_EQ(out[size_t(j)], expected) << fraction << " " << h << " " << stride << " " << j;
        }
      }
    }
}

class MaskedFlatteningEdgeTest : public StoreTest {};

TEST_F(MaskedFlatteningEdgeTest, BandsGiveTheTwoWholePasses) {
  // Rows then columns in bands of rows (one thread, and several with rounds
  // whose windows reach into the neighbouring bands) give every pixel of two
  // whole passes: the rows' percentiles of the source, then the columns' of
  // those, written where valid.
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> value(0, 1000);
  const int32_t W = 400, H = 1000;  // up to six threads; one thread takes four rounds
  std::vector<float> source(size_t(W) * H);
  for (float& v : source) v = value(rng);
  for (size_t i = 3; i < source.size(); i += 173) source[i] = BlankPixel;
  TPercentileWeights w{};
  for (size_t i = 0; i < w.size(); ++i) w[i] = float(std::exp(-double(i) * double(i) / 900.0));
  struct TCase {
    int32_t X1, Y1, X2, Y2, Reach, Step;
  };
  for (const TCase c :
       {TCase{0, 0, W - 1, H - 1, 30, 5}, TCase{17, 40, 390, 990, 7, 1}, TCase{0, 100, 120, 101, 167, 27}})
    for (bool multi : {false, true}) {
      MulticoreGuard guard(multi);
      const TPercentilePasses passes{W, H, c.X1, c.X2, c.Y1, c.Y2, c.Reach, c.Step, &w, 0.25, true};
      std::vector<float> samples, rows(source.size(), BlankPixel), expected(source.size(), 7.0f);
      for (int32_t y = 0; y < H; ++y)
        RowPercentiles(&source[size_t(y) * W], passes, samples, &rows[size_t(y) * W + c.X1]);
      for (int32_t y = c.Y1; y <= c.Y2; ++y)
        for (int32_t x = c.X1; x <= c.X2; ++x) {
          const size_t i = size_t(y) * W + x;
          int32_t a = 0, b = 0;
          PercentileWindow(y, H, c.Reach, a, b);
          if (!IsValidPixel(rows[i])) continue;
          const float v = WeightedPercentile(&rows[i], W, a, b, c.Step, rows[i], w, 0.25, samples);
          if (IsValidPixel(v)) expected[i] = v;
        }
      std::vector<float> result(source.size(), 7.0f);
      TFilterPoll poll;
      ASSERT_TRUE(PercentilePassesInBands(source, result, passes, poll, 1));
      EXPECT_EQ(result, expected) << c.Reach << " " << multi;
    }
}

TEST_F(MaskedFlatteningEdgeTest, RampAndBowlAreFlattened) {
  // A noisy ramp (400 across, 200 down) with stars, flattened over the whole
  // image with radius 50 (the selection path of "variabel"): the windows at
  // the edges, which reach past the mirror, leave 2.95 % of the ramp. The
  // vector path gives the scalar path's values.
  const TGradientSky s = MakeGradientSky(900, 600, 400, 0);
  std::vector<std::vector<float>> results;
  const bool saved = Sse2Enabled;
  for (bool vector : {false, true}) {
    Sse2Enabled = vector;
    PutImage(1, s.W, s.H, {s.Image});
    PutImage(2, s.W, s.H, {s.Image});
    ASSERT_TRUE(FlattenBackgroundMasked(1, 2, 50, 0, 0, s.W - 1, s.H - 1, false, false, false, "", 2, 0.25));
    results.push_back(Plane(2, 1));
  }
  Sse2Enabled = saved;
  EXPECT_EQ(results[0], results[1]);
  EXPECT_LT(GradientLeft(s, results[0]), 0.032);
  EXPECT_GT(FluxKept(s, results[0]), 0.99);
  // With the vignetting bowl (300) at the batch's radius 15: about 1 %, in the
  // frame as inside.
  const TGradientSky bowl = MakeGradientSky(900, 600, 400, 300);
  PutImage(1, bowl.W, bowl.H, {bowl.Image});
  PutImage(2, bowl.W, bowl.H, {bowl.Image});
  ASSERT_TRUE(FlattenBackgroundMasked(1, 2, 15, 0, 0, bowl.W - 1, bowl.H - 1, false, false, false, "", 2, 0.25));
  EXPECT_LT(GradientLeft(bowl, Plane(2, 1)), 0.015);
  EXPECT_LT(GradientLeftIn(bowl, Plane(2, 1), 50, true), 0.015);
}

}  // namespace
}  // namespace astrelon::test
