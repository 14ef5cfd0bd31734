#pragma once
// Synthetic fields for the star-box tests: Gaussian stars, elliptical blobs
// (galaxy cores and halos, glows, nebulae), a gradient and hot pixels on a
// sky with noise, in whole 16-bit levels clipped at a ceiling. On a colour
// mosaic (RGGB) red sites see 0.6 and blue sites 0.4 of the light (other
// gains may be set); a raw frame's sites see their gains of the sky and its
// noise too, as a colour camera's unbalanced sites do.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace astrelon::test {

struct TDrawnStar {
  double X, Y, Peak, Sigma;
};

struct TBlob {
  double X, Y, Peak, SigmaX, SigmaY;
};

struct THotPixel {
  int X, Y;
  double Excess;
};

struct TScene {
  int Width = 64, Height = 64;
  double Sky = 1000, Noise = 10;
  std::vector<TDrawnStar> Stars;
  std::vector<TBlob> Blobs;
  double GradientX = 0, GradientY = 0;  // levels per pixel, zero at the middle
  std::vector<THotPixel> Hot;
  double Ceiling = 65535;
  bool Mosaic = false;
  std::array<double, 4> Gains{0.6, 1.0, 1.0, 0.4};  // red, green, green, blue
  bool RawSites = false;    // the gains apply to the sky and the noise as well
  bool Integrated = false;  // the stars' light integrated over each pixel

  // The light of a star on pixel (x, y): at the pixel's centre, or integrated
  // over its square.
  double StarOn(const TDrawnStar& s, int x, int y) const {
    if (!Integrated) return StarLight(s, x, y);
    const double k = 1 / (std::sqrt(2.0) * s.Sigma);
    const auto across = [k](double d) { return 0.5 * (std::erf((d + 0.5) * k) - std::erf((d - 0.5) * k)); };
    const double norm = 2 * std::numbers::pi * s.Sigma * s.Sigma;
    return s.Peak * norm * across(x - s.X) * across(y - s.Y);
  }

  static double StarLight(const TDrawnStar& s, int x, int y) {
    return s.Peak * std::exp(-((x - s.X) * (x - s.X) + (y - s.Y) * (y - s.Y)) / (2 * s.Sigma * s.Sigma));
  }
  static double BlobLight(const TBlob& b, int x, int y) {
    const double u = (x - b.X) / b.SigmaX, v = (y - b.Y) / b.SigmaY;
    return b.Peak * std::exp(-0.5 * (u * u + v * v));
  }
  double SiteGain(int x, int y) const {
    if (!Mosaic) return 1.0;
    return Gains[size_t((y & 1) * 2 + (x & 1))];
  }
  // The noise-free light above the sky (before the mosaic's gains).
  double Light(int x, int y) const {
    double light = GradientX * (x - Width / 2.0) + GradientY * (y - Height / 2.0);
    for (const TDrawnStar& s : Stars) light += StarOn(s, x, y);
    for (const TBlob& b : Blobs) light += BlobLight(b, x, y);
    for (const THotPixel& h : Hot)
      if (h.X == x && h.Y == y) light += h.Excess;
    return light;
  }
  // Hot pixels and cosmic-ray hits as frames carry them: `count` pixels
  // anywhere with an excess log-uniform from 300 to 30000 levels and, for
  // `touching` a star's index, one of 2000 to 30000 levels on a pixel touching
  // that star's peak pixel (side or corner).
  void AddHits(uint32_t seed, int count, int touching = -1) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(0, 1);
    const auto excess = [&](double lo, double hi) { return lo * std::pow(hi / lo, u(random)); };
    for (int k = 0; k < count; ++k)
      Hot.push_back({int(u(random) * Width) % Width, int(u(random) * Height) % Height, excess(300, 30000)});
    if (touching < 0 || touching >= int(Stars.size())) return;
    const TDrawnStar& s = Stars[size_t(touching)];
    const int side = int(u(random) * 8) % 8;
    const int dx[8] = {1, 1, 0, -1, -1, -1, 0, 1}, dy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
    Hot.push_back({int(std::nearbyint(s.X)) + dx[side], int(std::nearbyint(s.Y)) + dy[side], excess(2000, 30000)});
  }

  std::vector<float> Render(uint32_t seed) const {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, Noise);
    std::vector<float> v(size_t(Width) * size_t(Height));
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) {
        const double gain = SiteGain(x, y), sky = RawSites ? gain * Sky : Sky;
        const double n = RawSites ? std::sqrt(gain) * noise(random) : noise(random);
        v[size_t(y) * size_t(Width) + size_t(x)] =
            float(std::clamp(std::nearbyint(sky + gain * Light(x, y) + n), 0.0, Ceiling));
      }
    return v;
  }
};

}  // namespace astrelon::test
