#include "kernels/sampling/resample_image.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "../pixelops/sampling_fixture.h"
#include "../planes/simd_paths.h"
#include "kernels/network/neural_tables.h"
#include "kernels/sampling/resample_steps.h"
#include "kernels/sampling/subpixel_samplers.h"

namespace astrelon {
namespace {

class Resample : public test::SamplingTest {
protected:
  static std::vector<float> PlaneCopy(int slot, int p = 1) {
    return {Store.Image[size_t(slot)].Planes[size_t(p)].begin(), Store.Image[size_t(slot)].Planes[size_t(p)].end()};
  }
  static void Noise(int slot, int w, int h, unsigned seed, int planes = 1) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1000.0f);
    MakeImage(slot, w, h, [&](int, int, int) { return u(rng); }, planes);
  }
  // A smooth picture with detail at several scales.
  static void Smooth(int slot, int w, int h) {
    MakeImage(slot, w, h, [](int x, int y, int) {
      return float(500 + 200 * std::sin(x * 0.21) * std::cos(y * 0.13) + 150 * std::sin((x + 2 * y) * 0.07) +
                   100 * std::exp(-((x - 60) * (x - 60) + (y - 40) * (y - 40)) / 200.0));
    });
  }
};

TEST_F(Resample, IntegerBlocksAverageExactly) {
  Noise(1, 1000, 500, 1);
  const std::vector<float> src = PlaneCopy(1);
  // A whole 2 x 5 block of blanks stays blank.
  for (int y = 10; y < 15; ++y)
    for (int x = 4; x < 6; ++x) Store.Image[1].At(1, x, y) = BlankPixel;
  ResampleImage(1, IkBicubic, 500, 0, 0, 100, true, true, true);
  ASSERT_EQ(Store.Image[1].Width, 500);
  ASSERT_EQ(Store.Image[1].Height, 100);
  for (int r = 0; r < 100; r += 7)
    for (int i = 0; i < 500; i += 13) {
      double sum = 0;
      for (int y = 5 * r; y < 5 * r + 5; ++y)
        for (int x = 2 * i; x < 2 * i + 2; ++x) sum += src[size_t(y) * 1000 + size_t(x)];
      EXPECT_NEAR(Store.Image[1].At(1, i, r), sum / 10, 1e-3) << i << " " << r;
    }
  EXPECT_EQ(Store.Image[1].At(1, 2, 2), BlankPixel);
  EXPECT_EQ(Settings.InterpolationKind, savedKind_);
}

TEST_F(Resample, FractionalBoxKeepsItsEdgeWeights) {
  MakeImage(1, 100, 100, [](int x, int y, int) { return float(x + 100 * y); });
  ResampleImage(1, IkBicubic, 0, 0.3, 0.3, 0, false, false, true);
  ASSERT_EQ(Store.Image[1].Width, 30);
  ASSERT_EQ(Store.Image[1].Height, 30);
  // Box [0, 3.33): samples 0..3 weigh 1, 1, 1, 1/3; box [3.33, 6.67): 2/3, 1, 1, 1/3.
  EXPECT_NEAR(Store.Image[1].At(1, 0, 0), 1.2 + 120, 1e-3);
  EXPECT_NEAR(Store.Image[1].At(1, 1, 1), 13.0 / 3 + 1300.0 / 3, 1e-3);
  // Whole blocks of 3 along x, then boxes along y alone.
  MakeImage(1, 99, 100, [](int x, int y, int) { return float(x + 100 * y); });
  ResampleImage(1, IkBicubic, 33, 0, 0, 30, true, false, true);
  ASSERT_EQ(Store.Image[1].Width, 33);
  ASSERT_EQ(Store.Image[1].Height, 30);
  EXPECT_NEAR(Store.Image[1].At(1, 1, 1), 4 + 1300.0 / 3, 1e-3);
}

TEST_F(Resample, SizesAndRefusals) {
  EXPECT_EQ(ScaledSide(101, 0.5), 50);
  EXPECT_EQ(ScaledSide(100, 0.3), 30);
  Noise(1, 101, 20, 2, 3);
  ResampleImage(1, IkLinear, 0, 0.5, 1.0, 0, false, false, false);
  EXPECT_EQ(Store.Image[1].Width, 50);
  EXPECT_EQ(Store.Image[1].Height, 20);
  EXPECT_EQ(Store.Image[1].Planes[3].size(), 1000u);

  Noise(1, 100, 60, 3, 3);
  const std::vector<float> before = PlaneCopy(1, 2);
  // Factors 1 run no step; the other calls are refused.
  ResampleImage(1, IkDSinc, 0, 1.0, 1.0, 0, false, true, true);
  struct TCall {
    int32_t kind, w, h;
    double rx, ry;
    bool sizes;
  };
  const TCall refused[] = {
      {IkBicubic, 0, 0, 400.0, 1.0, false},     // 40000 columns
      {IkBicubic, 32768, 60, 0, 0, true},       // the size limit
      {IkBicubic, 0, 0, 0.004, 1.0, false},     // below one column
      {IkBicubic, 0, 60, 0, 0, true},           // width 0
      {IkBicubic, 0, 0, -0.5, 1.0, false},      // negative factor
      {IkBicubic, 0, 0, std::nan(""), 1.0, false},
      {IkBicubic, 0, 0, 1e300, 1.0, false},
      {7, 0, 0, 0.5, 0.5, false},               // no such kind
  };
  for (const TCall& c : refused) ResampleImage(1, c.kind, c.w, c.rx, c.ry, c.h, c.sizes, false, false);
  EXPECT_EQ(Store.Image[1].Width, 100);
  EXPECT_EQ(Store.Image[1].Height, 60);
  ASSERT_EQ(PlaneCopy(1, 2).size(), before.size());
  EXPECT_EQ(std::memcmp(PlaneCopy(1, 2).data(), before.data(), before.size() * 4), 0);
}

