// The speckle reconstruction: its set-up (step limit, power ellipse and
// triples), the power samples, the phases, the atmosphere response, and whole
// runs on synthetic series of a double and a single star seen through
// turbulence (made with numpy), repeatable to the bit.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <set>

#include <gtest/gtest.h>

#include "common/engine_ui.h"
#include "frequency/speckle/speckle_phases.h"
#include "frequency/speckle/speckle_power.h"
#include "frequency/speckle/speckle_reconstruction.h"
#include "frequency/speckle/speckle_response.h"
#include "frequency/speckle/speckle_result.h"
#include "frequency/speckle/speckle_session.h"
#include "numpy_oracle.h"
#include "speckle_fixture.h"
#include "spectrum_fixture.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"

namespace astrelon {
namespace {

class SpeckleReconstruction : public test::SpeckleTest {};

TEST(SpeckleSetUp, StepLimitPowerRadiusAndTriples) {
  EXPECT_EQ(SpeckleStepLimit(4096, 20, 1), 4);
  EXPECT_EQ(SpeckleStepLimit(66048, 245, 3), 2);  // large spectra: at least 2
  EXPECT_EQ(SpeckleStepLimit(16, 3, 1), 6);       // small ones: at most 6
  const TShiftVectors v = [] {
    TShiftVectors s = BuildShiftVectors(6, 4);
    SortShiftVectors(s);
    return s;
  }();
  int32_t mx = 0, my = 0;
  for (int u = 1; u <= v.Regular; ++u) mx = std::max<int32_t>(mx, v.Dx[size_t(u)]), my = std::max<int32_t>(my, v.Dy[size_t(u)]);
  const TSpecklePowerSetUp low = SpecklePowerTriples(v, 1);
  EXPECT_EQ(low.Mx, mx);
  EXPECT_EQ(low.My, my);
  EXPECT_EQ(low.Radius, 2.0);  // raised to 2
  EXPECT_EQ(SpecklePowerTriples(v, 1000).Radius, 7.0 * std::min(mx, my));
  const TSpecklePowerSetUp s = SpecklePowerTriples(v, 4.5);
  EXPECT_EQ(s.Radius, 4.5);
  ASSERT_FALSE(s.Triples.empty());
  EXPECT_LE(s.Triples.size(), MaxSpeckleTriples);
  const double k = std::sqrt(double(mx) * my);
  auto inside = [&](int dx, int dy) {
    return std::pow(dx * k / (mx * 4.5), 2) + std::pow(dy * k / (my * 4.5), 2) <= 1;
  };
  for (int u = 1; u <= s.Inside; ++u) EXPECT_TRUE(inside(v.Dx[size_t(u)], v.Dy[size_t(u)]));
  if (s.Inside < v.Total) {
    EXPECT_FALSE(inside(v.Dx[size_t(s.Inside + 1)], v.Dy[size_t(s.Inside + 1)]));
  }
  for (const TSpeckleTriple& t : s.Triples) {
    EXPECT_LE(std::max({t.A, t.B, t.C}), s.Inside);
    EXPECT_EQ(v.Dx[t.A] + v.Dx[t.B], v.Dx[t.C]);
    EXPECT_EQ(v.Dy[t.A] + v.Dy[t.B], v.Dy[t.C]);
    EXPECT_TRUE(v.Dy[t.B] >= 0 || v.Dx[t.B] > 0);
  }
  // A large ellipse stops at 2000 triples.
  TShiftVectors big = BuildShiftVectors(40, 40);
  SortShiftVectors(big);
  EXPECT_EQ(SpecklePowerTriples(big, 1000).Triples.size(), MaxSpeckleTriples);
}

TEST(SpeckleResponse, TableValuesAndClamping) {
  const std::array<double, 1024> t = SpeckleResponseTable(1.1, 2.0);
  const double q = 1.325, e = std::exp(-5.0);
  EXPECT_NEAR(t[0], (1 - std::exp(-50 / 1.1)) * (1 + q) / (std::sqrt(e * e + 1) + q), 1e-12);
  EXPECT_NEAR(t[0], 0.99999, 5e-6);
  for (int i = 0; i < 1024; ++i)
    if (i * 1.1 / 1023 >= 1) {
      EXPECT_EQ(t[size_t(i)], 0.0) << i;
    }
  EXPECT_GT(t[500], 0.0);
  struct TCase {
    double a, b, ca, cb;
    bool clampA, clampB;
  };
  for (const TCase c : {TCase{1.1, 2.0, 1.1, 2.0, false, false}, {0.05, 300, 0.1, 255, true, true},
                        {20, 0, 15, 0.1, true, true}, {std::nan(""), 7, 0.1, 7, true, false}}) {
    const TSpeckleResponse r = ClampSpeckleResponse(c.a, c.b);
    EXPECT_EQ(r.A, c.ca);
    EXPECT_EQ(r.B, c.cb);
    EXPECT_EQ(r.AClamped, c.clampA);
    EXPECT_EQ(r.BClamped, c.clampB);
  }
}

TEST_F(SpeckleReconstruction, ResponseGainFollowsTheRadius) {
  test::MakeImage(1, 34, 16, 1, [](int, int, int) { return 2.0f; });  // a 32 × 16 spectrum of 2s
  test::MakeImage(2, 34, 16, 1, [](int, int, int) { return 0.0f; });
  const TSpeckleResponse r = ClampSpeckleResponse(1.3, 3.0);
  ASSERT_TRUE(AdjustSpeckleFrequencyResponse(1, 2, r));
  const std::array<double, 1024> t = SpeckleResponseTable(1.3, 3.0);
  for (auto [x, y] : {std::pair{0, 8}, {5, 8}, {3, 11}, {16, 0}, {10, 2}}) {
    const double rr = std::hypot(x / 17.0, (y - 8) / 8.0);
    double gain = t[1023];
    if (rr < 1) {
      const double at = rr * 1023;
      const int i = int(at);
      gain = t[size_t(i)] * (1 - (at - i)) + t[size_t(i) + 1] * (at - i);
    }
    EXPECT_FLOAT_EQ(Store.Image[2].At(1, x, y), float(2 * gain)) << x << " " << y;
    EXPECT_FLOAT_EQ(Store.Image[2].At(1, 17 + x, y), float(2 * gain)) << x << " " << y;
  }
  test::MakeImage(3, 30, 16, 1, [](int, int, int) { return 0.0f; });
  EXPECT_FALSE(AdjustSpeckleFrequencyResponse(1, 3, r));
}

// Accumulators of the unit vector list (1,0) (0,1) (0,-1) (2,0) (0,2) (0,-2)
// (1,1) (1,-1) holding amplitude `a(u, x, y)`.
TSpeckleAccumulators AmplitudeAccumulators(const TShiftVectors& v, int32_t W, int32_t H,
                                           float (*a)(int u, int x, int y)) {
  TSpeckleAccumulators acc;
  acc.Reset(W, H, 1, v.Total);
  for (int u = 1; u <= v.Total; ++u)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W / 2; ++x) acc.X[1][size_t(u)][size_t(y) * size_t(W) + size_t(x)] = a(u, x, y);
  return acc;
}

float Amplitude(int u, int x, int y) { return 1.0f + 0.25f * float((u * 3 + x * 5 + y * 7) % 11); }

TEST_F(SpeckleReconstruction, PowerSamplesAndTheNoiseCorrectionOfThreeOrMore) {
  const TShiftVectors v = BuildShiftVectors(1, 1);
  const int32_t W = 12, H = 8;
  const TSpeckleAccumulators acc = AmplitudeAccumulators(v, W, H, Amplitude);
  std::array<double, 250> eps{};
  eps[1] = 0.5;
  const std::vector<TSpeckleTriple> two{{1, 4, 1}, {2, 7, 1}};  // (1,0)+(1,0), (0,1)+(1,0)
  const std::vector<TSpeckleTriple> three{{1, 4, 1}, {2, 7, 1}, {3, 8, 1}};
  auto pass = [&](const std::vector<TSpeckleTriple>& triples, bool correction) {
    std::vector<float> plane(size_t(W) * H, -7.0f);
    EXPECT_TRUE(SpecklePowerPass(acc, 1, v, triples, eps, correction, plane, 1));
    return plane;
  };
  const std::vector<float> plain = pass(two, false), corrected = pass(two, true);
  // Two samples: their mean, no correction (no variance of their own).
  EXPECT_EQ(plain, corrected);
  auto sample = [&](int a, int c, int b, int x, int y) {
    return float(double(Amplitude(a, x, y)) * Amplitude(c, x, y) /
                 (Amplitude(b, x + v.Dx[size_t(a)], y + v.Dy[size_t(a)]) + eps[size_t(b)]));
  };
  // Bin (3, 2): both triples apply; the last columns get one sample or none.
  const double m = (double(sample(1, 4, 1, 3, 2)) + sample(2, 7, 1, 3, 2)) / 2;
  EXPECT_FLOAT_EQ(plain[2 * W + 3], float(std::sqrt(float(m))));
  const double m4 = (double(sample(1, 4, 1, 4, 2)) + sample(2, 7, 1, 4, 2)) / 2;
  EXPECT_FLOAT_EQ(plain[2 * W + 4], float(std::sqrt(float(m4))));
  EXPECT_EQ(plain[2 * W + 5], 0.0f);  // x + 1 is beyond the last bin for both
  EXPECT_EQ(plain[2 * W + 6], -7.0f);  // the imaginary half is left alone
  // Three samples: the variance lowers the mean where they differ.
  const std::vector<float> three0 = pass(three, false), three1 = pass(three, true);
  int lowered = 0;
  for (int y = 1; y < H - 1; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_LE(three1[size_t(y * W + x)], three0[size_t(y * W + x)]);
      lowered += three1[size_t(y * W + x)] < three0[size_t(y * W + x)];
    }
  EXPECT_GT(lowered, 0);
  // Rows 0 and 7 have two samples a bin even here: no correction, and none by
  // the variance of the bins before them.
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(three1[size_t(x)], three0[size_t(x)]);
    EXPECT_EQ(three1[size_t(7 * W + x)], three0[size_t(7 * W + x)]);
  }
}

