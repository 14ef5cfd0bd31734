// Summing speckle frames: the cross spectra and bispectra against numpy, the
// phasor sums, the zero-frequency divisor, and the same bits for every thread
// count and code path.
#include <algorithm>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "frequency/speckle/speckle_accumulation.h"
#include "kernels/fft/spectrum_image.h"
#include "numpy_oracle.h"
#include "spectrum_fixture.h"

namespace astrelon {
namespace {

using test::MakeImage;

class SpeckleAccumulation : public test::StoreTest {};

// The spectrum of a w × h frame (seed varies the detail) as a plane.
std::vector<float> FrameSpectrum(int w, int h, int seed, int32_t& W, int32_t& H) {
  MakeImage(1, w, h, 1, [seed](int x, int y, int) {
    return test::Sky(x + seed * 7, y + seed * 3, 1) + 30.0f * float(((x - 9 - seed) * (x - 9 - seed) + (y - 7) * (y - 7)) < 6);
  });
  const int s = ImageToFft2D(1, 0, 0);
  EXPECT_GE(s, 1);
  W = Store.Image[size_t(s)].Width;
  H = Store.Image[size_t(s)].Height;
  std::vector<float> plane = test::PlaneOf(s, 1);
  FreeSlot(s);
  FreeSlot(1);
  return plane;
}

TSpeckleJob Job(std::vector<float>& plane) {
  TSpeckleJob job;
  job.Planes[1] = plane;
  return job;
}

// numpy's X_u of one frame for every vector, in the accumulator layout.
std::vector<double> NumpyCrossSpectra(const std::vector<float>& plane, int32_t W, int32_t H, const TShiftVectors& v,
                                      bool triple) {
  test::NumpyOracle np;
  np.Put("f", std::vector<double>(plane.begin(), plane.end()));
  std::vector<double> vec;
  for (int u = 1; u <= v.Total; ++u) {
    vec.push_back(v.Dx[size_t(u)]);
    vec.push_back(v.Dy[size_t(u)]);
  }
  np.Put("v", vec);
  EXPECT_TRUE(np.Run("W, H = " + std::to_string(W) + ", " + std::to_string(H) + "\nhalf = W // 2\n"
                     "triple = " + (triple ? "True" : "False") + R"(
f = np.fromfile(d + 'f.f64').reshape(H, W)
F = f[:, :half] + 1j * f[:, half:]
out = []
for dx, dy in np.fromfile(d + 'v.f64').reshape(-1, 2).astype(int):
    X = np.zeros((H, half), complex)
    y0, y1, n = max(0, -dy), H - max(0, dy), half - dx
    X[y0:y1, :n] = F[y0:y1, :n] * np.conj(F[y0 + dy:y1 + dy, dx:dx + n])
    if triple:
        p = F[H // 2 + dy, dx]
        X *= p / abs(p)
    out.append(np.concatenate([X.real, X.imag], axis=1))
np.array(out).tofile(d + 'x.f64')
)"));
  return np.Get("x");
}

TEST_F(SpeckleAccumulation, OneFrameGivesTheCrossSpectraAndBispectraOfNumpy) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy missing";
  for (const bool triple : {false, true}) {
    int32_t W, H;
    std::vector<float> plane = FrameSpectrum(40, 30, 1, W, H);
    const TShiftVectors v = BuildShiftVectors(5, 4);
    TSpeckleAccumulators acc;
    acc.Reset(W, H, 1, v.Total);
    SpeckleAkkumulation(acc, v, Job(plane), !triple, 1);
    // The frame's zero frequency was replaced by the smallest amplitude of bins 1..4.
    const float* mid = plane.data() + size_t(H / 2) * size_t(W);
    double m = 1e30;
    for (int c = 1; c <= 4; ++c) m = std::min(m, std::hypot(double(mid[c]), double(mid[W / 2 + c])));
    EXPECT_FLOAT_EQ(mid[0], float(m));
    const std::vector<double> ref = NumpyCrossSpectra(plane, W, H, v, triple);
    ASSERT_EQ(ref.size(), size_t(v.Total) * size_t(W) * size_t(H));
    for (int u = 1; u <= v.Total; ++u) {
      const double* r = ref.data() + size_t(u - 1) * size_t(W) * size_t(H);
      double largest = 0, worst = 0;
      for (size_t i = 0; i < size_t(W) * size_t(H); ++i) {
        largest = std::max(largest, std::abs(r[i]));
        worst = std::max(worst, std::abs(r[i] - double(acc.X[1][size_t(u)][i])));
      }
      EXPECT_LE(worst, 1e-6 * largest) << "u " << u << (triple ? " triple" : " KT");
    }
  }
}

TEST_F(SpeckleAccumulation, PhasorSumsCountFramesInKtAndAddTheRawPhasorsOtherwise) {
  const TShiftVectors v = BuildShiftVectors(3, 3);
  for (const bool kt : {true, false}) {
    TSpeckleAccumulators acc;
    int32_t W = 0, H = 0;
    double cosSum[4] = {}, sinSum[4] = {};
    for (int frame = 0; frame < 5; ++frame) {
      std::vector<float> plane = FrameSpectrum(24, 20, frame, W, H);
      if (frame == 0) acc.Reset(W, H, 1, v.Total);
      for (int u = 1; u <= 3; ++u) {
        const size_t at = size_t(H / 2 + v.Dy[size_t(u)]) * size_t(W) + size_t(v.Dx[size_t(u)]);
        cosSum[u] += plane[at];
        sinSum[u] += plane[at + size_t(W / 2)];
      }
      SpeckleAkkumulation(acc, v, Job(plane), kt, 1);
    }
    for (int u = 1; u <= 3; ++u) {
      EXPECT_EQ(acc.Sums[1].SumCos[size_t(u)], kt ? 5.0 : cosSum[u]) << u;
      EXPECT_EQ(acc.Sums[1].SumSin[size_t(u)], kt ? 0.0 : sinSum[u]) << u;
    }
    EXPECT_EQ(acc.Sums[1].ZeroCount, 1);
  }
}

TEST_F(SpeckleAccumulation, ZeroFrequencyDivisorIsSetOnceAndStaysUsable) {
  // A 4-row plane of width 10 (bins 0..4): F(0) and bins 1..4 of the middle row.
  auto plane = [](float f0, float b1) {
    std::vector<float> p(40, 0.5f);
    float* mid = p.data() + 20;
    mid[0] = f0;
    mid[1] = b1;
    mid[6] = 0;
    mid[2] = 3, mid[7] = 4;  // |F| 5
    mid[3] = mid[4] = 10;
    return p;
  };
  const TShiftVectors v = BuildShiftVectors(1, 1);
  struct TCase {
    float firstF0, firstBin1, secondF0;
    double d;
    float secondAfter;
  };
  for (const TCase c : {TCase{6, 2, 9, 3.0, 3.0f},         // plain: D = 6 / 2
                        {-6, 2, -9, -3.0, 3.0f},           // negative F(0): D negative, set once
                        {6, 0, 9, 1.0, 9.0f},              // m = 0: D would be infinite
                        {0, 2, 9, 1.0, 9.0f}}) {           // F(0) = 0: D would be 0
    TSpeckleAccumulators acc;
    acc.Reset(10, 4, 1, v.Total);
    std::vector<float> a = plane(c.firstF0, c.firstBin1), b = plane(c.secondF0, c.firstBin1);
    SpeckleAkkumulation(acc, v, Job(a), true, 1);
    SpeckleAkkumulation(acc, v, Job(b), true, 1);
    EXPECT_TRUE(acc.Sums[1].DSet);
    EXPECT_DOUBLE_EQ(acc.Sums[1].D, c.d) << c.firstF0 << " " << c.firstBin1;
    EXPECT_EQ(acc.Sums[1].ZeroCount, 1);
    EXPECT_FLOAT_EQ(b[20], c.secondAfter);
    for (float x : acc.X[1][1]) EXPECT_TRUE(std::isfinite(x));
  }
}

TEST_F(SpeckleAccumulation, SameBitsForEveryThreadCountAndPath) {
  const TShiftVectors v = BuildShiftVectors(9, 7);
  int32_t W = 0, H = 0;
  std::vector<std::vector<float>> frames;
  for (int k = 0; k < 3; ++k) frames.push_back(FrameSpectrum(53, 37, k, W, H));
  auto run = [&](int threads, bool vector, bool kt) {
    test::PathAndThreads path(vector, threads > 1);
    TSpeckleAccumulators acc;
    acc.Reset(W, H, 1, v.Total);
    for (const auto& f : frames) {
      std::vector<float> copy = f;
      SpeckleAkkumulation(acc, v, Job(copy), kt, threads);
    }
    return acc;
  };
  for (const bool kt : {false, true}) {
    const TSpeckleAccumulators ref = run(1, false, kt);
    for (auto [threads, vector] : {std::pair{1, true}, {2, false}, {2, true}, {8, true}, {3, false}}) {
      const TSpeckleAccumulators got = run(threads, vector, kt);
      for (int u = 1; u <= v.Total; ++u)
        ASSERT_EQ(0, std::memcmp(got.X[1][size_t(u)].data(), ref.X[1][size_t(u)].data(),
                                 ref.X[1][size_t(u)].size() * sizeof(float)))
            << "u " << u << " threads " << threads << " vector " << vector;
      for (int u = 1; u <= 3; ++u) {
        EXPECT_EQ(got.Sums[1].SumCos[size_t(u)], ref.Sums[1].SumCos[size_t(u)]);
        EXPECT_EQ(got.Sums[1].SumSin[size_t(u)], ref.Sums[1].SumSin[size_t(u)]);
      }
      EXPECT_EQ(got.Sums[1].D, ref.Sums[1].D);
    }
  }
}

TEST_F(SpeckleAccumulation, VectorsBeyondTheSpectrumAddNothing) {
  // A 4 × 4 frame: its spectrum has bins 0..2 and rows 0..3; vector (0, 2)
  // reaches row 4 for its phasor and (2, 0) leaves one bin.
  const TShiftVectors v = BuildShiftVectors(1, 1);
  std::vector<float> plane(6 * 4);
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = float(i % 7) + 1;
  TSpeckleAccumulators acc;
  acc.Reset(6, 4, 1, v.Total);
  SpeckleAkkumulation(acc, v, Job(plane), false, 1);
  for (int u = 1; u <= v.Total; ++u)
    for (float x : acc.X[1][size_t(u)]) EXPECT_TRUE(std::isfinite(x));
  // (0, 2): the phasor from beyond the spectrum is 0, so nothing is added.
  for (float x : acc.X[1][5]) EXPECT_EQ(x, 0.0f);
}

}  // namespace
}  // namespace astrelon
