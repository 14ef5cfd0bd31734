// The phasor loops of the speckle reconstruction: every lane count gives the
// bits of the one-lane twin, the polynomials stay within a few units in the
// last place of the library, and the path weight follows the variance rule.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "frequency/speckle/speckle_phasor_rows.h"
#include "platform/processor_features.h"

namespace astrelon {
namespace {

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Amplitudes of both signs (weights below zero make them negative), zeros,
// phases over [−π, π] and known phasors with unknown (zero) ones among them.
struct TRows {
  std::vector<float> Amp, Beta, TRe, TIm;
  explicit TRows(int n) {
    std::mt19937 g(5);
    std::uniform_real_distribution<float> u(-1, 1);
    // Weights on both sides of the weight test's edges (0, the least float,
    // 1e8, infinities, not a number) among them.
    const float edges[] = {-0.0f, 1e-45f, -1e-45f, 4e8f, -4e8f, HUGE_VALF, -HUGE_VALF, std::nanf("")};
    for (int i = 0; i < n; ++i) {
      Amp.push_back(i % 7 == 0 ? 0.0f : i % 13 == 5 ? edges[(i / 13) % 8] : 3 * u(g));
      Beta.push_back(float(std::numbers::pi) * u(g));
      const float t = 4 * u(g);
      TRe.push_back(i % 5 == 0 ? 0.0f : std::cos(t));
      TIm.push_back(i % 5 == 0 ? 0.0f : std::sin(t));
    }
  }
};

TEST(SpecklePhasorRows, EveryLaneCountGivesTheBitsOfOneLane) {
  DetectCpuFeatures();
  const int n = 203;  // whole vectors and a rest for every lane count
  const TRows rows(n);
  for (const double weight : {0.7, -1.3, 0.0}) {
    const TSpeckleStepConstants k = SpeckleStepConstants(0.4, weight, 0.05);
    std::vector<float> sums1, phasors1, polar1, cart1;
    std::array<double, 16> sum1{}, outer1{};
    for (const TSpeckleLanes lanes : SpeckleLanesAvailable()) {
      std::vector<float> sRe(n, 0.5f), sIm(n, -0.25f), zRe(n), zIm(n);
      SpecklePhasorSums(lanes, n, rows.Amp.data(), rows.Beta.data(), rows.TRe.data(), rows.TIm.data(), sRe.data(),
                        sIm.data(), k);
      SpecklePhasors(lanes, n, rows.Amp.data(), rows.Beta.data(), zRe.data(), zIm.data(), k);
      std::vector<float> re = rows.Amp, im = rows.Beta;
      SpecklePolarToCartesian(lanes, n, re.data(), im.data());
      std::vector<float> pr = rows.TRe, pi = rows.Amp;
      std::array<double, 16> sum{}, outer{};
      SpeckleCartesianToPolar(lanes, n, pr.data(), pi.data(), 61, sum, outer);
      sRe.insert(sRe.end(), sIm.begin(), sIm.end());
      zRe.insert(zRe.end(), zIm.begin(), zIm.end());
      re.insert(re.end(), im.begin(), im.end());
      pr.insert(pr.end(), pi.begin(), pi.end());
      // The same runs through one call: stored phasors and sums, pieces of
      // every length.
      std::vector<float> rRe(n, 0.5f), rIm(n, -0.25f);
      std::vector<TSpecklePhasorRun> runs;
      for (int from = 0, len = 1; from < n; from += len, len = len % 37 + 5)
        runs.push_back({std::min(len, n - from), rows.Amp.data() + from, rows.Beta.data() + from,
                        from % 2 ? nullptr : rows.TRe.data() + from, rows.TIm.data() + from, rRe.data() + from,
                        rIm.data() + from, &k});
      SpecklePhasorRuns(lanes, runs);
      rRe.insert(rRe.end(), rIm.begin(), rIm.end());
      std::vector<float> want(size_t(2 * n));
      for (const TSpecklePhasorRun& r : runs) {
        std::vector<float> re(size_t(r.Count)), im(size_t(r.Count));
        if (r.TRe) {
          re.assign(size_t(r.Count), 0.5f);
          im.assign(size_t(r.Count), -0.25f);
          SpecklePhasorSums(TSpeckleLanes::One, r.Count, r.Amp, r.Beta, r.TRe, r.TIm, re.data(), im.data(), k);
        } else {
          SpecklePhasors(TSpeckleLanes::One, r.Count, r.Amp, r.Beta, re.data(), im.data(), k);
        }
        const size_t at = size_t(r.Amp - rows.Amp.data());
        std::copy(re.begin(), re.end(), want.begin() + ptrdiff_t(at));
        std::copy(im.begin(), im.end(), want.begin() + ptrdiff_t(at) + n);
      }
      EXPECT_TRUE(SameBits(rRe, want)) << int(lanes) << " " << weight;
      if (lanes == TSpeckleLanes::One) {
        sums1 = sRe, phasors1 = zRe, polar1 = re, cart1 = pr, sum1 = sum, outer1 = outer;
        continue;
      }
      EXPECT_TRUE(SameBits(sRe, sums1)) << int(lanes) << " " << weight;
      EXPECT_TRUE(SameBits(zRe, phasors1)) << int(lanes) << " " << weight;
      EXPECT_TRUE(SameBits(re, polar1)) << int(lanes);
      EXPECT_TRUE(SameBits(pr, cart1)) << int(lanes);
      EXPECT_EQ(std::memcmp(sum.data(), sum1.data(), sizeof sum), 0) << int(lanes);
      EXPECT_EQ(std::memcmp(outer.data(), outer1.data(), sizeof outer), 0) << int(lanes);
    }
  }
}

// The noise cut in every lane count is std::max(a − cut, 0) · w bit for bit,
// −0, infinities and not-a-number included, and the rest of the row is only scaled.
TEST(SpecklePhasorRows, NoiseCutIsTheMaximumRuleInEveryLaneCount) {
  DetectCpuFeatures();
  const int n = 203, cutCount = 150;
  const TRows rows(n);
  for (const float cut : {0.25f, 0.0f}) {
    std::vector<float> want = rows.Amp;
    for (int i = 0; i < n; ++i)
      want[size_t(i)] = (i < cutCount ? std::max(want[size_t(i)] - cut, 0.0f) : want[size_t(i)]) * 1.5f;
    for (const TSpeckleLanes lanes : SpeckleLanesAvailable()) {
      std::vector<float> a = rows.Amp;
      SpeckleCutAndWeigh(lanes, n, cutCount, a.data(), cut, 1.5f);
      EXPECT_TRUE(SameBits(a, want)) << int(lanes) << " " << cut;
    }
  }
}

TEST(SpecklePhasorRows, PolynomialsFollowTheLibrary) {
  double worstTrig = 0, worstAngle = 0;
  for (int i = -40000; i <= 40000; ++i) {
    const float x = float(i) * 2.5e-4f;  // −10 .. 10
    float c, s;
    SpeckleCosSin(x, c, s);
    worstTrig = std::max({worstTrig, std::fabs(c - std::cos(double(x))), std::fabs(s - std::sin(double(x)))});
    const float a = std::cos(float(i) * 1.7e-4f) * (i % 3 + 1), b = std::sin(float(i) * 1.1e-4f) * (i % 5 + 0.5f);
    worstAngle = std::max(worstAngle, std::fabs(std::remainder(SpeckleAtan2(b, a) - std::atan2(double(b), double(a)),
                                                               2 * std::numbers::pi)));
  }
  EXPECT_LT(worstTrig, 2.5e-7);
  EXPECT_LT(worstAngle, 5e-7);
  // The axes and the signed zeros as atan2 has them.
  for (const float y : {0.0f, -0.0f, 2.0f, -2.0f})
    for (const float x : {0.0f, -0.0f, 3.0f, -3.0f}) {
      const float want = std::atan2(y, x), got = SpeckleAtan2(y, x);
      EXPECT_NEAR(got, want, 3e-7) << y << " " << x;
      EXPECT_EQ(std::signbit(got), std::signbit(want)) << y << " " << x;
    }
}

// The weight 1 / (c / s), s = amplitude + ε: 1e8 where c / s <= 1e-8 or is
// negative, 0 where c > 0 and s = 0.
TEST(SpecklePhasorRows, PathWeightFollowsTheVariance) {
  struct TCase {
    double c;
    float amp, weight;
  };
  for (const TCase t : {TCase{2.0, 3.0f, 1.75f}, {2.0, -0.5f, 0.0f}, {2.0, 4e8f, 1e8f}, {-2.0, 3.0f, 1e8f},
                        {-2.0, -4.5f, 2.0f}, {-2.0, -0.5f, 1e8f}, {0.0, 3.0f, 1e8f}, {2.0, std::nanf(""), 1e8f},
                        {2.0, HUGE_VALF, 1e8f}, {-2.0, -HUGE_VALF, 1e8f}}) {
    float zRe, zIm;
    SpecklePhasor(t.amp, 0.0f, SpeckleStepConstants(0.0, t.c, 0.5), zRe, zIm);
    EXPECT_FLOAT_EQ(zRe, t.weight) << t.c << " " << t.amp;
    EXPECT_EQ(zIm, 0.0f);
  }
}

}  // namespace
}  // namespace astrelon
