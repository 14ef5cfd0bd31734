#pragma once
// A one-shot-colour night as the stacking batch gets it: RGGB frames of Moffat
// stars, a faint galaxy, a light-pollution gradient and vignetting, calibrated
// by a perfect flat but keeping what calibration leaves (hot pixels and warm
// columns of the sensor, cosmic-ray tracks, a satellite trail), debayered
// bilinearly. The sky moves between frames by dithers and turns; the measures
// compare a stack with the first (reference) frame and with the truth.
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
  double MinDither = 3, MaxDither = 20;  // pixels, each frame against the first
  double MaxTurn = 0.26;                 // degrees, every second frame
  bool Turned = true;
  uint32_t Seed = 1;
};

struct TNightStar {
  double X, Y, Flux;  // on the first frame's grid; flux in levels
};

struct TNight {
  TNightShape Shape;
  static constexpr double Fwhm = 3.3, Beta = 3;
  static constexpr std::array<double, 3> SkyLevel{700, 1000, 600};
  std::vector<TNightStar> Stars;
  double GalaxyX = 0, GalaxyY = 0;
  struct TFrame {
    double Dx = 0, Dy = 0, Turn = 0;    // the sky's move against the first frame (radians)
    double Cos = 1, Sin = 0;            // of the turn
    std::array<std::vector<float>, 3> Rgb;
    std::vector<uint8_t> Defect;        // pixels the sensor or a hit spoiled (frame grid)
  };
  std::vector<TFrame> Frames;

  double Alpha() const { return Fwhm / (2 * std::sqrt(std::pow(2.0, 1 / Beta) - 1)); }
  // Frame position of a sky position of the first frame: turned about the centre, then moved.
  void ToFrame(const TFrame& f, double X, double Y, double& x, double& y) const {
    const double cx = Shape.W / 2.0, cy = Shape.H / 2.0, c = f.Cos, s = f.Sin;
    x = cx + c * (X - cx) - s * (Y - cy) + f.Dx;
    y = cy + s * (X - cx) + c * (Y - cy) + f.Dy;
  }
  // The galaxy's light above the sky at a position of the first frame's grid.
  double Galaxy(double X, double Y) const {
    const double u = (X - GalaxyX) / 14, v = (Y - GalaxyY) / 7;
    return 0.22 * SkyLevel[1] * std::exp(-std::sqrt(u * u + v * v));
  }
  bool NearGalaxy(double X, double Y) const { return std::hypot((X - GalaxyX) / 2, Y - GalaxyY) < 40; }
  // The gradient of the light pollution on the sensor (1 at the centre).
  double Gradient(double x, double y) const {
    return 1 + 0.12 * (x - Shape.W / 2.0) / Shape.W + 0.08 * (y - Shape.H / 2.0) / Shape.H;
  }

