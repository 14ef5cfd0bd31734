// Non-local means: a direct numpy evaluation of the weighted means (the same
// 16-bit copies and weight table), flat images, tiny strengths, blanks, the
// worker count, the same bits on every path and worker count, and the
// smooth-gradient mode with its cached blur, its abort and a full store.
#include <cmath>
#include <random>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "../frequency/numpy_oracle.h"
#include "../planes/simd_paths.h"
#include "fake_window.h"
#include "filter_images.h"
#include "filters/dialog/filter_state.h"
#include "filters/noise/nlm_filter.h"
#include "filters/noise/nlm_planes.h"
#include "mid_run_commands.h"
#include "store/load_messages.h"
#include "store/planes/image_statistics.h"

namespace astrelon {
namespace {

using test::PathGuard;
using test::TPath;

class Nlm : public test::KernelTest {
protected:
  void TearDown() override {
    ReleaseFilterWorkSlots();
    ReleaseNlmPlanes();
    test::KernelTest::TearDown();
  }
  // Filters slot 1 into a fresh copy in slot 2.
  bool Run(int r, int R, int strength, int workers = 1, bool smooth = false, TWorkRect rect = {-1, -1, -1, -1}) {
    test::MakeResult(1, 2);
    return RunOnly(r, R, strength, workers, smooth, rect);
  }
  bool RunOnly(int r, int R, int strength, int workers = 1, bool smooth = false, TWorkRect rect = {-1, -1, -1, -1}) {
    if (rect.x1 < 0) rect = test::WholeImage(1);
    TNLMParams p;
    p.Source = 1;
    p.Destination = 2;
    p.X1 = rect.x1;
    p.X2 = rect.x2;
    p.Y1 = rect.y1;
    p.Y2 = rect.y2;
    p.PatchRadius = r;
    p.SearchRadius = R;
    p.Strength = strength;
    p.SmoothGradients = smooth;
    TNlmRun run;
    run.Workers = workers;
    return NLMFilterStarten(p, run);
  }
  static std::vector<float> Plane(int slot, int p = 1) {
    return {Store.Image[size_t(slot)].Planes[size_t(p)].begin(), Store.Image[size_t(slot)].Planes[size_t(p)].end()};
  }
};

void Noisy(int slot, int w, int h, int planes, unsigned seed, int blankEvery = 0, float sigma = 20) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0, sigma);
  test::MakeImage(slot, w, h, planes, [&](int p, int x, int y) {
    if (blankEvery && (x * 13 + y * 7 + p) % blankEvery == 0) return BlankPixel;
    return 1000.0f * p + 60 * std::sin(x * 0.2f) * std::cos(y * 0.15f) + (x > w / 2 ? 80.0f : 0.0f) + noise(rng);
  });
}