// Without box and anti-moiré each axis is the one-dimensional sampler at
// i / ratio + 0.5 / ratio - 0.5, first along the rows, then along the columns.
TEST_F(Resample, AxesSampleWithTheOneDimensionalSamplers) {
  auto at = [](int i, double ratio) { return float(i / ratio + (0.5 / ratio - 0.5)); };
  for (test::TPath path : test::AvailablePaths()) {
    const test::PathGuard guard(path);
    for (int kind : {IkLinear, IkBicubic, IkLanczos3}) {
      for (double ratio : {0.3, 1.7}) {
        Noise(1, 40, 30, 4, 3);
        Store.Image[1].At(3, 17, 12) = BlankPixel;
        Noise(3, 40, 30, 4, 3);
        Store.Image[3].At(3, 17, 12) = BlankPixel;
        ResampleImage(1, kind, 0, ratio, ratio, 0, false, false, false);
        const int nw = ScaledSide(40, ratio), nh = ScaledSide(30, ratio);
        ASSERT_EQ(Store.Image[1].Width, nw);
        ASSERT_EQ(Store.Image[1].Height, nh);
        SetToolMode(kind);
        MakeImage(4, nw, 30, [&](int i, int r, int p) { return SampleAlongRow(3, p, r, at(i, ratio)); }, 3);
        for (int p = 1; p <= 3; p += 2)
          for (int r = 0; r < nh; ++r)
            for (int i = 0; i < nw; ++i)
              ASSERT_EQ(Store.Image[1].At(p, i, r), SampleAlongColumn(4, p, i, at(r, ratio)))
                  << test::PathName(path) << " " << kind << " " << ratio << " " << i << " " << r;
      }
    }
  }
}

TEST_F(Resample, DSincEnlargementSoftensNearJumps) {
  // A ramp with a step of 100 between columns 19 and 20.
  MakeImage(1, 40, 3, [](int x, int, int) { return float(x < 20 ? x : x + 100); });
  MakeImage(2, 40, 3, [](int x, int, int) { return float(x < 20 ? x : x + 100); });
  ResampleImage(1, IkDSinc, 0, 2.0, 1.0, 0, false, false, false);
  ASSERT_EQ(Store.Image[1].Width, 80);
  // Output i samples at i / 2 - 0.25: i = 2 lies at the border (bicubic), i = 10
  // on the smooth ramp (dSinc), i = 36 near the step (the soft cubic).
  for (auto [i, kind] : {std::pair{2, IkBicubic}, std::pair{10, IkDSinc}, std::pair{36, IkNeuro}}) {
    SetToolMode(kind);
    EXPECT_EQ(Store.Image[1].At(1, i, 1), SampleAlongRow(2, 1, 1, float(i) / 2 - 0.25f)) << i;
  }
}

TEST_F(Resample, SameResultWithOneThreadOrMany) {
  BuildTanhTable();
  struct TCase {
    int kind;
    double ratio;
    bool antiMoire, box;
  };
  const TCase cases[] = {{IkLinear, 1.6, false, false}, {IkNeuro, 1.6, false, false},
                         {IkBicubic, 1.6, false, false}, {IkDSinc, 1.6, false, false},
                         {IkLanczos3, 1.6, false, false}, {IkDSinc, 0.45, true, false},
                         {IkLanczos3, 0.45, true, false}, {IkBicubic, 0.45, false, true}};
  for (const TCase& c : cases) {
    std::vector<std::vector<float>> results;
    for (uint8_t multi : {0, 1}) {
      Options.Multicore = multi;
      if (c.ratio > 1)
        Noise(1, 600, 300, 6);
      else
        Noise(1, 1200, 800, 6);
      ResampleImage(1, c.kind, 0, c.ratio, c.ratio, 0, false, c.antiMoire, c.box);
      results.push_back(PlaneCopy(1));
    }
    EXPECT_TRUE(results[0] == results[1]) << c.kind << " " << c.ratio;
  }
}