  explicit TNight(const TNightShape& shape) : Shape(shape) {
    const int W = shape.W, H = shape.H;
    std::mt19937 random(shape.Seed);
    std::uniform_real_distribution<double> u(0, 1);
    GalaxyX = 0.6 * W;
    GalaxyY = 0.35 * H;
    // Two bright stars alone, far apart, for the marks; then the field.
    Stars.push_back({0.18 * W + 0.37, 0.27 * H + 0.61, 8e4});
    Stars.push_back({0.83 * W + 0.72, 0.71 * H + 0.19, 6e4});
    const int count = std::max(40, W * H / 1500);
    while (int(Stars.size()) < count) {
      const TNightStar s{u(random) * W, u(random) * H, 3000 * std::pow(130.0, u(random))};
      if (std::hypot(s.X - Stars[0].X, s.Y - Stars[0].Y) > 45 && std::hypot(s.X - Stars[1].X, s.Y - Stars[1].Y) > 45)
        Stars.push_back(s);
    }
    Frames.resize(size_t(shape.Frames));
    for (size_t k = 1; k < Frames.size(); ++k) {
      const double r = shape.MinDither + (shape.MaxDither - shape.MinDither) * u(random), a = 2 * std::numbers::pi * u(random);
      Frames[k].Dx = r * std::cos(a);
      Frames[k].Dy = r * std::sin(a);
      if (shape.Turned && k % 2 == 1) Frames[k].Turn = (2 * u(random) - 1) * shape.MaxTurn * std::numbers::pi / 180;
      Frames[k].Cos = std::cos(Frames[k].Turn);
      Frames[k].Sin = std::sin(Frames[k].Turn);
    }
    // What the sensor keeps through calibration: hot pixels and warm columns.
    std::vector<std::array<double, 3>> hot;
    for (int k = 0; k < W * H / 3000; ++k) hot.push_back({double(int(u(random) * W)), double(int(u(random) * H)), 300 * std::pow(15.0, u(random))});
    const std::array<int, 3> warm{int(0.23 * W), int(0.51 * W) | 1, int(0.82 * W)};
    for (size_t k = 0; k < Frames.size(); ++k) Render(Frames[k], uint32_t(shape.Seed * 977 + k), hot, warm, k == 2);
  }

private:
  void Render(TFrame& f, uint32_t seed, const std::vector<std::array<double, 3>>& hot, const std::array<int, 3>& warm,
              bool trail) {
    const int W = Shape.W, H = Shape.H;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(0, 1);
    std::normal_distribution<double> gauss(0, 1);
    std::vector<double> light(size_t(W) * H);
    // The sky on the sensor: site colour, gradient and the galaxy (site colours
    // after the pattern: R at even rows and columns, B at odd ones).
    const auto site = [](int x, int y) { return (y & 1) == 0 ? ((x & 1) == 0 ? 0 : 1) : ((x & 1) == 0 ? 1 : 2); };
    const double cx = W / 2.0, cy = H / 2.0, c = std::cos(f.Turn), s = std::sin(f.Turn);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        // Back onto the first frame's grid for the galaxy.
        const double X = cx + c * (x - f.Dx - cx) + s * (y - f.Dy - cy), Y = cy - s * (x - f.Dx - cx) + c * (y - f.Dy - cy);
        const int q = site(x, y);
        light[size_t(y) * W + x] = SkyLevel[size_t(q)] * Gradient(x, y) + Galaxy(X, Y) * (q == 0 ? 1.25 : q == 2 ? 0.75 : 1);
      }
    const double alpha = Alpha(), norm = (Beta - 1) / (std::numbers::pi * alpha * alpha);
    for (const TNightStar& star : Stars) {
      double sx, sy;
      ToFrame(f, star.X, star.Y, sx, sy);
      for (int y = std::max(0, int(sy) - 20); y <= std::min(H - 1, int(sy) + 20); ++y)
        for (int x = std::max(0, int(sx) - 20); x <= std::min(W - 1, int(sx) + 20); ++x) {
          const double r2 = ((x - sx) * (x - sx) + (y - sy) * (y - sy)) / (alpha * alpha);
          light[size_t(y) * W + x] += star.Flux * norm * std::pow(1 + r2, -Beta);
        }
    }
    // Photon and read noise through the vignetting, divided by the flat.
    std::vector<float> mosaic(light.size());
    f.Defect.assign(light.size(), 0);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const double r = std::hypot(x - cx, y - cy) / std::hypot(cx, cy), vignetting = 1 - 0.3 * r * r;
        const double e = light[size_t(y) * W + x] * vignetting;
        mosaic[size_t(y) * W + x] = float((e + std::sqrt(e + 25) * gauss(random)) / vignetting);
      }
    const auto spoil = [&](int x, int y, double excess) {
      if (x < 0 || y < 0 || x >= W || y >= H) return;
      mosaic[size_t(y) * W + x] += float(excess);
      f.Defect[size_t(y) * W + x] = 1;
    };
    for (const auto& h : hot) spoil(int(h[0]), int(h[1]), h[2]);
    for (const int column : warm)
      for (int y = 0; y < H; ++y) spoil(column, y, 40);
    // Cosmic-ray tracks and, in one frame, a satellite's trail.
    const auto track = [&](double x0, double y0, double angle, int length, double excess) {
      for (int t = 0; t < length; ++t) spoil(int(x0 + t * std::cos(angle)), int(y0 + t * std::sin(angle)), excess);
    };
    for (int k = 0; k < std::max(3, W * H / 30000); ++k)
      track(u(random) * W, u(random) * H, u(random) * 6.3, 2 + int(u(random) * 12), 800 * std::pow(20.0, u(random)));
    if (trail) track(0, 0.2 * H, 0.3, 2 * W, 300);
    // Bilinear debayer: each plane's missing sites from their neighbours of that colour.
    for (int q = 0; q < 3; ++q) {
      std::vector<float>& out = f.Rgb[size_t(q)];
      out.assign(light.size(), 0);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          double sum = 0, n = 0;
          for (int j = -1; j <= 1; ++j)
            for (int i = -1; i <= 1; ++i) {
              const int xx = x + i, yy = y + j;
              if (xx < 0 || yy < 0 || xx >= W || yy >= H || site(xx, yy) != q) continue;
              // Green: the site itself or its four sides; red, blue: the nearest sites.
              if (q == 1 && i != 0 && j != 0) continue;
              const double w = site(x, y) == q ? (i == 0 && j == 0 ? 1e6 : 0) : 1;
              sum += w * mosaic[size_t(yy) * W + xx];
              n += w;
            }
          out[size_t(y) * W + x] = float(sum / n);
        }
    }
  }
};

