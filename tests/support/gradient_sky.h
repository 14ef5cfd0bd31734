#pragma once
// A synthetic sky for the flattening tests: a linear gradient and a darkening
// vignetting bowl under noise and Gaussian stars, with the measures the tests
// apply to a flattened result (the gradient left, the stars' flux kept).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace astrelon::test {

struct TGradientSky {
  int W = 0, H = 0;
  std::vector<float> Image;       // background + stars + noise
  std::vector<float> Background;  // gradient and bowl alone
  struct TStar {
    int X = 0, Y = 0;
    double Flux = 0;  // the star's own flux within StarAperture
  };
  std::vector<TStar> Stars;
  static constexpr int StarAperture = 6;
};

// A sky of w x h: 1000 + a ramp of RampX across the width and RampY down the
// height, minus a bowl Bowl deep in the corners (Bowl * (r / r_corner)^BowlPower),
// noise of Sigma and Stars Gaussian stars of StarSigma pixels with peaks of
// PeakScale * 300..3000, at least Margin pixels inside the edges (0: anywhere,
// the border rows too).
struct TSkyShape {
  int W = 900, H = 600;
  double RampX = 400, RampY = 200, Bowl = 300, BowlPower = 2, Sigma = 10;
  int Stars = 120, Margin = 16;
  double PeakScale = 1, StarSigma = 1.5;
  uint32_t Seed = 7;
};

inline TGradientSky MakeSky(const TSkyShape& c) {
  const int w = c.W, h = c.H;
  TGradientSky s;
  s.W = w;
  s.H = h;
  s.Background.resize(size_t(w) * size_t(h));
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, r2 = cx * cx + cy * cy;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double dx = x - cx, dy = y - cy;
      const double bowl = c.BowlPower == 2 ? c.Bowl * (dx * dx + dy * dy) / r2
                                           : c.Bowl * std::pow((dx * dx + dy * dy) / r2, c.BowlPower / 2);
      s.Background[size_t(y) * size_t(w) + size_t(x)] =
          float(1000 + c.RampX * x / (w - 1) + c.RampY * y / (h - 1) - bowl);
    }
  std::mt19937 rng(c.Seed);
  std::normal_distribution<double> noise(0, c.Sigma);
  std::uniform_real_distribution<double> unit(0, 1);
  s.Image.resize(s.Background.size());
  for (size_t i = 0; i < s.Image.size(); ++i) s.Image[i] = float(s.Background[i] + noise(rng));
  std::vector<double> star(s.Image.size(), 0.0);
  const int reach = std::max(8, int(std::ceil(4 * c.StarSigma)));
  const double spread = 2 * c.StarSigma * c.StarSigma;
  for (int k = 0; k < c.Stars; ++k) {
    const int sx = c.Margin + int(unit(rng) * (w - 2 * c.Margin)), sy = c.Margin + int(unit(rng) * (h - 2 * c.Margin));
    const double peak = c.PeakScale * (300 + 2700 * unit(rng));
    for (int y = std::max(sy - reach, 0); y <= std::min(sy + reach, h - 1); ++y)
      for (int x = std::max(sx - reach, 0); x <= std::min(sx + reach, w - 1); ++x)
        star[size_t(y) * size_t(w) + size_t(x)] += peak * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / spread);
    s.Stars.push_back({sx, sy, 0});
  }
  for (size_t i = 0; i < s.Image.size(); ++i) s.Image[i] = float(s.Image[i] + star[i]);
  const int a = TGradientSky::StarAperture;
  for (auto& st : s.Stars)
    for (int y = std::max(st.Y - a, 0); y <= std::min(st.Y + a, h - 1); ++y)
      for (int x = std::max(st.X - a, 0); x <= std::min(st.X + a, w - 1); ++x)
        if ((x - st.X) * (x - st.X) + (y - st.Y) * (y - st.Y) <= a * a) st.Flux += star[size_t(y) * size_t(w) + size_t(x)];
  return s;
}

