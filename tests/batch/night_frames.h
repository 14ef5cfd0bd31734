#pragma once
// A one-shot-colour night as the stacking batch gets it: RGGB frames of Moffat
// stars on a light-pollution gradient with vignetting (divided by a perfect
// flat) and what calibration leaves (the sensor's hot pixels and warm columns,
// cosmic-ray tracks, a satellite trail), debayered bilinearly. The sky moves
// between frames by dithers and, in every second frame, a turn.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace astrelon::test {

struct TNightShape {
  int W = 400, H = 300, Frames = 12;
  double MinDither = 3, MaxDither = 20, MaxTurn = 0.26;  // pixels, degrees
  bool Turned = true;
  uint32_t Seed = 1;
};

struct TNight {
  struct TStar {
    double X, Y, Flux;  // on the first frame's grid
  };
  struct TFrame {
    double Dx = 0, Dy = 0, Cos = 1, Sin = 0;  // the sky's move and turn against the first frame
    std::array<std::vector<float>, 3> Rgb;
    std::vector<uint8_t> Defect;  // pixels a defect or hit spoilt
  };
  static constexpr double Alpha = 3.237, Beta = 3;  // FWHM 3.3 pixels
  static constexpr std::array<double, 3> Sky{700, 1000, 600};
  TNightShape Shape;
  std::vector<TStar> Stars;  // the first two stand alone, far apart, for the marks
  std::vector<TFrame> Frames;

  // The frame position of a position on the first frame's grid.
  void ToFrame(const TFrame& f, double X, double Y, double& x, double& y) const {
    const double cx = Shape.W / 2.0, cy = Shape.H / 2.0;
    x = cx + f.Cos * (X - cx) - f.Sin * (Y - cy) + f.Dx;
    y = cy + f.Sin * (X - cx) + f.Cos * (Y - cy) + f.Dy;
  }

  explicit TNight(const TNightShape& shape) : Shape(shape) {
    const int W = shape.W, H = shape.H;
    std::mt19937 random(shape.Seed);
    std::uniform_real_distribution<double> u(0, 1);
    Stars = {{0.18 * W + 0.37, 0.27 * H + 0.61, 8e4}, {0.83 * W + 0.72, 0.71 * H + 0.19, 6e4}};
    while (int(Stars.size()) < std::max(40, W * H / 1500)) {
      const TStar s{u(random) * W, u(random) * H, 3000 * std::pow(130.0, u(random))};
      if (std::hypot(s.X - Stars[0].X, s.Y - Stars[0].Y) > 45 && std::hypot(s.X - Stars[1].X, s.Y - Stars[1].Y) > 45)
        Stars.push_back(s);
    }
    Frames.resize(size_t(shape.Frames));
    for (size_t k = 1; k < Frames.size(); ++k) {
      const double r = shape.MinDither + (shape.MaxDither - shape.MinDither) * u(random),
                   a = 2 * std::numbers::pi * u(random);
      const double turn = shape.Turned && k % 2 == 1 ? (2 * u(random) - 1) * shape.MaxTurn * std::numbers::pi / 180 : 0;
      Frames[k] = {r * std::cos(a), r * std::sin(a), std::cos(turn), std::sin(turn), {}, {}};
    }
    // Random dithers repeat now and then: three frames all but alike.
    for (const size_t k : {7, 11})
      if (k < Frames.size())
        Frames[k] = {Frames[3].Dx + 0.4, Frames[3].Dy - 0.3 * double(k % 3), Frames[3].Cos, Frames[3].Sin, {}, {}};
    std::vector<std::array<double, 3>> hot;
    for (int k = 0; k < W * H / 3000; ++k)
      hot.push_back({u(random) * W, u(random) * H, 300 * std::pow(15.0, u(random))});
    for (size_t k = 0; k < Frames.size(); ++k) Render(Frames[k], uint32_t(shape.Seed * 977 + k), hot, k == 2);
  }

 private:
  static int Site(int x, int y) { return (x & 1) + (y & 1); }  // R G / G B

