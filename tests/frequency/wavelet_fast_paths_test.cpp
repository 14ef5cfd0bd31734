// The wavelet filter's row routines against straightforward versions of their
// definitions, pixel by pixel: the plain mean (scalar and vector, any split of
// rows), the patch search, the 16-bit copy and the rounding they share.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "frequency/wavelet/wavelet_patch_search.h"
#include "frequency/wavelet/wavelet_plain_mean.h"
#include "frequency/wavelet/wavelet_rounding.h"
#include "frequency/wavelet/wavelet_threshold_curve.h"
#include "store/image_slot.h"

namespace astrelon {
namespace {

// A level of noise around steps, with blank pixels and a few NaNs.
std::vector<float> NoisyLevel(int32_t w, int32_t h, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0, 8);
  std::uniform_int_distribution<int> pick(0, 99);
  std::vector<float> v(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int p = pick(rng);
      v[size_t(y * w + x)] = p < 4 ? BlankPixel : p == 4 ? NAN : ((x / 7 + y / 5) % 2) * 60.0f + noise(rng);
    }
  return v;
}

float PlainReference(const std::vector<float>& v, int32_t w, int32_t x, int32_t y, double t) {
  static constexpr struct {
    int dx, dy;
    double a;
  } Taps[12] = {{-1, 0, 1.0},  {1, 0, 1.0},  {0, -1, 1.0}, {0, 1, 1.0}, {-1, -1, 0.71}, {1, -1, 0.71},
                {-1, 1, 0.71}, {1, 1, 0.71}, {-2, 0, 0.4}, {2, 0, 0.4}, {0, -2, 0.4},   {0, 2, 0.4}};
  const float c0 = v[size_t(y * w + x)];
  if (!IsValidPixel(c0)) return c0;
  double sum = c0, weight = 1;
  for (const auto& tap : Taps) {
    const float n = v[size_t((y + tap.dy) * w + x + tap.dx)];
    if (!IsValidPixel(n)) continue;
    const double wt = tap.a * t / (std::fabs(double(n) - c0) + t);
    sum += wt * n;
    weight += wt;
  }
  return float(sum / weight);
}

// The same bits, NaNs being equal to NaNs.
void ExpectSameBits(const std::vector<float>& a, const std::vector<float>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    ASSERT_EQ(std::bit_cast<uint32_t>(a[i]), std::bit_cast<uint32_t>(b[i])) << i;
  }
}

TEST(WaveletFastPaths, PlainMeanMatchesItsDefinitionInEveryPathAndSplit) {
  // Widths around the four-lane steps; rows in one run and in runs of one and
  // three.
  for (const int32_t w : {5, 6, 7, 8, 9, 13, 37}) {
    const int32_t h = 11;
    const std::vector<float> v = NoisyLevel(w, h, unsigned(w));
    const double t = 3.7;
    std::vector<float> expected(v.size(), -7.0f);
    for (int32_t y = 2; y < h - 2; ++y)
      for (int32_t x = 2; x < w - 2; ++x) expected[size_t(y * w + x)] = PlainReference(v, w, x, y, t);
    for (const bool vector : {false, true})
      for (const int32_t run : {h, 1, 3}) {
        SCOPED_TRACE(testing::Message() << "w " << w << " vector " << vector << " run " << run);
        std::vector<float> out(v.size(), -7.0f);
        for (int32_t y = 2; y < h - 2; y += run) PlainMeanRows(v, w, h, y, std::min(y + run, h - 2), t, out, vector);
        ExpectSameBits(out, expected);
      }
  }
  std::vector<float> v(25), out(25);
  EXPECT_THROW(PlainMeanRows(v, 5, 5, 1, 3, 1.0, out, false), std::invalid_argument);
  EXPECT_THROW(PlainMeanRows(v, 5, 5, 2, 4, 1.0, out, false), std::invalid_argument);
}

