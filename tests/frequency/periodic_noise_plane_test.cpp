// The interference filter's passes on one spectrum plane against a plain
// serial walk of the same rule (one row after the other, every reference line
// summed sample by sample in runs of equal sideways offset), on one thread and
// on several, on the scalar and the vector path, and as the second of two
// planes: the same bits.
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "frequency/interference/periodic_noise_plane.h"

namespace astrelon::test {
namespace {

// Sum of a run in four double lanes, the rest in the first, as the filter adds.
double LaneSum(const std::vector<double>& v) {
  double lane[4] = {0, 0, 0, 0};
  const size_t whole = v.size() / 4 * 4;
  for (size_t k = 0; k < v.size(); ++k) lane[k < whole ? k % 4 : 0] += v[k];
  return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

// The rule walked serially over a copy that is filtered in place.
std::vector<float> SerialFilter(std::vector<float> d, int32_t W, int32_t H, double k) {
  const int32_t hw = W / 2, hh = H / 2, nr = (hw + hh) / 2;
  auto at = [&](int32_t y, int32_t c) -> float& { return d[size_t(y) * W + size_t(c)]; };
  auto amplitude = [&](int32_t y, int32_t c) {
    const double re = at(y, c), im = at(y, c + hw);
    return std::sqrt(re * re + im * im);
  };
  auto radius = [&](int32_t y, int32_t c) {
    const double i = double(c + 1) / hw, dy = double(hh - y) / hh;
    return std::sqrt(i * i + dy * dy);
  };
  auto ring = [&](double r) { return size_t(std::nearbyint(nr * r * 0.735)); };
  std::vector<double> sum(size_t(nr) + 1), squares(size_t(nr) + 1), mean(size_t(nr) + 1), sd(size_t(nr) + 1);
  std::vector<int32_t> count(size_t(nr) + 1);
  std::vector<float> amp(size_t(hw) * H);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t c = 0; c < hw; ++c) {
      const double a = amplitude(y, c), r = radius(y, c);
      amp[size_t(y) * hw + size_t(c)] = float(a);
      if (!(r > 0.2 && r < 1.35)) continue;
      sum[ring(r)] += a;
      squares[ring(r)] += a * a;
      ++count[ring(r)];
    }
  for (size_t b = 0; b < count.size(); ++b)
    if (count[b] > 0) {
      mean[b] = sum[b] / count[b];
      const double var = squares[b] / count[b] - mean[b] * mean[b];
      sd[b] = var < 0 ? 0.0 : k * std::sqrt(var);
    }
  for (int32_t r = 0; r < H; ++r) {
    const int32_t y = r <= hh ? r : H - r + hh, dy = hh - y, ady = std::abs(dy);
    for (int32_t i = hw; i >= 1; --i) {
      const int32_t c = i - 1;
      const double rad = radius(y, c);
      if (!(rad > 0.2 && rad < 1.35)) continue;
      const size_t b = ring(rad);
      const double f = 0.1 + 0.2 * double(hw + hh) / (ady + i);
      const double limit = mean[b] + f * sd[b], a = amplitude(y, c);
      if (a <= limit) continue;
      // The line: n steps, the sideways share accumulated in integers (times 2 × main).
      const bool steep = i < ady;
      const int32_t n = steep ? std::min(hh - ady - 2, hh / 3) : std::min(hw - i - 1, hw / 3);
      const int32_t main = steep ? ady : i, side = steep ? i : ady;
      double lineSum = 0;
      int32_t reached = 0, offset = 0;
      std::vector<double> run;
      for (int32_t s = 1; s <= n; ++s) {
        // Offset m holds from step floor((2m - 1) main / (2 side)) + 1 on.
        int32_t m = offset;
        while (side > 0 && int64_t(2 * (m + 1) - 1) * main < int64_t(2) * side * s) ++m;
        if (m != offset && !run.empty()) {
          lineSum += LaneSum(run);
          run.clear();
        }
        offset = m;
        const int32_t yy = steep ? (y > hh ? y + s : y - s) : y + (dy > 0 ? m : -m);
        const int32_t cc = steep ? c + m : c + s;
        if (yy < 0 || yy >= H || cc >= hw) break;
        run.push_back(amp[size_t(yy) * hw + size_t(cc)]);
        ++reached;
      }
      if (!run.empty()) lineSum += LaneSum(run);
      double scale = 1;
      if (reached < 1) {
        scale = mean[b] / a;
      } else {
        const double target = f * sd[b] + lineSum / reached;
        if (target <= limit || target < a) scale = target / a;
      }
      at(y, c) = float(at(y, c) * scale);
      at(y, c + hw) = float(at(y, c + hw) * scale);
      amp[size_t(y) * hw + size_t(c)] = float(amplitude(y, c));
    }
  }
  return d;
}

// Noise with strong lines and spots, so that many coefficients are lowered
// and many reference lines meet lowered ones; some coefficients (real and
// imaginary part) times `faint` (a tiny factor gives lines whose sums round).
std::vector<float> Spectrum(int32_t W, int32_t H, unsigned seed, float faint) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::vector<float> d(size_t(W) * H);
  for (float& v : d) v = noise(rng);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x)
      if ((x % 7 == 3 && y % 5 != 0) || (x + 2 * y) % 23 == 0 || rng() % 9 == 0) d[size_t(y) * W + x] *= 30.0f;
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x)
      if ((y * 7 + x % (W / 2)) % 13 == 0) d[size_t(y) * W + x] *= faint;
  return d;
}

TEST(PeriodicNoisePlane, SameBitsAsTheSerialWalkOnAnyThreadCount) {
  // Wide, tall, odd height, two big enough for many tiles of rows and columns,
  // and values so far apart that the line sums round.
  const struct {
    int32_t W, H;
    double k;
    float faint;
  } cases[] = {{130, 96, 2.0, 1},   {66, 200, 0.5, 1},    {200, 67, 1.0, 1}, {514, 400, 2.0, 1},
               {1030, 150, 1.0, 1}, {18, 9, 0.2, 1},      {300, 260, 2.0, 1e-12f}};
  for (const auto& t : cases) {
    const std::vector<float> in = Spectrum(t.W, t.H, unsigned(t.W * 1000 + t.H), t.faint);
    const std::vector<float> expected = SerialFilter(in, t.W, t.H, t.k);
    ASSERT_NE(expected, in) << t.W << "x" << t.H;  // the case lowers something
    for (const auto& [threads, vector] : {std::pair{1, false}, {1, true}, {3, true}, {8, false}}) {
      std::vector<float> got = in;
      FilterPeriodicNoisePlane(got, t.W, t.H, t.k, threads, vector);
      EXPECT_EQ(std::memcmp(got.data(), expected.data(), got.size() * sizeof(float)), 0)
          << t.W << "x" << t.H << " on " << threads << " threads, vector " << vector;
    }
    // Two planes with the buffers kept from the first to the second.
    const std::vector<float> other = Spectrum(t.W, t.H, unsigned(t.W + t.H), t.faint);
    std::vector<float> first = other, second = in;
    float* const planes[2] = {first.data(), second.data()};
    FilterPeriodicNoisePlanes(planes, t.W, t.H, t.k, 3, true);
    const std::vector<float> expectedFirst = SerialFilter(other, t.W, t.H, t.k);
    EXPECT_EQ(std::memcmp(first.data(), expectedFirst.data(), first.size() * sizeof(float)), 0) << t.W << "x" << t.H;
    EXPECT_EQ(std::memcmp(second.data(), expected.data(), second.size() * sizeof(float)), 0) << t.W << "x" << t.H;
  }
}

}  // namespace
}  // namespace astrelon::test