TEST_F(SpeckleReconstruction, PhasesOfMaxStepsZeroAndOfPaths) {
  const TShiftVectors v = BuildShiftVectors(3, 3);
  ASSERT_GT(v.Regular, 6);
  const TSpecklePowerSetUp power = SpecklePowerTriples(v, 4.5);
  const int32_t W = 16, H = 12, half = 8;
  TSpeckleAccumulators acc = AmplitudeAccumulators(v, W, H, Amplitude);
  TSpeckleLayerNoise noise;
  noise.Weight.fill(1.0);
  noise.Smallest = 0.01;
  TSpeckleLayerSums sums;
  sums.SumCos = {0, std::cos(0.3), std::cos(0.2), std::cos(-0.2)};
  sums.SumSin = {0, std::sin(0.3), std::sin(0.2), std::sin(-0.2)};
  std::vector<float> plane(size_t(W) * H, 1.0f);
  TSpecklePhaseWalk zero(acc, 1, v, noise, sums, 0, power.Mx, power.My, false, plane);
  ASSERT_TRUE(zero.Run());
  EXPECT_EQ(zero.Count(), int64_t(half) * H - 1);  // every frequency but the zero one
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < half; ++x) {
      const float p = plane[size_t(y * W + half + x)];
      EXPECT_FLOAT_EQ(p, x == 0 && y == H / 2 ? 0.0f : float((y - x - H / 2) * M_PI)) << x << " " << y;
      EXPECT_NEAR(std::cos(double(p)), ((y - x - H / 2) % 2 == 0) ? 1 : -1, 1e-6);
    }
  // The phases of a shifted point: phi(f) = 0.3 x + 0.2 (y - H/2).
  auto ramp = [&](int x, int y) { return 0.3 * x + 0.2 * (y - H / 2); };
  auto expectRamp = [&](const char* what) {
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < half; ++x)
        EXPECT_NEAR(std::remainder(plane[size_t(y * W + half + x)] - ramp(x, y), 2 * M_PI), 0, 1e-5)
            << what << " " << x << " " << y;
  };
  auto setPhases = [&](bool kt) {
    for (int u = 1; u <= v.Total; ++u)
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < half; ++x)
          acc.X[1][size_t(u)][size_t(y * W + half + x)] = kt ? float(-ramp(v.Dx[size_t(u)], v.Dy[size_t(u)] + H / 2)) : 0.0f;
  };
  int32_t twoZero = 0;  // the index of (2, 0)
  for (int u = 4; u <= v.Regular; ++u)
    if (v.Dx[size_t(u)] == 2 && v.Dy[size_t(u)] == 0) twoZero = u;
  ASSERT_GT(twoZero, 0);
  // Knox-Thompson: X_u holds phi(f) - phi(f + u); every vector is usable at once.
  setPhases(true);
  for (int steps : {1, 2}) {
    std::fill(plane.begin(), plane.end(), 1.0f);
    TSpecklePhaseWalk kt(acc, 1, v, noise, sums, steps, power.Mx, power.My, true, plane);
    EXPECT_TRUE(kt.Usable(v.Regular));
    EXPECT_EQ(kt.Phi(1), 0.0);
    ASSERT_TRUE(kt.Run());
    expectRamp("KT");
  }
  // Triple correlation: the bispectrum of a shifted point has phase 0; the
  // phases come from vectors 1..3, and vectors 4.. become usable at their own
  // frequency with its phase.
  setPhases(false);
  std::fill(plane.begin(), plane.end(), 1.0f);
  TSpecklePhaseWalk one(acc, 1, v, noise, sums, 1, power.Mx, power.My, false, plane);
  EXPECT_FALSE(one.Usable(twoZero));
  EXPECT_NEAR(one.Phi(1), 0.3, 1e-12);
  EXPECT_NEAR(one.Phi(0), 0.01, 1e-12);
  ASSERT_TRUE(one.Run());
  expectRamp("triple");
  EXPECT_TRUE(one.Usable(twoZero));
  EXPECT_NEAR(one.Phi(twoZero), 0.6, 1e-5);
}