  void Render(TFrame& f, uint32_t seed, const std::vector<std::array<double, 3>>& hot, bool trail) {
    const int W = Shape.W, H = Shape.H;
    const double cx = W / 2.0, cy = H / 2.0, norm = (Beta - 1) / (std::numbers::pi * Alpha * Alpha);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(0, 1);
    std::normal_distribution<double> gauss(0, 1);
    std::vector<double> light(size_t(W) * H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        light[size_t(y) * W + x] = Sky[size_t(Site(x, y))] * (1 + 0.12 * (x - cx) / W + 0.08 * (y - cy) / H);
    for (const TStar& star : Stars) {
      double sx, sy;
      ToFrame(f, star.X, star.Y, sx, sy);
      for (int y = std::max(0, int(sy) - 20); y <= std::min(H - 1, int(sy) + 20); ++y)
        for (int x = std::max(0, int(sx) - 20); x <= std::min(W - 1, int(sx) + 20); ++x)
          light[size_t(y) * W + x] +=
              star.Flux * norm * std::pow(1 + ((x - sx) * (x - sx) + (y - sy) * (y - sy)) / (Alpha * Alpha), -Beta);
    }
    // Photon and read noise through the vignetting, divided by the flat.
    std::vector<float> mosaic(light.size());
    f.Defect.assign(light.size(), 0);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const double v = 1 - 0.3 * ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (cx * cx + cy * cy);
        const double e = light[size_t(y) * W + x] * v;
        mosaic[size_t(y) * W + x] = float((e + std::sqrt(e + 25) * gauss(random)) / v);
      }
    const auto spoil = [&](double x, double y, double excess) {
      if (x < 0 || y < 0 || x >= W || y >= H) return;
      mosaic[size_t(y) * W + size_t(x)] += float(excess);
      f.Defect[size_t(y) * W + size_t(x)] = 1;
    };
    for (const auto& h : hot) spoil(h[0], h[1], h[2]);
    for (const double column : {0.23 * W, 0.51 * W, 0.82 * W})
      for (int y = 0; y < H; ++y) spoil(column, y, 40);
    // Cosmic-ray tracks and, in one frame, a satellite's trail.
    const auto track = [&](double x, double y, double angle, int length, double excess) {
      for (int t = 0; t < length; ++t) spoil(x + t * std::cos(angle), y + t * std::sin(angle), excess);
    };
    for (int k = 0; k < std::max(3, W * H / 30000); ++k)
      track(u(random) * W, u(random) * H, u(random) * 6.3, 2 + int(u(random) * 12), 800 * std::pow(20.0, u(random)));
    if (trail) track(0, 0.2 * H, 0.3, 2 * W, 300);
    // Bilinear debayer: a site keeps its value, the others take the mean of
    // the sites of the colour among their eight neighbours.
    for (int q = 0; q < 3; ++q) {
      f.Rgb[size_t(q)].assign(light.size(), 0);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          double sum = 0, n = 0;
          for (int j = std::max(-1, -y); j <= std::min(1, H - 1 - y); ++j)
            for (int i = std::max(-1, -x); i <= std::min(1, W - 1 - x); ++i)
              if (Site(x + i, y + j) == q && (Site(x, y) != q || (i == 0 && j == 0)))
                sum += mosaic[size_t(y + j) * W + size_t(x + i)], n += 1;
          f.Rgb[size_t(q)][size_t(y) * W + x] = float(sum / n);
        }
    }
  }
};

// Measures on a plane of the first frame's size.
struct TPlaneMeasure {
  const std::vector<float>& V;
  int W, H;

  static double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
  }
  float At(int x, int y) const { return V[size_t(y) * W + x]; }
  // The median of the annulus of radii 10 to 16 around (x, y).
  double LocalSky(double x, double y) const {
    std::vector<double> ring;
    for (int j = std::max(0, int(y) - 16); j <= std::min(H - 1, int(y) + 17); ++j)
      for (int i = std::max(0, int(x) - 16); i <= std::min(W - 1, int(x) + 17); ++i) {
        const double d2 = (i - x) * (i - x) + (j - y) * (j - y);
        if (d2 >= 100 && d2 < 256) ring.push_back(At(i, j));
      }
    return Median(std::move(ring));
  }
  // The light above the local sky within `radius` (at most 8) pixels of (x, y).
  double Flux(double x, double y, double radius) const {
    const double sky = LocalSky(x, y);
    double sum = 0;
    for (int j = int(y) - 8; j <= int(y) + 8; ++j)
      for (int i = int(x) - 8; i <= int(x) + 8; ++i)
        if ((i - x) * (i - x) + (j - y) * (j - y) < radius * radius) sum += At(i, j) - sky;
    return sum;
  }
  // The centre of the light above the local sky within 5 pixels, from (x, y) in four steps.
  void Centre(double& x, double& y) const {
    for (int step = 0; step < 4; ++step) {
      const double sky = LocalSky(x, y), x0 = x, y0 = y;
      double sum = x = y = 0;
      for (int j = int(y0) - 6; j <= int(y0) + 6; ++j)
        for (int i = int(x0) - 6; i <= int(x0) + 6; ++i)
          if ((i - x0) * (i - x0) + (j - y0) * (j - y0) <= 25)
            x += (At(i, j) - sky) * i, y += (At(i, j) - sky) * j, sum += At(i, j) - sky;
      x /= sum, y /= sum;
    }
  }
  // The spread of Flux(radius 4) at places without stars: the standard
  // deviation of the sums within 4 times their median absolute deviation.
  double ApertureNoise(const std::vector<std::array<double, 2>>& places) const {
    std::vector<double> sums, spread;
    for (const auto& p : places) sums.push_back(Flux(p[0], p[1], 4));
    const double m = Median(sums);
    for (double s : sums) spread.push_back(std::fabs(s - m));
    double n = 0, sum = 0, limit = 4 * 1.4826 * Median(spread);
    for (double s : sums) std::fabs(s - m) <= limit ? n += 1, sum += (s - m) * (s - m) : 0;
    return std::sqrt(sum / n);
  }
};

}  // namespace astrelon::test
