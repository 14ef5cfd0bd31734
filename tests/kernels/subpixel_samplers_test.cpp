#include "kernels/sampling/subpixel_samplers.h"

#include <random>

#include "../pixelops/sampling_fixture.h"
#include "../planes/simd_paths.h"
#include "kernels/network/neural_tables.h"
#include "pixelops/geometry/rotate_image.h"

namespace astrelon {
namespace {

using test::SamplingTest;

class Samplers : public SamplingTest {};

// 10 + x + 7 y: every pixel distinct.
float Ramp(int x, int y, int) { return float(10 + x + 7 * y); }

TEST_F(Samplers, EdgeRulesOfTheKinds) {
  MakeImage(1, 6, 4, Ramp);
  SetToolMode(IkLinear);
  EXPECT_EQ(InterpolatePixel(1, 1, 5.5f, 2), Ramp(5, 2, 1));  // only the last column, weight 0.5
  EXPECT_EQ(InterpolatePixel(1, 1, 5.8f, 2), BlankPixel);     // weight 0.2
  EXPECT_EQ(InterpolatePixel(1, 1, 6.0f, 2), BlankPixel);     // the cell lies outside
  EXPECT_EQ(InterpolatePixel(1, 1, 1.0f, 4.0f), BlankPixel);
  EXPECT_EQ(InterpolatePixel(1, 1, -3.0f, -1.0f), Ramp(0, 0, 1));  // negative positions count as 0
  Store.Image[1].At(1, 1, 1) = BlankPixel;
  EXPECT_FLOAT_EQ(InterpolatePixel(1, 1, 0.5f, 0.5f), (Ramp(0, 0, 1) + Ramp(1, 0, 1) + Ramp(0, 1, 1)) / 3);
  Store.Image[1].At(1, 1, 0) = BlankPixel;
  EXPECT_EQ(InterpolatePixel(1, 1, 0.8f, 0.0f), BlankPixel);  // one valid pixel of weight 0.2 is not enough

  MakeImage(1, 12, 4, Ramp);
  SetToolMode(IkBicubic);
  EXPECT_FLOAT_EQ(InterpolatePixel(1, 1, 2.0f, 1.0f), Ramp(2, 1, 1));
  // Integer part 0: Lanczos3 reads columns 0..3, dSinc 0..8.
  for (auto [kind, lastColumn] : {std::pair{IkLanczos3, 3}, std::pair{IkDSinc, 8}}) {
    SetToolMode(kind);
    const float v = InterpolatePixel(1, 1, 0.4f, 1.0f);
    Store.Image[1].At(1, lastColumn + 1, 1) += 50;
    EXPECT_EQ(InterpolatePixel(1, 1, 0.4f, 1.0f), v) << kind;
    Store.Image[1].At(1, lastColumn, 1) += 50;
    EXPECT_NE(InterpolatePixel(1, 1, 0.4f, 1.0f), v) << kind;
    MakeImage(1, 12, 4, Ramp);
  }
  // A window without a valid pixel.
  MakeImage(2, 5, 5, [](int, int, int) { return BlankPixel; });
  for (int kind = 0; kind < KernelKindCount; ++kind) {
    SetToolMode(kind);
    EXPECT_EQ(InterpolatePixel(2, 1, 2.3f, 1.6f), BlankPixel) << kind;
    EXPECT_EQ(SampleAlongColumn(2, 1, 2, 1.6f), BlankPixel) << kind;
  }
}

TEST_F(Samplers, BufferedLinearAndOneDimensionalSamplers) {
  MakeImage(1, 8, 3, Ramp);
  SetToolMode(IkBicubic);
  float w = -1;
  EXPECT_EQ(InterpolatePixelBuffered(1, 1, w, -0.001f, 1.0f), BlankPixel);
  EXPECT_EQ(w, 0.0f);
  EXPECT_FLOAT_EQ(InterpolatePixel(1, 1, -0.001f, 1.0f), Ramp(0, 1, 1));
  const float v = InterpolatePixelBuffered(1, 1, w, 3.3f, 1.25f);
  EXPECT_GT(w, 0.3f);
  EXPECT_FLOAT_EQ(v / w, InterpolatePixel(1, 1, 3.3f, 1.25f));

  // Linear along a row: extrapolation between -1 and 0, nothing at -1 and below.
  const float p0 = Ramp(0, 2, 1), p1 = Ramp(1, 2, 1);
  EXPECT_FLOAT_EQ(SampleAlongRowLinear(1, 1, 2, -0.5f), 1.5f * p0 - 0.5f * p1);
  EXPECT_EQ(SampleAlongRowLinear(1, 1, 2, -1.0f), BlankPixel);
  EXPECT_EQ(SampleAlongRowLinear(1, 1, 2, -1.5f), BlankPixel);
  EXPECT_FLOAT_EQ(SampleAlongRowLinear(1, 1, 2, 6.25f), Ramp(6, 2, 1) + 0.25f);
  EXPECT_EQ(SampleAlongRowLinear(1, 1, 3, 1.0f), BlankPixel);  // no such row

  // Along a row "Neuro" reads its table (Keys cubic a = -0.375).
  // The column is clipped to rows 0..2.
  Store.Image[1].At(1, 4, 0) = 100;
  SetToolMode(IkNeuro);
  auto cubic = [](auto&& value, int i, float f, int lo, int hi) {
    double sw = 0, sv = 0;
    for (int k = lo; k <= hi; ++k) {
      sw += KernelWeight(IkNeuro, float(k) - f);
      sv += KernelWeight(IkNeuro, float(k) - f) * value(i + k);
    }
    return sv / sw;
  };
  EXPECT_NEAR(SampleAlongRow(1, 1, 0, 3.5f), cubic([](int x) { return Store.Image[1].At(1, x, 0); }, 3, 0.5f, -1, 2),
              1e-4);
  EXPECT_NEAR(SampleAlongColumn(1, 1, 4, 0.5f), cubic([](int y) { return Store.Image[1].At(1, 4, y); }, 0, 0.5f, 0, 2),
              1e-4);
}

TEST_F(Samplers, ConstantImagesStayConstantForEveryKind) {
  BuildTanhTable();
  MakeImage(1, 20, 15, [](int, int, int p) { return 3.25f * float(p); }, 3);
  MakeImage(2, 20, 15, [](int, int, int) { return 0.0f; }, 3);
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> ux(-0.9f, 19.0f), uy(-0.9f, 14.0f);
  for (int kind = 0; kind < KernelKindCount; ++kind) {
    SetToolMode(kind);
    for (int n = 0; n < 200; ++n) {
      const float x = ux(rng), y = uy(rng);
      EXPECT_NEAR(InterpolatePixel(1, 2, x, y), 6.5f, 1e-5) << kind << " " << x << " " << y;
      EXPECT_NEAR(SampleAlongRow(1, 3, 7, x), 9.75f, 1e-5) << kind;
      // The colour pass does not clamp negative positions: they may fall short of weight.
      if (x < 0 || y < 0) continue;
      InterpolatePixelRgb(1, 2, 21, x, y);
      for (int p = 1; p <= 3; ++p) EXPECT_NEAR(Store.Image[2].Planes[size_t(p)][21], 3.25f * p, 1e-4) << kind;
    }
  }
}

TEST_F(Samplers, ColourPassEqualsThePlanes) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> u(0.0f, 100.0f);
  MakeImage(1, 16, 12, [&](int, int, int) { return u(rng); }, 3);
  Store.Image[1].At(2, 7, 5) = BlankPixel;  // blank in the green plane only
  MakeImage(2, 4, 4, [](int, int, int) { return 0.0f; }, 3);
  for (int kind : {IkBicubic, IkDSinc, IkLanczos3, IkNeuro}) {
    SetToolMode(kind);
    BuildTanhTable();
    for (auto [x, y] : {std::pair{7.3f, 5.6f}, std::pair{6.9f, 4.2f}, std::pair{1.5f, 10.5f}}) {
      InterpolatePixelRgb(1, 2, 5, x, y);
      for (int p = 1; p <= 3; ++p)
        EXPECT_EQ(Store.Image[2].Planes[size_t(p)][5], InterpolatePixel(1, p, x, y)) << kind << " " << p;
    }
  }
}

TEST_F(Samplers, InlinePathsGiveTheGeneralPathsValues) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(0.0f, 100.0f), px(0.0f, 39.5f), py(0.0f, 29.5f);
  MakeImage(1, 40, 30, [&](int x, int y, int) { return (x * 7 + y) % 23 == 0 ? BlankPixel : u(rng); }, 3);
  const std::array<TPlaneView, 3> view{PlaneView(1, 1), PlaneView(1, 2), PlaneView(1, 3)};
  for (test::TPath path : test::AvailablePaths()) {
    const test::PathGuard guard(path);
    for (int kind : {IkLinear, IkBicubic, IkLanczos3}) {
      const TSamplingKind k = SamplingKindOf(kind);
      for (int n = 0; n < 2000; ++n) {
        const float x = px(rng), y = py(rng);
        ASSERT_EQ(SamplePoint(view[0], k, x, y), sampler_detail::SamplePointGeneral(view[0], k, x, y))
            << test::PathName(path) << " " << kind << " " << x << " " << y;
        std::array<float, 3> fast, general;
        SamplePointRgb(view, k, x, y, fast);
        sampler_detail::SamplePointRgbGeneral(view, k, x, y, general);
        ASSERT_EQ(fast, general) << test::PathName(path) << " " << kind << " " << x << " " << y;
      }
    }
  }
}