// The weighted means of plane p of slot 1 computed by numpy: its own 16-bit
// copy on 13000 levels of the plane's range, the table, and h from the given
// noise (a doubled for the colour-difference planes of a YUV image).
struct TNumpyNlm {
  std::vector<double> Out, Levels;
};
TNumpyNlm NumpyNlm(int w, int h, int r, int R, int strength, int p = 1, float noise = 0, bool yuv = false) {
  if (noise == 0) noise = NlmPlanes.Plane[size_t(p)].Noise;
  std::vector<double> values;
  for (float v : Store.Image[1].Planes[size_t(p)]) values.push_back(IsValidPixel(v) ? v : NAN);
  test::NumpyOracle py;
  py.Put("v", values);
  std::ostringstream s;
  s.precision(17);
  s << "W, H, r, R = " << w << ", " << h << ", " << r << ", " << R << "\n"
    << "noise = np.float64(np.float32(" << noise << "))\n"
    << "hh = max(0.5 * noise * noise * " << (yuv && p > 1 ? 2 : 1) << ", 1e-9) * (0.01 * " << strength << ") ** 2\n";
  s << R"(V = np.fromfile(d + 'v.f64').reshape(H, W)
V32 = V.astype(np.float32)
lo, hi = np.nanmin(V32), np.nanmax(V32)
scale32 = np.float32(13000) / (np.float32(hi - lo) + np.float32(0.01))
q = V32 * scale32 + (-lo * scale32)
L = np.rint(np.clip(np.where(np.isnan(V32), 0, q), 0, 13000)).astype(np.int64)
L.astype(np.float64).tofile(d + 'l.f64')
scale = np.float64(scale32)
T = np.exp(-np.arange(2042) / 81.915).astype(np.float32)
y, x = np.mgrid[0:H, 0:W]
rx = np.minimum(np.minimum(r, x), W - 1 - x)
ry = np.minimum(np.minimum(r, y), H - 1 - y)
f = (81.915 / ((2 * rx + 1) * (2 * ry + 1) * scale * scale * hh)).astype(np.float32)
def index(D):
    e = np.minimum(D.astype(np.float32) * f, np.float32(2041))
    return e <= 2040, np.rint(e).astype(np.int64)
S = np.zeros((H, W)); N = np.zeros((H, W)); Dmin = np.full((H, W), 2**62, np.int64)
for dy in range(-R, R + 1):
    for dx in range(-R, R + 1):
        if dx == 0 and dy == 0:
            continue
        sq = np.zeros((H, W), np.int64)
        ya, yb, xa, xb = max(0, -dy), min(H, H - dy), max(0, -dx), min(W, W - dx)
        sq[ya:yb, xa:xb] = (L[ya:yb, xa:xb] - L[ya + dy:yb + dy, xa + dx:xb + dx]) ** 2
        I = np.zeros((H + 1, W + 1), np.int64)
        I[1:, 1:] = sq.cumsum(0).cumsum(1)
        ok = (x + dx - rx >= 0) & (x + dx + rx <= W - 1) & (y + dy - ry >= 0) & (y + dy + ry <= H - 1)
        t, b = np.clip(y - ry, 0, H), np.clip(y + ry + 1, 0, H)
        le, ri = np.clip(x - rx, 0, W), np.clip(x + rx + 1, 0, W)
        D = I[b, ri] - I[t, ri] - I[b, le] + I[t, le]
        Dmin = np.where(ok, np.minimum(Dmin, D), Dmin)
        vs = V[np.clip(y + dy, 0, H - 1), np.clip(x + dx, 0, W - 1)]
        inside, i = index(np.where(ok, D, 0))
        take = ok & inside & ~np.isnan(vs)
        wgt = np.where(take, T[np.clip(i, 0, 2041)], 0).astype(np.float64)
        S += wgt * np.where(take, vs, 0); N += wgt
inside, i = index(np.minimum(Dmin, 2**40))
w0 = np.where(inside, T[np.clip(i, 0, 2041)], np.float32(1.53e-11)).astype(np.float64)
out = np.where(N > 0, (S + w0 * V) / (N + w0), V)
out[np.isnan(V)] = np.nan
out.tofile(d + 'o.f64')
)";
  if (!py.Run(s.str())) return {};
  return {py.Get("o"), py.Get("l")};
}

// The build's result and 16-bit copy of plane p against numpy's.
void ExpectPlaneAsNumpy(const TNumpyNlm& ref, int p, const std::string& what) {
  const auto& out = Store.Image[2].Planes[size_t(p)];
  const std::vector<uint16_t>& levels = NlmPlanes.Plane[size_t(p)].Levels;
  ASSERT_EQ(ref.Out.size(), out.size()) << "numpy failed " << what;
  ASSERT_EQ(ref.Levels.size(), levels.size()) << what;
  for (size_t i = 0; i < out.size(); ++i) {
    ASSERT_EQ(double(levels[i]), ref.Levels[i]) << what << " level at " << i;
    if (std::isnan(ref.Out[i])) {
      ASSERT_EQ(out[i], BlankPixel) << what << " at " << i;
      continue;
    }
    ASSERT_NEAR(out[i], ref.Out[i], 2e-6 * std::fabs(ref.Out[i])) << what << " at " << i;
  }
}

TEST_F(Nlm, EqualsADirectEvaluationOfTheWeightedMeans) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy missing";
  const int w = 64, h = 64;
  Noisy(1, w, h, 1, 4, 173);
  // Patch 3 at strength 20 holds its squared differences at a cap; at 200 the sums run in 64 bits.
  for (const auto& [r, R, strength] : {std::tuple{2, 7, 100}, std::tuple{1, 3, 60}, std::tuple{3, 4, 20},
                                       std::tuple{3, 4, 200}, std::tuple{5, 2, 120}}) {
    ASSERT_TRUE(Run(r, R, strength));
    ExpectPlaneAsNumpy(NumpyNlm(w, h, r, R, strength), 1,
                       std::to_string(r) + " " + std::to_string(R) + " " + std::to_string(strength));
  }
}