// The patch search as first written: a vector list, a fresh look table per
// pixel.
float SearchReference(const TPatchLevel& l, int32_t x, int32_t y) {
  constexpr int Side = PatchOffsetHigh - PatchOffsetLow + 1;
  std::array<bool, Side * Side> looked{};
  struct TEntry {
    int64_t d;
    int dx, dy;
  };
  std::vector<TEntry> list;
  auto at = [&](int32_t px, int32_t py) { return size_t(int64_t(py) * l.Width + px); };
  auto distance = [&](int32_t px, int32_t py) {
    int64_t s = 0;
    for (int j = -1; j <= 1; ++j)
      for (int i = -1; i <= 1; ++i) {
        const int64_t d = int64_t(l.Q[at(x + i, y + j)]) - l.Q[at(px + i, py + j)];
        s += d * d;
      }
    return s >> 3;
  };
  looked[size_t((0 - PatchOffsetLow) * Side - PatchOffsetLow)] = true;
  int64_t bound = int64_t(std::nearbyint(std::min(819.15 / l.K, 9e18)));
  int cx = 0, cy = 0, spent = 0;
  double sumW = 0, sumWV = 0, wmax = 0;
  for (;;) {
    bool lookedNew = false;
    int lastDx = 0, lastDy = 0;
    for (const auto& [sx, sy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}}) {
      if (spent >= PatchCandidateBudget) break;
      const int dx = cx + sx, dy = cy + sy;
      if (dx < PatchOffsetLow || dx > PatchOffsetHigh || dy < PatchOffsetLow || dy > PatchOffsetHigh) continue;
      bool& seen = looked[size_t((dy - PatchOffsetLow) * Side + dx - PatchOffsetLow)];
      if (seen) continue;
      seen = true;
      const int32_t px = x + dx, py = y + dy;
      if (px < 1 || py < 1 || px > l.Width - 2 || py > l.Height - 2) continue;
      ++spent;
      lookedNew = true;
      lastDx = dx;
      lastDy = dy;
      if (!IsValidPixel(l.Values[at(px, py)])) continue;
      const int64_t d = distance(px, py);
      if (d >= bound) continue;
      list.insert(std::upper_bound(list.begin(), list.end(), d, [](int64_t a, const TEntry& b) { return a < b.d; }),
                  {d, dx, dy});
      const int remaining = PatchCandidateBudget - spent;
      if (remaining >= 1 && int(list.size()) > remaining) bound = std::min(bound, list[size_t(remaining - 1)].d);
    }
    if (list.empty()) {
      if (!lookedNew) break;
      list.push_back({4000000000, lastDx, lastDy});
    }
    double last = 0;
    for (bool first = true; !list.empty(); first = false) {
      const TEntry e = list.front();
      const double dk = double(e.d) * l.K;
      if (!first && (!(last > (spent >= PatchCandidateBudget ? 4.499e-5 : 0.5)) || !(dk < 2040))) break;
      list.erase(list.begin());
      cx = e.dx;
      cy = e.dy;
      if (dk > 2040) break;
      const double wt = std::exp(-std::nearbyint(dk) / 81.915);
      sumW += wt;
      sumWV += wt * double(l.Values[at(x + e.dx, y + e.dy)]);
      wmax = std::max(wmax, wt);
      last = wt;
    }
    if (spent >= PatchCandidateBudget) break;
  }
  const float c0 = l.Values[at(x, y)];
  if (!IsValidPixel(c0)) return sumW > 0 ? float(sumWV / sumW) : c0;
  if (!(sumW > 0)) return c0;
  const double centre = wmax < 0.1 ? std::min(1.3 * wmax, 0.1) : wmax;
  return float((sumWV + centre * double(c0)) / (sumW + centre));
}

TEST(WaveletFastPaths, PatchSearchMatchesItsDefinition) {
  const int32_t w = 41, h = 30;
  const std::vector<float> v = NoisyLevel(w, h, 5);
  const std::vector<int16_t> q = QuantiseLevel(v, 300.0, 3);
  // Distance scales from "everything counts" to "only twins count".
  for (const double k : {1e-6, 3e-4, 0.01, 2.0}) {
    SCOPED_TRACE(k);
    const TPatchLevel level{v, q, w, h, k};
    TPatchScratch scratch;
    scratch.Stamp = TPatchScratch::Always - 5;  // the marks wrap within the first row
    std::vector<float> out(v.size(), -7.0f), expected(v.size(), -7.0f);
    for (int32_t y = 2; y < h - 2; ++y) {
      PatchSearchRow(level, y, 2, w - 2, out.data() + y * w, scratch);
      for (int32_t x = 2; x < w - 2; ++x) expected[size_t(y * w + x)] = SearchReference(level, x, y);
    }
    ExpectSameBits(out, expected);
  }
}

TEST(WaveletFastPaths, RoundingAndTheSixteenBitCopyTieToEven) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> any(-1e6, 1e6);
  std::vector<double> xs{0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 32767.5, -32768.5, 2040.49999, 1e15 + 0.5};
  for (int i = 0; i < 1000; ++i) xs.push_back(any(rng));
  for (const double x : xs) EXPECT_EQ(NearestWhole(x), std::nearbyint(x)) << x;
  std::vector<float> v;
  for (const double x : xs) v.push_back(float(x / 4));
  v.push_back(INFINITY);
  v.push_back(NAN);
  const std::vector<int16_t> q = QuantiseLevel(v, 4.0, 3);
  for (size_t i = 0; i < v.size(); ++i) {
    const int16_t expected =
        IsValidPixel(v[i]) ? int16_t(std::clamp(std::nearbyint(double(v[i]) * 4.0), -32768.0, 32767.0)) : PatchBlank;
    EXPECT_EQ(q[i], expected) << v[i];
  }
}

TEST(WaveletFastPaths, ThresholdCurveMatchesItsDefinition) {
  const TThresholdCurve curve = MakeThresholdCurve(1, 2.0, 1.5);
  std::vector<float> v{0.0f, -0.0f, float(curve.Limit), -float(curve.Limit), NAN, INFINITY, -INFINITY, BlankPixel};
  for (int i = -2000; i <= 2000; ++i) v.push_back(float(i) * 0.01f);
  std::vector<float> expected = v;
  for (float& e : expected) {
    auto entry = [&](double m) {
      const double i = std::nearbyint(std::min(m * 500.0 / curve.Scale, double(curve.Table.size() - 1)));
      return curve.Table[size_t(i)];
    };
    const double d = e;
    if (d > 0 && d < curve.Limit)
      e = float(entry(d));
    else if (d <= 0 && d > -curve.Limit)
      e = float(-entry(-d));
  }
  ApplyThresholdCurve(curve, v);
  ExpectSameBits(v, expected);
}

}  // namespace
}  // namespace astrelon