TEST_F(Samplers, LinearAgreesWithScipy) {
  if (!test::HavePythonModule("scipy.ndimage")) GTEST_SKIP() << "python3-scipy missing";
  const int w = 64, h = 48;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  MakeImage(1, w, h, [&](int, int, int) { return u(rng); });
  std::vector<float> xs(10000), ys(10000);
  std::uniform_real_distribution<float> ux(0.0f, float(w - 1)), uy(0.0f, float(h - 1));
  for (size_t i = 0; i < xs.size(); ++i) xs[i] = ux(rng), ys[i] = uy(rng);
  test::TempDir dir;
  test::WriteFloats(dir.file("img"), std::vector<float>(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end()));
  test::WriteFloats(dir.file("x"), xs);
  test::WriteFloats(dir.file("y"), ys);
  const std::string script =
      "import sys, numpy as np\nfrom scipy.ndimage import map_coordinates\n"
      "d = sys.argv[1]\n"
      "img = np.fromfile(d + '/img', np.float32).reshape(48, 64).astype(np.float64)\n"
      "x = np.fromfile(d + '/x', np.float32).astype(np.float64)\n"
      "y = np.fromfile(d + '/y', np.float32).astype(np.float64)\n"
      "map_coordinates(img, [y, x], order=1).astype(np.float32).tofile(d + '/out')\n";
  ASSERT_TRUE(test::RunPython(dir, script, dir.path().string()));
  const std::vector<float> expected = test::ReadFloats(dir.file("out"));
  ASSERT_EQ(expected.size(), xs.size());
  SetToolMode(IkLinear);
  for (size_t i = 0; i < xs.size(); ++i) ASSERT_NEAR(InterpolatePixel(1, 1, xs[i], ys[i]), expected[i], 1e-5) << i;
}