TEST_F(Resample, ColumnMeansGiveTheSameBitsOnEveryPath) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> u(-50.0f, 50.0f);
  const int32_t w = 37, rows = 9;
  std::vector<float> src(size_t(w) * rows);
  for (float& v : src) v = u(rng);
  for (size_t i = 0; i < src.size(); i += 5) src[i] = BlankPixel;
  src[40] = std::nanf("");
  for (size_t i = 100; i < 109; ++i) src[i] = BlankPixel;  // a column position whose taps are mostly blank
  const float weights[6] = {-0.05f, 0.2f, 0.7f, 0.3f, -0.1f, 0.01f};
  std::vector<std::vector<float>> results;
  for (test::TPath path : test::AvailablePaths()) {
    test::PathGuard guard(path);
    std::vector<float> out(static_cast<size_t>(w));
    WeightedRowMeans(src.data(), size_t(w), 2, 6, weights, 0.3, out.data(), w, guard.Vector());
    results.push_back(out);
  }
  for (size_t k = 1; k < results.size(); ++k)
    EXPECT_EQ(std::memcmp(results[k].data(), results[0].data(), size_t(w) * 4), 0) << k;
  // The scalar path is the sampler's own sum.
  for (int32_t x = 0; x < w; ++x)
    EXPECT_EQ(std::memcmp(&results[0][size_t(x)], std::array{WeightedMean(src.data() + x, w, 2, 6, weights, 0.3)}.data(), 4), 0);
}

TEST_F(Resample, AntiMoireLanczosAgreesWithLibvips) {
  if (std::system("vips --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "libvips-tools missing";
  const int w = 160, h = 120;
  Smooth(1, w, h);
  test::TempDir dir;
  {
    std::ofstream m(dir.file("in.mat"));
    m << w << " " << h << "\n";
    m.precision(9);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) m << Store.Image[1].At(1, x, y) << (x + 1 < w ? " " : "\n");
  }
  const std::string d = dir.path().string();
  ASSERT_EQ(std::system(("cd " + d + " && vips cast in.mat in.v float && vips reduce in.v out.v 2 2 --kernel lanczos3 " +
                         "&& vips csvsave out.v out.csv").c_str()),
            0);
  ResampleImage(1, IkLanczos3, 0, 0.5, 0.5, 0, false, true, false);
  ASSERT_EQ(Store.Image[1].Width, w / 2);
  std::ifstream csv(dir.file("out.csv"));
  float lo = 1e30f, hi = -1e30f;
  for (float v : Store.Image[1].Planes[1]) lo = std::min(lo, v), hi = std::max(hi, v);
  std::string line;
  for (int r = 0; r < h / 2 && std::getline(csv, line); ++r) {
    std::istringstream cells(line);
    for (int i = 0; i < w / 2; ++i) {
      double v;
      cells >> v;
      if (i >= 4 && r >= 4 && i < w / 2 - 4 && r < h / 2 - 4) {
        ASSERT_NEAR(Store.Image[1].At(1, i, r), v, 0.005 * (hi - lo)) << i << " " << r;
      }
    }
  }
}

TEST_F(Resample, LanczosEnlargementAgreesWithTheExactKernel) {
  if (!test::HavePythonModule("numpy")) GTEST_SKIP() << "python3-numpy missing";
  const int w = 48, h = 40;
  Smooth(1, w, h);
  test::TempDir dir;
  test::WriteFloats(dir.file("img"), PlaneCopy(1));
  const std::string script =
      "import sys, numpy as np\n"
      "d = sys.argv[1]\n"
      "a = np.fromfile(d + '/img', np.float32).astype(np.float64).reshape(40, 48)\n"
      "def k(x):\n"
      "    x = np.abs(x)\n"
      "    return np.where(x < 3, np.sinc(x) * np.sinc(x / 3), 0.0)\n"
      "def axis(a):\n"
      "    n = a.shape[1]\n"
      "    out = np.zeros((a.shape[0], 2 * n))\n"
      "    for i in range(2 * n):\n"
      "        p = max(np.float32(i / 2 - 0.25), 0.0)\n"
      "        c = int(p)\n"
      "        j = np.arange(max(c - 2, 0), min(c + 3, n - 1) + 1)\n"
      "        wt = k(j - p)\n"
      "        out[:, i] = (a[:, j] * wt).sum(axis=1) / wt.sum()\n"
      "    return out\n"
      "axis(axis(a).T).T.astype(np.float32).tofile(d + '/out')\n";
  ASSERT_TRUE(test::RunPython(dir, script, dir.path().string()));
  const std::vector<float> expected = test::ReadFloats(dir.file("out"));
  ASSERT_EQ(expected.size(), size_t(4 * w * h));
  ResampleImage(1, IkLanczos3, 0, 2.0, 2.0, 0, false, true, false);
  ASSERT_EQ(Store.Image[1].Width, 2 * w);
  float lo = 1e30f, hi = -1e30f;
  for (float v : expected) lo = std::min(lo, v), hi = std::max(hi, v);
  for (int r = 6; r < 2 * h - 6; ++r)
    for (int i = 6; i < 2 * w - 6; ++i)
      ASSERT_NEAR(Store.Image[1].At(1, i, r), expected[size_t(r) * size_t(2 * w) + size_t(i)], 0.005 * (hi - lo))
          << i << " " << r;
}

}  // namespace
}  // namespace astrelon