// A colour image is filtered plane by plane, each from its own 16-bit copy
// (its own range) with h from its own noise; the colour-difference planes of a
// YUV image take a doubled a. That is as far as the filter goes with colour:
// patches are never compared across planes.
TEST_F(Nlm, ColourPlanesEachTakeTheirOwnCopyAndNoise) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy missing";
  const int w = 48, h = 40;
  std::mt19937 rng(21);
  std::normal_distribution<float> noise(0, 1);
  const float sigma[] = {0, 12, 30, 55};
  test::MakeImage(1, w, h, 3, [&](int p, int x, int y) {
    return 800.0f * p + 90 * p * std::sin(x * 0.25f) * std::cos(y * 0.2f) + (x > w / 2 ? 150.0f : 0.0f) +
           sigma[p] * noise(rng);
  });
  Store.Display[1].ChannelSelection = 0;
  for (const TColorModel model : {CmRgb, CmYuv}) {
    Store.Image[1].ColorModel = model;
    ASSERT_TRUE(Run(2, 5, 100));
    for (int p = 1; p <= 3; ++p) {
      const float measured = EstimatePlaneNoise(1, p);
      EXPECT_FLOAT_EQ(NlmPlanes.Plane[size_t(p)].Noise, measured) << p;
      ExpectPlaneAsNumpy(NumpyNlm(w, h, 2, 5, 100, p, measured, model == CmYuv), p,
                         "model " + std::to_string(int(model)) + " plane " + std::to_string(p));
    }
  }
}

TEST_F(Nlm, FlatImagesTinyStrengthsAndCorners) {
  test::MakeGrey(1, 30, 20, [](int, int) { return 1234.5f; });
  ASSERT_TRUE(Run(2, 7, 100));
  EXPECT_EQ(Plane(2), Plane(1));
  // A tiny strength leaves out every neighbour whose patch differs at all:
  // where no identical patch is near, the pixel stays.
  std::mt19937 rng(6);
  test::MakeGrey(1, 40, 30, [&](int, int) { return float(rng() % 2) * 1000; });
  ASSERT_TRUE(Run(2, 5, 1));
  EXPECT_EQ(Plane(2), Plane(1));
  Noisy(1, 40, 30, 1, 6);
  // Corners get a result; strength 0 leaves the copy.
  ASSERT_TRUE(Run(2, 5, 150));
  EXPECT_NE(Store.Image[2].At(1, 0, 0), Store.Image[1].At(1, 0, 0));
  EXPECT_NE(Store.Image[2].At(1, 39, 29), Store.Image[1].At(1, 39, 29));
  EXPECT_NEAR(Store.Image[2].At(1, 0, 0), Store.Image[1].At(1, 0, 0), 60);
  ASSERT_TRUE(Run(2, 5, 0));
  EXPECT_EQ(Plane(2), Plane(1));
  // Tiny images and one-column rectangles.
  test::MakeGrey(1, 3, 2, [](int x, int y) { return float(x * 10 + y); });
  ASSERT_TRUE(Run(2, 7, 100));
  ASSERT_TRUE(Run(2, 7, 100, 1, false, {1, 1, 0, 1}));
  EXPECT_EQ(Store.Image[2].At(1, 0, 0), 0.0f);
}

TEST_F(Nlm, DefaultsImproveAStarFieldAndKeepTheStars) {
  // A 300 x 200 sky of 1000 with 60 Gaussian stars (sigma 1.5, peaks up to
  // 20000) under noise of 25, at the dialog's defaults (2, 7, 100). The noise
  // level raised to 0.5 % of the range (93 here) once made h about 14 times too
  // large: the star regions came out more than twice as far off as the noisy
  // input (RMSE 24.7 -> 55.9) and the whole image gained only 5.7 dB.
  const int w = 300, h = 200;
  std::mt19937 rng(12);
  std::uniform_real_distribution<float> unit(0, 1);
  std::normal_distribution<float> noise(0, 25);
  std::vector<float> truth(size_t(w) * h, 1000.0f);
  std::vector<uint8_t> nearStar(truth.size(), 0);
  for (int k = 0; k < 60; ++k) {
    const int sx = 8 + int(unit(rng) * (w - 16)), sy = 8 + int(unit(rng) * (h - 16));
    const float peak = 500 + 19500 * unit(rng) * unit(rng);
    for (int y = sy - 7; y <= sy + 7; ++y)
      for (int x = sx - 7; x <= sx + 7; ++x) {
        const float d2 = float((x - sx) * (x - sx) + (y - sy) * (y - sy));
        truth[size_t(y) * w + x] += peak * std::exp(-d2 / 4.5f);
        if (d2 <= 16) nearStar[size_t(y) * w + x] = 1;
      }
  }
  test::MakeGrey(1, w, h, [&](int x, int y) { return truth[size_t(y) * w + x] + noise(rng); });
  const std::vector<float> noisy = Plane(1);
  ASSERT_TRUE(Run(2, 7, 100));
  // The noise level the filter works with is the measured one.
  EXPECT_NEAR(NlmPlanes.Plane[1].Noise, 25.0f, 3.0f);
  // RMSE against the truth over the star regions (1), the sky (0) or all (2).
  const auto rmse = [&](const std::vector<float>& v, uint8_t where) {
    double sum = 0;
    int n = 0;
    for (size_t i = 0; i < v.size(); ++i)
      if (where == 2 || nearStar[i] == where) {
        sum += (v[i] - truth[i]) * (v[i] - truth[i]);
        ++n;
      }
    return std::sqrt(sum / n);
  };
  const std::vector<float> out = Plane(2);
  EXPECT_LT(rmse(out, 0), 0.3 * rmse(noisy, 0));   // 24.9 -> 6.8
  EXPECT_LT(rmse(out, 2), 0.4 * rmse(noisy, 2));   // 24.9 -> 8.6: +9 dB
  EXPECT_LT(rmse(out, 1), 1.05 * rmse(noisy, 1));  // 24.7 -> 25.1
}