// w x h: 1000 + a ramp of `ramp` across the width and ramp / 2 down the height,
// a bowl `bowl` deep in the corners, noise of `sigma` and `stars` stars of
// sigma 1.5 pixels with peaks of 300..3000, at least 16 pixels inside the edges.
inline TGradientSky MakeGradientSky(int w, int h, double ramp = 400, double bowl = 300, double sigma = 10,
                                    int stars = 120, uint32_t seed = 7) {
  TSkyShape c;
  c.W = w;
  c.H = h;
  c.RampX = ramp;
  c.RampY = ramp / 2;
  c.Bowl = bowl;
  c.Sigma = sigma;
  c.Stars = stars;
  c.Seed = seed;
  return MakeSky(c);
}

// The medians of blocks of `block` x `block` pixels (the last ones cut at the edges).
inline std::vector<float> BlockMedians(const std::vector<float>& v, int w, int h, int block) {
  std::vector<float> out, values;
  for (int by = 0; by < h; by += block)
    for (int bx = 0; bx < w; bx += block) {
      values.clear();
      for (int y = by; y < std::min(by + block, h); ++y)
        for (int x = bx; x < std::min(bx + block, w); ++x)
          if (v[size_t(y) * size_t(w) + size_t(x)] > -1e9f) values.push_back(v[size_t(y) * size_t(w) + size_t(x)]);
      if (values.empty()) continue;
      std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
      out.push_back(values[values.size() / 2]);
    }
  return out;
}

inline double PeakToPeak(const std::vector<float>& v) {
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  return double(*hi) - double(*lo);
}

// The background variation left in a flattened result, as a share of the
// sky's own: peak-to-peak of 25 x 25 block medians over the whole image.
inline double GradientLeft(const TGradientSky& s, const std::vector<float>& result) {
  return PeakToPeak(BlockMedians(result, s.W, s.H, 25)) / PeakToPeak(BlockMedians(s.Background, s.W, s.H, 25));
}

// The same over the blocks of the frame `band` pixels wide along the edges
// (frame true) or over the blocks inside it (frame false); `band` a multiple of 25.
inline double GradientLeftIn(const TGradientSky& s, const std::vector<float>& result, int band, bool frame) {
  const std::vector<float> all = BlockMedians(result, s.W, s.H, 25);
  const int columns = (s.W + 24) / 25, rows = (s.H + 24) / 25, b = band / 25;
  std::vector<float> kept;
  for (int by = 0; by < rows; ++by)
    for (int bx = 0; bx < columns; ++bx) {
      const bool inFrame = bx < b || by < b || bx >= columns - b || by >= rows - b;
      if (inFrame == frame) kept.push_back(all[size_t(by) * size_t(columns) + size_t(bx)]);
    }
  return PeakToPeak(kept) / PeakToPeak(BlockMedians(s.Background, s.W, s.H, 25));
}

// The stars' flux in a result (aperture sum above the median of the ring 9..13
// pixels out) as a share of their own, summed over all stars.
inline double FluxKept(const TGradientSky& s, const std::vector<float>& result) {
  double kept = 0, own = 0;
  std::vector<float> ring;
  const int a = TGradientSky::StarAperture;
  for (const auto& st : s.Stars) {
    ring.clear();
    double sum = 0;
    int n = 0;
    for (int y = st.Y - 13; y <= st.Y + 13; ++y)
      for (int x = st.X - 13; x <= st.X + 13; ++x) {
        if (x < 0 || y < 0 || x >= s.W || y >= s.H) continue;
        const int d2 = (x - st.X) * (x - st.X) + (y - st.Y) * (y - st.Y);
        const float v = result[size_t(y) * size_t(s.W) + size_t(x)];
        if (d2 <= a * a) {
          sum += v;
          ++n;
        } else if (d2 >= 81 && d2 <= 169) {
          ring.push_back(v);
        }
      }
    std::nth_element(ring.begin(), ring.begin() + ring.size() / 2, ring.end());
    kept += sum - n * double(ring[ring.size() / 2]);
    own += st.Flux;
  }
  return kept / own;
}

}  // namespace astrelon::test