// Frames of a double star (or one star) through Kolmogorov phase screens, made
// by numpy, written as FITS files.
std::vector<std::string> TurbulentFrames(const test::TempDir& dir, const std::string& tag, bool twoStars, int count) {
  test::NumpyOracle np;
  EXPECT_TRUE(np.Run("N, frames, two = 64, " + std::to_string(count) + ", " + (twoStars ? "True" : "False") + R"(
rng = np.random.default_rng(7)
y, x = np.mgrid[0:N, 0:N]
obj = np.zeros((N, N))
obj[32, 29] = 2.0
if two:
    obj[32, 35] = 1.0
pupil = ((x - N / 2) ** 2 + (y - N / 2) ** 2 <= 100).astype(float)
f = np.hypot(np.fft.fftfreq(N)[None, :], np.fft.fftfreq(N)[:, None])
f[0, 0] = 1
filt = f ** (-11 / 6)
filt[0, 0] = 0
O = np.fft.fft2(obj)
out = []
for k in range(frames):
    s = np.real(np.fft.ifft2(filt * (rng.normal(size=(N, N)) + 1j * rng.normal(size=(N, N)))))
    s *= 2.5 / s[pupil > 0].std()
    psf = np.abs(np.fft.fft2(pupil * np.exp(1j * s))) ** 2
    psf /= psf.sum()
    img = np.real(np.fft.ifft2(O * np.fft.fft2(psf)))
    out.append(img * 3000 + 100 + rng.normal(0, 0.5, size=img.shape))
np.array(out).tofile(d + 'frames.f64')
)"));
  const std::vector<double> values = np.Get("frames");
  std::vector<std::string> names;
  if (values.size() != size_t(count) * 64 * 64) return names;
  for (int k = 0; k < count; ++k) {
    test::MakeImage(40, 64, 64, 1, [&](int x, int y, int) { return float(values[size_t(k) * 4096 + size_t(y) * 64 + x]); });
    names.push_back(dir.file(tag + std::to_string(1000 + k) + ".fit"));
    EXPECT_TRUE(SaveFits(40, -32, names.back(), false, false));
    FreeSlot(40);
  }
  return names;
}

struct TPeaks {
  int x1, y1, x2, y2;
  float v1, v2;  // above the background (the median)
};

// The brightest pixel and the brightest one at least 3 pixels from it.
TPeaks Peaks(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  std::vector<float> sorted(im.Planes[1].begin(), im.Planes[1].end());
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  const float background = sorted[sorted.size() / 2];
  TPeaks p{0, 0, 0, 0, -1e30f, -1e30f};
  for (int y = 0; y < im.Height; ++y)
    for (int x = 0; x < im.Width; ++x)
      if (im.At(1, x, y) > p.v1) p.x1 = x, p.y1 = y, p.v1 = im.At(1, x, y);
  for (int y = 0; y < im.Height; ++y)
    for (int x = 0; x < im.Width; ++x) {
      const int dx = std::abs(x - p.x1), dy = std::abs(y - p.y1);
      if (std::min(dx, im.Width - dx) < 3 && std::min(dy, im.Height - dy) < 3) continue;
      if (im.At(1, x, y) > p.v2) p.x2 = x, p.y2 = y, p.v2 = im.At(1, x, y);
    }
  p.v1 -= background;
  p.v2 -= background;
  return p;
}

int Wrapped(int d, int n) { return ((d % n) + n + n / 2) % n - n / 2; }

class SpeckleSeries : public SpeckleReconstruction {
protected:
  // Accumulates the frames and reconstructs; the result image slot.
  int Run(const std::vector<std::string>& files, bool kt, int32_t steps, std::vector<std::string>* texts = nullptr) {
    TSpeckleFrameInput in;
    in.Files = files;
    session_.UpdateSpeckleMemory(64, 64, 13, 1);
    TSpeckleRunSettings run;
    run.Region = {0, 0, 63, 63};
    run.ColourChoice = 1;
    run.KT = kt;
    EXPECT_EQ(session_.Accumulate(in, run), int32_t(files.size()));
    return Reconstruct(true, steps, texts);
  }
  int Reconstruct(bool recompute, int32_t steps, std::vector<std::string>* texts = nullptr) {
    TSpeckleReconstructionSettings s;
    s.MaxSteps = steps;
    s.Response = ClampSpeckleResponse(1.6, 2.0);
    TSpeckleReconstructionHooks hooks;
    if (texts) hooks.Status = [texts](const std::string& t) { texts->push_back(t); };
    EXPECT_EQ(SpeckleRekonstruktion(session_, recompute, s, hooks), TSpeckleOutcome::Done);
    bool isNew = false;
    const int slot = MakeSpeckleResultImage(session_, recompute, "Interferom. Bildregistrierung", isNew);
    EXPECT_GE(slot, 1);
    return slot;
  }
  TSpeckleSession session_;
  test::TempDir dir_;
};

TEST_F(SpeckleSeries, DoubleStarComesBackOnItsTrueSideSingleStarAsOnePeak) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy missing";
  const std::vector<std::string> pair = TurbulentFrames(dir_, "pair", true, 200);
  ASSERT_EQ(pair.size(), 200u);
  for (const bool kt : {false, true}) {
    std::vector<std::string> texts;
    const int slot = Run(pair, kt, 1, &texts);
    const TPeaks p = Peaks(slot);
    EXPECT_EQ(Wrapped(p.x2 - p.x1, 64), 6) << (kt ? "KT" : "triple");
    EXPECT_LE(std::abs(Wrapped(p.y2 - p.y1, 64)), 1) << (kt ? "KT" : "triple");
    EXPECT_GT(p.v2, 0.3f * p.v1);
    EXPECT_LT(p.v2, 0.8f * p.v1);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "Reconstruction");
    auto starts = [&](const char* prefix) {
      return std::count_if(texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
    };
    EXPECT_GT(starts("Reconstruct Power "), 0);
    EXPECT_GT(starts("Reconstruct Phases "), 0);
    EXPECT_EQ(texts.back().back(), '%');
    EXPECT_EQ(Store.FileName[size_t(slot)], dir_.path().string() + "/IF_Result_0.fit");
  }
  // Max steps 0: the centred autocorrelation, point-symmetric, side peaks 6 apart.
  const int sym = Reconstruct(false, 0);
  const TImageSlot& im = Store.Image[size_t(sym)];
  float largest = 0;
  for (float v : im.Planes[1]) largest = std::max(largest, std::abs(v));
  for (int y = 1; y < 64; ++y)
    for (int x = 1; x < 64; ++x) EXPECT_NEAR(im.At(1, x, y), im.At(1, 64 - x, 64 - y), 1e-4 * largest) << x << " " << y;
  const TPeaks c = Peaks(sym);
  EXPECT_EQ(c.x1, 32);
  EXPECT_EQ(c.y1, 32);
  EXPECT_EQ(std::abs(c.x2 - 32), 6);
  EXPECT_NEAR(im.At(1, 26, 32), im.At(1, 38, 32), 1e-4 * largest);

  const std::vector<std::string> single = TurbulentFrames(dir_, "single", false, 200);
  const int one = Run(single, false, 1);
  const TPeaks s = Peaks(one);
  EXPECT_LT(s.v2, 0.25f * s.v1);
}