TEST(InterpolationKind, SwitchAndScope) {
  const int saved = Settings.InterpolationKind;
  SetToolMode(IkDSinc);
  EXPECT_EQ(Settings.InterpolationKind, IkDSinc);
  EXPECT_EQ(KernelWindow.Lo, -7);
  EXPECT_EQ(KernelWindow.Hi, 8);
  SetToolMode(7);  // refused
  EXPECT_EQ(Settings.InterpolationKind, IkDSinc);
  {
    const TInterpolationKindScope scope(IkLinear);
    EXPECT_EQ(CurrentSamplingKind().Kind, IkLinear);
    EXPECT_EQ(KernelWindow.Hi, 1);
  }
  EXPECT_EQ(Settings.InterpolationKind, IkDSinc);
  EXPECT_EQ(KernelWindow.Lo, -7);
  SetToolMode(saved);
}

class Rotation : public SamplingTest {};

TEST_F(Rotation, SamplesWithItsOwnKindAndRestoresTheProgramKind) {
  MakeImage(1, 9, 7, [](int x, int y, int p) { return float(x * x + 3 * y + 10 * p); }, 3);
  MakeImage(2, 9, 7, [](int, int, int) { return 0.0f; }, 3);
  SetToolMode(IkLinear);
  for (int kind : {IkBicubic, IkLanczos3}) {
    ASSERT_TRUE(RotateImage(1, 2, kind, 0.0, int(TRotateFraming::KeepSize)));
    EXPECT_EQ(Settings.InterpolationKind, IkLinear);
    for (int p = 1; p <= 3; ++p)
      for (size_t i = 0; i < 63; ++i)
        EXPECT_FLOAT_EQ(Store.Image[2].Planes[size_t(p)][i], Store.Image[1].Planes[size_t(p)][i]) << kind;
  }
  // Off the grid the rotation's kind shows: a cubic sees the curvature of x*x.
  ASSERT_TRUE(RotateImage(1, 2, IkLinear, 45.0, int(TRotateFraming::KeepSize)));
  const std::vector<float> linear(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end());
  ASSERT_TRUE(RotateImage(1, 2, IkBicubic, 45.0, int(TRotateFraming::KeepSize)));
  EXPECT_NE(std::vector<float>(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end()), linear);
}

TEST_F(Rotation, SameResultWithOneThreadOrMany) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> u(0.0f, 1000.0f);
  MakeImage(1, 400, 300, [&](int, int, int) { return u(rng); }, 3);
  for (int kind = 0; kind < KernelKindCount; ++kind) {
    BuildTanhTable();
    std::vector<std::vector<float>> results;
    for (uint8_t multi : {0, 1}) {
      Options.Multicore = multi;
      MakeImage(2, 1, 1, [](int, int, int) { return 0.0f; }, 3);
      ASSERT_TRUE(RotateImage(1, 2, kind, 13.7, int(TRotateFraming::FullImage)));
      results.emplace_back(Store.Image[2].Planes[2].begin(), Store.Image[2].Planes[2].end());
    }
    EXPECT_TRUE(results[0] == results[1]) << kind;
  }
}

}  // namespace
}  // namespace astrelon