// Measures on a plane of the first frame's size.
struct TPlaneMeasure {
  const std::vector<float>& V;
  int W, H;

  float At(int x, int y) const { return V[size_t(y) * W + x]; }
  static double Median(std::vector<double> v) { return MedianOf(v); }
  static double MedianOf(std::vector<double>& v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
    return v[v.size() / 2];
  }
  // The median of the annulus of radii 10 to 16 around (x, y).
  double LocalSky(double x, double y) const {
    thread_local std::vector<double> ring;
    ring.clear();
    for (int j = std::max(0, int(y) - 16); j <= std::min(H - 1, int(y) + 17); ++j)
      for (int i = std::max(0, int(x) - 16); i <= std::min(W - 1, int(x) + 17); ++i) {
        const double d2 = (i - x) * (i - x) + (j - y) * (j - y);
        if (d2 >= 100 && d2 < 256 && At(i, j) > -1e9f) ring.push_back(At(i, j));
      }
    return MedianOf(ring);
  }
  // The light above the local sky within `radius` (at most 8) pixels of (x, y).
  double Flux(double x, double y, double radius = 7) const {
    const double sky = LocalSky(x, y);
    double sum = 0;
    for (int j = int(y) - 8; j <= int(y) + 8; ++j)
      for (int i = int(x) - 8; i <= int(x) + 8; ++i)
        if ((i - x) * (i - x) + (j - y) * (j - y) < radius * radius) sum += At(i, j) - sky;
    return sum;
  }
  // The centre of the light above the local sky, found from (x, y) in five steps.
  void Centre(double& x, double& y) const {
    for (int step = 0; step < 5; ++step) {
      const double sky = LocalSky(x, y);
      double sx = 0, sy = 0, sum = 0;
      for (int j = int(std::nearbyint(y)) - 5; j <= int(std::nearbyint(y)) + 5; ++j)
        for (int i = int(std::nearbyint(x)) - 5; i <= int(std::nearbyint(x)) + 5; ++i) {
          if (std::hypot(i - x, j - y) > 5) continue;
          const double f = At(i, j) - sky;
          sx += f * i;
          sy += f * j;
          sum += f;
        }
      x = sx / sum;
      y = sy / sum;
    }
  }
  // The spread of the light within `radius` pixels above the local sky at
  // places without stars: the standard deviation of the sums within 4 times
  // their median absolute deviation (a hot pixel or a hit does not count).
  double ApertureNoise(const std::vector<std::array<double, 2>>& places, double radius) const {
    std::vector<double> sums, spread;
    for (const auto& p : places) sums.push_back(Flux(p[0], p[1], radius));
    const double m = Median(sums);
    for (double s : sums) spread.push_back(std::fabs(s - m));
    const double limit = 4 * 1.4826 * Median(spread);
    double n = 0, sum = 0, square = 0;
    for (double s : sums)
      if (std::fabs(s - m) <= limit) n += 1, sum += s, square += s * s;
    return std::sqrt(square / n - (sum / n) * (sum / n));
  }
};

}  // namespace astrelon::test