// The companion in a reconstructed binary, measured with the reconstruction
// of a single star through the same air as the image of one star: by least
// squares (numpy) the binary is that image at the two peaks, each moved by a
// sub-pixel shift (two Gauss-Newton rounds of Fourier shifts), times its
// brightness, plus a constant. The companion's offset from the primary and
// its brightness over the primary's.
struct TCompanion {
  double Dx = 0, Dy = 0, Ratio = 0;
};

TCompanion FitCompanion(int binary, int star) {
  const TPeaks p = Peaks(binary), q = Peaks(star);
  test::NumpyOracle np;
  np.Put("binary", std::vector<double>(Store.Image[size_t(binary)].Planes[1].begin(), Store.Image[size_t(binary)].Planes[1].end()));
  np.Put("star", std::vector<double>(Store.Image[size_t(star)].Planes[1].begin(), Store.Image[size_t(star)].Planes[1].end()));
  np.Put("at", {double(p.x1 - q.x1), double(p.y1 - q.y1), double(p.x2 - q.x1), double(p.y2 - q.y1)});
  const bool ran = np.Run(R"(
B = np.fromfile(d + 'binary.f64').reshape(64, 64)
S = np.fromfile(d + 'star.f64').reshape(64, 64)
at = np.fromfile(d + 'at.f64')
F = np.fft.fft2(S)
fy, fx = np.meshgrid(np.fft.fftfreq(64), np.fft.fftfreq(64), indexing='ij')
shift = [at[0], at[1], at[2], at[3]]
for _ in range(3):
    cols = []
    for k in (0, 1):
        K = np.real(np.fft.ifft2(F * np.exp(-2j * np.pi * (fx * shift[2 * k] + fy * shift[2 * k + 1]))))
        gy, gx = np.gradient(K)
        cols += [K, -gx, -gy]
    cols.append(np.ones_like(B))
    a = np.linalg.lstsq(np.array([c.ravel() for c in cols]).T, B.ravel(), rcond=None)[0]
    for k in (0, 1):
        shift[2 * k] += a[3 * k + 1] / a[3 * k]
        shift[2 * k + 1] += a[3 * k + 2] / a[3 * k]
np.array([shift[2] - shift[0], shift[3] - shift[1], a[3] / a[0]]).tofile(d + 'fit.f64')
)");
  const std::vector<double> fit = ran ? np.Get("fit") : std::vector<double>{};
  if (fit.size() != 3) return {};
  auto wrapped = [](double d) { return d - 64 * std::nearbyint(d / 64); };
  return {wrapped(fit[0]), wrapped(fit[1]), fit[2]};
}