TEST(NlmNoise, MeasuredNoiseIsKeptAndOnlyNoiselessPlanesTakeTheFloor) {
  struct TCase {
    float Measured, Range, Expected;
  };
  for (const TCase c : {TCase{25, 20000, 25}, TCase{0.5f, 65535, 0.5f}, TCase{0.00909f, 20000, 100},
                        TCase{0.02f, 1e6f, 5000}, TCase{0.002f, 0.1f, 0.002f}, TCase{30, 0, 30}}) {
    EXPECT_FLOAT_EQ(NlmNoiseLevel(c.Measured, c.Range), c.Expected) << c.Measured << " " << c.Range;
  }
}

TEST(NlmWorkers, BandsByColumnsOnEveryCore) {
  const TProgramOptions saved = Options;
  Options.Multicore = 1;
  const int32_t cores = int32_t(std::max(1u, std::thread::hardware_concurrency()));
  EXPECT_EQ(NlmWorkerCount(10, 60), 1);   // 51 columns
  EXPECT_EQ(NlmWorkerCount(10, 61), std::min(cores, 52));
  Options.Multicore = 0;
  EXPECT_EQ(NlmWorkerCount(0, 4000), 1);
  Options = saved;
}

TEST_F(Nlm, EveryPathAndWorkerCountGivesTheSameBits) {
  Noisy(1, 150, 70, 3, 9, 211);
  Store.Display[1].ChannelSelection = 0;
  for (const auto& [r, R, strength] : {std::tuple{2, 7, 100}, std::tuple{3, 5, 180}}) {
    std::vector<std::vector<float>> first;
    for (const TPath path : test::AvailablePaths())
      for (int workers : {1, 4, 8}) {
        PathGuard guard(path);
        ASSERT_TRUE(Run(r, R, strength, workers, false, {1, 147, 2, 68}));
        std::vector<std::vector<float>> all{Plane(2, 1), Plane(2, 2), Plane(2, 3)};
        if (first.empty())
          first = all;
        else
          ASSERT_TRUE(all == first) << test::PathName(path) << " " << workers << " " << r;
      }
  }
}

TEST_F(Nlm, BlankCentresStayAndBlankNeighboursAreLeftOut) {
  Noisy(1, 40, 30, 1, 12, 7);
  const std::vector<float> in = Plane(1);
  ASSERT_TRUE(Run(2, 4, 150));
  const std::vector<float> out = Plane(2);
  for (size_t i = 0; i < in.size(); ++i) {
    if (!IsValidPixel(in[i]))
      ASSERT_EQ(out[i], in[i]);
    else
      ASSERT_NEAR(out[i], in[i], 100) << i;
  }
  // With the blank-filled copy as working source the blanks stay blank too.
  FilterWorkSlot = 5;
  test::MakeGrey(5, 40, 30, [&](int x, int y) { return IsValidPixel(in[size_t(y * 40 + x)]) ? in[size_t(y * 40 + x)] : 1000.0f; });
  ASSERT_TRUE(Run(2, 4, 150));
  for (size_t i = 0; i < in.size(); ++i)
    if (!IsValidPixel(in[i])) {
      ASSERT_EQ(Plane(2)[i], BlankPixel);
    }
}

