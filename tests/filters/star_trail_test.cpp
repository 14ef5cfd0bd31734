// Star-trail back-calculation: the smoothing half-width per trail width, the
// steps written out in numpy on a trailed star field, blank rows and the
// pixels outside the rectangle, the same result on every thread count, and
// the abort flag.
#include <cmath>
#include <random>
#include <span>
#include <sstream>

#include <gtest/gtest.h>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "filter_images.h"
#include "filters/corrections/star_trail_back_calculation.h"
#include "filters/dialog/filter_state.h"
#include "scipy_oracle.h"
#include "store/planes/image_statistics.h"
#include "test_support.h"

namespace astrelon {
namespace {

class StarTrail : public test::KernelTest {
protected:
  bool Run(int w, float threshold, TWorkRect rect) {
    test::MakeResult(1, 2);
    TFilterPoll poll;
    return StrichspurZurueckrechnen(1, 2, w, threshold, rect, poll);
  }
  static float Out(int x, int y) { return Store.Image[2].At(1, x, y); }
  static float In(int x, int y) { return Store.Image[1].At(1, x, y); }
};

TEST(StarTrailWindow, HalfWidthPerTrailWidth) {
  const struct {
    int W, K;
  } cases[] = {{1, 0}, {2, 1}, {4, 1}, {5, 1}, {9, 2}, {80, 8}, {121, 10}, {400, 10}, {0, 0}};
  for (const auto& c : cases) EXPECT_EQ(StarTrailHalfWidth(c.W), c.K) << c.W;
}

// Background 100 with noise and point stars; the sharp plane and the trailed one.
struct TTrailField {
  int W = 96, H = 64;
  std::vector<float> Sharp;
  std::vector<std::pair<int, int>> Stars;
};
TTrailField PointStars(unsigned seed) {
  TTrailField f;
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0, 1.0f);
  f.Sharp.assign(size_t(f.W * f.H), 0);
  for (float& v : f.Sharp) v = 100 + noise(rng);
  for (int k = 0; k < 6; ++k) {
    const int x = 20 + 12 * k, y = 10 + 8 * k;
    f.Stars.push_back({x, y});
    f.Sharp[size_t(y * f.W + x)] += 4000;
  }
  return f;
}

// The steps written out in numpy, one plane `a` (NaN where blank), whole
// image, trail width w, noise level n; rows are independent in the sweeps.
const char* const TrailSteps = R"(
def part(a, w, n):
    S = np.where(np.isnan(a), -1e11, a)
    H, W = S.shape
    pmin, pmax = S[S > -1e9].min(), S[S > -1e9].max()
    lo, high, span = pmin - n, pmax - (pmax - pmin) / 80, pmax - pmin + 0.001
    K = min(int(np.sqrt(w) - 0.3), 10)
    G = {0: 1.0} if K == 0 else {u: np.exp(-(u / (K / (0.0732 * K + 1))) ** 2) / np.sqrt(K) for u in range(-K, K + 1)}
    def two_smallest(v, axis):  # mean of the two smallest valid values, the one, or NaN
        v = np.sort(np.where(v > -1e9, v, np.inf), axis=axis)
        v0, v1 = np.take(v, 0, axis), np.take(v, 1, axis) if v.shape[axis] > 1 else np.inf
        return np.where(np.isinf(v0), np.nan, np.where(np.isinf(v1), v0, (v0 + v1) / 2))
    F = np.stack([two_smallest(S[:, x:x + w], 1) for x in range(W)], 1) + n
    num, den = np.zeros((H, W)), np.zeros((H, W))
    for o in range(-K, K + 1):
        sh = np.full((H, W), np.nan)
        sh[max(-o, 0):H - max(o, 0)] = F[max(o, 0):H - max(-o, 0)]
        near = np.abs(sh - F) <= 3 * n
        num += np.where(near, G[o] * sh, 0)
        den += np.where(near, G[o], 0)
    mean = num / np.where(den > 0, den, 1)
    D = np.where(np.isnan(F), -1e11, np.where(S > -1e9, 0.05 * S + 0.95 * mean, mean))
    F = np.stack([two_smallest(D[:, max(i - K, 0):i + K + 1], 1) for i in range(W)], 1)
    F = np.where(np.isnan(F), -1e11, F)
    for j in range(H):
        F[j] = np.nan_to_num(two_smallest(F[max(j - K // 2 - 1, 0):j + K // 2 + 2], 0), nan=-1e11)
    F = np.where(F > -1e9, F, np.nan)
    for t in range(1, 6):
        g = 7 * n / t
        Dv = np.where(D > -1e9, D, np.nan)
        M = np.stack([np.nanmean(Dv[:, max(x - w + 1, 0):x + 1], 1) for x in range(W)], 1)
        E = np.full((H, W), np.nan)
        for x in range(W):
            s, m = S[:, x:x + w], M[:, x:x + w]
            both = (s > -1e9) & ~np.isnan(m)
            hs, ls = both & (s >= high) & (s > m), both & (s < high)
            shi, chi = np.where(hs, s - m, 0).sum(1), hs.sum(1)
            slo, clo = np.where(ls, s - m, 0).sum(1), ls.sum(1)
            E[:, x] = np.where(clo > w // 2, slo / clo, np.where(chi == 0, np.where(clo > 0, slo / clo, np.nan),
                               (0.3 * shi + slo) / (0.3 * chi + clo)))
        base = F * (1 - 0.1 * (t - 1)) + pmin * 0.1 * (t - 1)
        q = D - base
        q = np.where(q < g, np.where(q >= 0, (q / g) ** 2 / (60 * n), q), (q - g / 2) / (30 * n)) + 0.04 * (t - 1)
        q = np.clip(np.where(q > 0, np.sqrt(np.abs(q)), q), 0, 1)
        r = n / np.sqrt(w)
        gain = np.where(E <= 0, E / (E - r), E / (E + r) + E * 3 / span)
        act = (D > lo) & ~np.isnan(E) & ~np.isnan(F)
        D = np.where(act, np.maximum(D + gain * q * E, lo), D)
    return D
import warnings
warnings.simplefilter('ignore')
np.seterr(all='ignore')
)";

// Sky 500 with Gaussian stars of FWHM 2.5 px (peaks 600..4000), away from the edges.
TTrailField GaussianStars(unsigned seed) {
  TTrailField f;
  f.W = 160;
  f.H = 80;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0, 1);
  f.Sharp.assign(size_t(f.W * f.H), 500);
  const float s2 = 2 * (2.5f / 2.3548f) * (2.5f / 2.3548f);
  for (int k = 0; k < 16; ++k) {
    const int x = 16 + (k % 8) * 17, y = 12 + (k / 8) * 40 + int(unit(rng) * 16);
    const float peak = 600 + 3400 * unit(rng), dx = unit(rng) - 0.5f;
    f.Stars.push_back({x, y});
    for (int v = y - 5; v <= y + 5; ++v)
      for (int u = x - 5; u <= x + 5; ++u)
        f.Sharp[size_t(v * f.W + u)] += peak * std::exp(-((u - x - dx) * (u - x - dx) + float((v - y) * (v - y))) / s2);
  }
  return f;
}

// Half-maximum width along row y of a star above the sky of 500, searched in
// columns x - 6 .. x + 14 (a trail extends to the right), and its centroid.
struct TRowProfile {
  double Width = 0, Centre = 0;
};
TRowProfile RowProfile(std::span<const float> plane, int w, int x, int y) {
  std::vector<double> v;
  for (int u = x - 6; u <= x + 14; ++u) v.push_back(std::max(0.0, double(plane[size_t(y * w + u)]) - 500));
  const size_t top = size_t(std::max_element(v.begin(), v.end()) - v.begin());
  const double half = v[top] / 2;
  size_t l = top, r = top;
  while (l > 0 && v[l - 1] >= half) --l;
  while (r + 1 < v.size() && v[r + 1] >= half) ++r;
  const double left = l > 0 ? double(l) - (v[l] - half) / (v[l] - v[l - 1]) : double(l);
  const double right = r + 1 < v.size() ? double(r) + (v[r] - half) / (v[r] - v[r + 1]) : double(r);
  double sum = 0, moment = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    sum += v[i];
    moment += v[i] * double(i);
  }
  return {right - left, x - 6 + moment / sum};
}

// A field trailed as the model has it (each pixel the mean of the sharp row
// over the w pixels ending at it, by scipy's uniform filter) plus noise of 4
// comes out of the build as out of the written-out steps. With w 9 the steps
// narrow the trails from 9.0 to 4.2 px along the row (the sharp stars have
// 2.6, median half-maximum widths), bring them back to their place and keep
// their flux; "Schwelle" 0 and 4 give 4.1 and 3.2 px. Five sweeps go no
// further: each adds at most the residual's back-projection, and a box of 9
// passes its fine detail weakly.
TEST_F(StarTrail, FollowsItsStepsWrittenOutInNumpy) {
  if (!test::HaveScipy()) GTEST_SKIP() << "scipy is not installed";
  const TTrailField f = GaussianStars(3);
  std::mt19937 rng(4);
  std::normal_distribution<float> noise(0, 4);
  for (const auto& [w, threshold] : {std::pair{9, 1.0f}, std::pair{9, 0.0f}, std::pair{9, 4.0f}, std::pair{5, 1.0f}}) {
    std::vector<float> trailed = test::ScipyPlane(
        f.Sharp, f.W, f.H,
        "out = ndimage.uniform_filter1d(a, size=" + std::to_string(w) + ", axis=1, mode='nearest', origin=" +
            std::to_string((w - 1) / 2) + ")");
    ASSERT_EQ(trailed.size(), f.Sharp.size());
    for (float& v : trailed) v += noise(rng);
    test::MakeGrey(1, f.W, f.H, [&](int x, int y) { return trailed[size_t(y * f.W + x)]; });
    ASSERT_TRUE(Run(w, threshold, test::WholeImage(1)));
    const float n = std::max(EstimatePlaneNoise(1, 1) * threshold, 0.001f);
    std::ostringstream call;
    call.precision(9);
    call << TrailSteps << "out = part(a, " << w << ", " << n << ")\n";
    const std::vector<float> ref = test::ScipyPlane(trailed, f.W, f.H, call.str());
    ASSERT_EQ(ref.size(), trailed.size()) << "numpy failed";
    const TPlane& out = Store.Image[2].Planes[1];
    for (size_t i = 0; i < ref.size(); ++i) ASSERT_NEAR(out[i], ref[i], 0.1) << w << " " << threshold << " at " << i;
    if (threshold != 1.0f) continue;
    // The excess width over the sharp star shrinks to a quarter (w 9) or a
    // third (w 5), the stars return to their place, the flux over them stays.
    std::vector<double> offsets;
    double fluxSharp = 0, fluxOut = 0;
    for (const auto& [x, y] : f.Stars) {
      const TRowProfile sharp = RowProfile(f.Sharp, f.W, x, y), before = RowProfile(trailed, f.W, x, y),
                        after = RowProfile(out, f.W, x, y);
      EXPECT_LT(after.Width - sharp.Width, 0.45 * (before.Width - sharp.Width)) << w << " star " << x << "," << y;
      offsets.push_back(std::fabs(after.Centre - sharp.Centre));
      for (int v = y - 3; v <= y + 3; ++v)
        for (int u = x - 6; u <= x + 14; ++u) {
          fluxSharp += f.Sharp[size_t(v * f.W + u)] - 500;
          fluxOut += out[size_t(v * f.W + u)] - 500;
        }
    }
    std::nth_element(offsets.begin(), offsets.begin() + long(offsets.size() / 2), offsets.end());
    EXPECT_LT(offsets[offsets.size() / 2], 0.25) << w;
    EXPECT_NEAR(fluxOut / fluxSharp, 1.0, 0.05) << w;
  }
}

TEST_F(StarTrail, BlankRowsStayAndOutsideTheRectangleNothingChanges) {
  const TTrailField f = PointStars(5);
  test::MakeGrey(1, f.W, f.H, [&](int x, int y) { return y == 30 ? BlankPixel : f.Sharp[size_t(y * f.W + x)]; });
  const TWorkRect rect{10, 70, 5, 50};
  ASSERT_TRUE(Run(7, 1.0f, rect));
  int changed = 0;
  for (int y = 0; y < f.H; ++y)
    for (int x = 0; x < f.W; ++x) {
      const bool inside = x >= rect.x1 && x <= rect.x2 && y >= rect.y1 && y <= rect.y2;
      if (y == 30) EXPECT_FALSE(IsValidPixel(Out(x, y))) << x;
      else if (!inside) EXPECT_EQ(Out(x, y), In(x, y)) << x << "," << y;
      else changed += Out(x, y) != In(x, y);
    }
  EXPECT_GT(changed, 0);
}

TEST_F(StarTrail, SameResultOnOneThreadAndAllCores) {
  const TTrailField f = PointStars(7);
  test::MakeGrey(1, 600, 500, [&](int x, int y) { return f.Sharp[size_t((y % f.H) * f.W + x % f.W)]; });
  TPlane first;
  for (const int multi : {0, 1}) {
    Options.Multicore = multi;
    ASSERT_TRUE(Run(9, 0.5f, test::WholeImage(1)));
    if (first.empty()) first = Store.Image[2].Planes[1];
    else EXPECT_EQ(first, Store.Image[2].Planes[1]);
  }
}

TEST_F(StarTrail, AbortStopsTheRunAndIsReported) {
  const TTrailField f = PointStars(9);
  test::MakeGrey(1, f.W, f.H, [&](int x, int y) { return f.Sharp[size_t(y * f.W + x)]; });
  AbortRequested = 1;
  EXPECT_FALSE(Run(5, 1.0f, test::WholeImage(1)));
  EXPECT_TRUE(FilterAborted);
}

}  // namespace
}  // namespace astrelon