TEST_F(SpeckleSeries, CompanionWithinATenthOfAPixelTwoDegreesAndTwoPercent) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy missing";
  // The companion is 6 pixels to the right of the primary, half as bright.
  const std::vector<std::string> pair = TurbulentFrames(dir_, "pair", true, 200);
  const std::vector<std::string> single = TurbulentFrames(dir_, "single", false, 200);
  ASSERT_EQ(pair.size(), 200u);
  for (const bool kt : {false, true}) {
    const int star = Run(single, kt, 1);
    const int binary = Run(pair, kt, 1);
    const TCompanion c = FitCompanion(binary, star);
    EXPECT_LT(std::hypot(c.Dx - 6, c.Dy), 0.1) << kt;
    EXPECT_LT(std::fabs(std::atan2(c.Dy, c.Dx)) * 180 / std::numbers::pi, 2.0) << kt;
    // Triple correlation within 2 % (0.4998 here), Knox–Thompson within 3 % (0.514).
    EXPECT_NEAR(c.Ratio, 0.5, kt ? 0.015 : 0.01) << kt;
  }
}

TEST_F(SpeckleSeries, SameBitsOnEveryThreadCountPathAndRun) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy missing";
  const std::vector<std::string> files = TurbulentFrames(dir_, "f", true, 12);
  auto result = [&](bool vector, bool multicore) {
    test::PathAndThreads path(vector, multicore);
    const int slot = Run(files, false, 2);
    std::vector<float> image = test::PlaneOf(slot, 1), kept = test::PlaneOf(session_.KeptSpectrum, 1);
    image.insert(image.end(), kept.begin(), kept.end());
    FreeSlot(slot);
    session_.Release();
    return image;
  };
  const std::vector<float> ref = result(false, false);
  for (auto [vector, multicore] : {std::pair{true, true}, {false, true}, {true, false}, {true, true}}) {
    const std::vector<float> got = result(vector, multicore);
    ASSERT_EQ(got.size(), ref.size());
    EXPECT_EQ(0, std::memcmp(got.data(), ref.data(), ref.size() * sizeof(float))) << vector << multicore;
  }
}