TEST_F(Nlm, SmoothModeBlursOnceAndAddsTheBlurBack) {
  Noisy(1, 90, 60, 1, 14);
  ASSERT_TRUE(Run(2, 5, 100, 2, true));
  const int blur = FilterBlurSlot, diff = FilterDiffSlot;
  ASSERT_TRUE(SlotInUse(blur) && SlotInUse(diff));
  const std::vector<float> first = Plane(2);
  for (size_t i = 0; i < first.size(); ++i) ASSERT_NEAR(first[i], Plane(1)[i], 100);
  // The second run takes the cached images as they are.
  Store.Image[size_t(blur)].Planes[1][0] += 500;
  ASSERT_TRUE(Run(2, 5, 100, 2, true));
  EXPECT_EQ(FilterBlurSlot, blur);
  EXPECT_EQ(FilterDiffSlot, diff);
  EXPECT_NEAR(Plane(2)[0], first[0] + 500, 1e-2);
  EXPECT_EQ(Plane(2)[45 * 90 + 45], first[45 * 90 + 45]);
}

TEST_F(Nlm, SmoothModeWithoutFreeSlotsChangesNothing) {
  Noisy(1, 30, 20, 1, 15);
  test::MakeResult(1, 2);
  for (int s = 3; s <= MaxImageSlots; ++s) test::MakeGrey(s, 2, 2, [](int, int) { return 0.0f; });
  TEngineUi ui;
  SetEngineUi(&ui);
  EXPECT_FALSE(RunOnly(2, 5, 100, 1, true));
  ASSERT_EQ(ui.Messages.size(), 1u);
  EXPECT_EQ(ui.Messages[0], TooManyImagesText());
  EXPECT_EQ(Plane(2), Plane(1));
  EXPECT_EQ(FilterBlurSlot, -1);
}

TEST_F(Nlm, AbortInSmoothModeAddsTheBlurToFinishedColumnsOnly) {
  // Values near 5000: a column left as the filtered difference alone would be near 0.
  std::mt19937 rng(2);
  std::normal_distribution<float> noise(0, 30);
  test::MakeGrey(1, 4096, 48, [&](int x, int y) { return 5000.0f + 0.1f * x + noise(rng); });
  test::MakeResult(1, 2);
  // The abort flag goes up once the worker reports its first block of columns
  // done; the destination is read only after the run.
  test::FakeWindow window;
  window.onProgress = [](int percent) {
    if (percent > 0) AbortRequested = 1;
  };
  Store.HasWindow[2] = 1;
  Store.Window[2] = &window;
  TNLMParams p;
  p.Source = 1;
  p.Destination = 2;
  p.X2 = 4095;
  p.Y2 = 47;
  p.PatchRadius = 5;
  p.SearchRadius = 12;
  p.SmoothGradients = 1;
  TNlmRun run;
  run.Workers = 1;
  run.ProgressSlot = 2;
  const bool done = NLMFilterStarten(p, run);
  Store.Window[2] = nullptr;
  Store.HasWindow[2] = 0;
  EXPECT_FALSE(done);
  EXPECT_TRUE(FilterAborted);
  const std::vector<float> in = Plane(1), out = Plane(2);
  int finished = 0, untouched = 0;
  for (int x = 0; x < 4096; ++x) {
    bool same = true;
    for (int y = 0; y < 48; ++y) {
      const size_t i = size_t(y * 4096 + x);
      ASSERT_NEAR(out[i], in[i], 200) << x << "," << y;
      same = same && out[i] == in[i];
    }
    (same ? untouched : finished) += 1;
    if (!same) {
      ASSERT_EQ(untouched, 0) << "finished columns come first";
    }
  }
  EXPECT_GT(finished, 0);
  EXPECT_GT(untouched, 0);
}

// Commands issued while the workers run (the calling thread keeps the windows
// live) leave the source, the destination and the smooth mode's work images alone.
TEST_F(Nlm, CommandsIssuedWhileTheWorkersRunLeaveTheirSlotsAlone) {
  for (const bool smooth : {false, true}) {
    Noisy(1, 180, 40, 3, 4);
    ASSERT_TRUE(Run(2, 5, 100, 3, smooth));
    const test::SlotState source(1), result(2);
    const int blur = FilterBlurSlot, diff = FilterDiffSlot;
    test::MakeResult(1, 2);
    bool done = false;
    {
      test::GatedWorkers gate;
      test::MidRunCommand ui([&] { test::TryToChangeSlots({1, 2, blur, diff}); });
      SetEngineUi(&ui);
      done = RunOnly(2, 5, 100, 3, smooth);
      SetEngineUi(nullptr);
      EXPECT_TRUE(ui.Issued());
    }
    EXPECT_TRUE(done) << smooth;
    EXPECT_TRUE(test::SlotState(1) == source) << smooth;
    EXPECT_TRUE(test::SlotState(2) == result) << smooth;
    ReleaseFilterWorkSlots();
  }
}

}  // namespace
}  // namespace astrelon