TEST_F(SpeckleSeries, AbortDuringThePowerPassKeepsTheKeptSpectrum) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy missing";
  const std::vector<std::string> files = TurbulentFrames(dir_, "f", true, 6);
  const int first = Run(files, true, 1);
  const int kept = session_.KeptSpectrum;
  ASSERT_TRUE(SlotInUse(kept));
  const std::vector<float> before = test::PlaneOf(kept, 1);
  TSpeckleReconstructionSettings s;
  TSpeckleReconstructionHooks hooks;
  hooks.Status = [](const std::string& t) {
    if (t.rfind("Reconstruct Power", 0) == 0) AbortRequested = 1;
  };
  EXPECT_EQ(SpeckleRekonstruktion(session_, false, s, hooks), TSpeckleOutcome::Aborted);
  EXPECT_EQ(session_.KeptSpectrum, kept);
  EXPECT_EQ(test::PlaneOf(kept, 1), before);
  EXPECT_EQ(session_.ResultImage, first);
  // The next run converts nothing again and gives the first run's result in
  // the first run's window.
  AbortRequested = 0;
  Store.HasWindow[size_t(first)] = 1;
  const std::vector<float> image = test::PlaneOf(first, 1);
  EXPECT_EQ(Reconstruct(false, 1), first);
  EXPECT_EQ(test::PlaneOf(first, 1), image);
}

TEST(SpecklePhases, VisitingOrderGrowsARectangleAndCoversEveryFrequencyOnce) {
  // 4 bins, 6 rows: column 1 at the middle, ring 1, column 2, ring 2, ...
  const std::vector<std::pair<int32_t, int32_t>> order = SpeckleVisitingOrder(4, 6);
  const std::vector<std::pair<int32_t, int32_t>> start{{1, 3}, {0, 2}, {0, 4}, {1, 2}, {1, 4},
                                                       {2, 3}, {2, 2}, {2, 4}, {0, 1}, {0, 5}};
  ASSERT_GE(order.size(), start.size());
  EXPECT_EQ(std::vector(order.begin(), order.begin() + 10), start);
  for (auto [half, height] : {std::pair{4, 6}, {17, 12}, {5, 40}, {40, 4}, {2, 2}}) {
    const auto o = SpeckleVisitingOrder(half, height);
    std::set<std::pair<int32_t, int32_t>> seen(o.begin(), o.end());
    EXPECT_EQ(seen.size(), o.size()) << half << " " << height;
    EXPECT_EQ(o.size(), size_t(half) * size_t(height) - 1) << half << " " << height;
    EXPECT_FALSE(seen.count({0, height / 2}));
  }
}

TEST_F(SpeckleReconstruction, NothingToReconstructWithoutData) {
  TSpeckleSession s;
  EXPECT_EQ(SpeckleRekonstruktion(s, true, {}), TSpeckleOutcome::NotRun);
  EXPECT_EQ(SpeckleResultName("/d/x"), "/d/x/IF_Result_0.fit");
}

TEST_F(SpeckleReconstruction, AccumulatorsWithoutBinsHaveNoNoise) {
  // A 2 × 2 frame's spectrum (4 × 2): (2, 0) and (0, ±2) have no bins at all.
  const TShiftVectors v = BuildShiftVectors(1, 1);
  TSpeckleAccumulators acc;
  acc.Reset(4, 2, 1, v.Total);
  for (auto& x : acc.X[1])
    for (float& f : x) f = 3.0f;
  TSpeckleLayerNoise noise;
  ConvertSpeckleLayer(acc, 1, v, noise, 1);
  EXPECT_TRUE(noise.Converted);
  for (int u = 1; u <= v.Total; ++u) {
    EXPECT_TRUE(std::isfinite(noise.Noise[size_t(u)])) << u;
    EXPECT_TRUE(std::isfinite(noise.Signal[size_t(u)])) << u;
    EXPECT_TRUE(std::isfinite(noise.Weight[size_t(u)])) << u;
  }
  for (int u : {4, 5, 6}) EXPECT_EQ(noise.Noise[size_t(u)], 0.0) << u;
  EXPECT_EQ(noise.Smallest, 0.0);
  // (1, 0): one column of two rows, the lower one outside: noise √18, so the
  // amplitudes drop by half of it.
  EXPECT_DOUBLE_EQ(noise.Noise[1], double(std::sqrt(18.0f)));
  EXPECT_FLOAT_EQ(acc.X[1][1][0], float(double(std::sqrt(18.0f) - float(0.5 * noise.Noise[1])) * noise.Weight[1]));
  EXPECT_FLOAT_EQ(acc.X[1][1][2], float(std::atan2(3.0, 3.0)));
}

}  // namespace
}  // namespace astrelon
