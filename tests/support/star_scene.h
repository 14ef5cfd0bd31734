#pragma once
// Synthetic fields for the star-box tests: Gaussian stars, elliptical blobs
// (galaxy cores and halos, glows, nebulae), a gradient and hot pixels on a
// sky with noise, in whole 16-bit levels clipped at a ceiling. On a colour
// mosaic (RGGB) red sites see 0.6 and blue sites 0.4 of the light.
#include <algorithm>
#include <cmath>
#include <cstdint>
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

  static double StarLight(const TDrawnStar& s, int x, int y) {
    return s.Peak * std::exp(-((x - s.X) * (x - s.X) + (y - s.Y) * (y - s.Y)) / (2 * s.Sigma * s.Sigma));
  }
  static double BlobLight(const TBlob& b, int x, int y) {
    const double u = (x - b.X) / b.SigmaX, v = (y - b.Y) / b.SigmaY;
    return b.Peak * std::exp(-0.5 * (u * u + v * v));
  }
  double SiteGain(int x, int y) const {
    if (!Mosaic) return 1.0;
    const int site = (y & 1) * 2 + (x & 1);
    return site == 0 ? 0.6 : site == 3 ? 0.4 : 1.0;
  }
  // The noise-free light above the sky (before the mosaic's gains).
  double Light(int x, int y) const {
    double light = GradientX * (x - Width / 2.0) + GradientY * (y - Height / 2.0);
    for (const TDrawnStar& s : Stars) light += StarLight(s, x, y);
    for (const TBlob& b : Blobs) light += BlobLight(b, x, y);
    for (const THotPixel& h : Hot)
      if (h.X == x && h.Y == y) light += h.Excess;
    return light;
  }
  std::vector<float> Render(uint32_t seed) const {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, Noise);
    std::vector<float> v(size_t(Width) * size_t(Height));
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x)
        v[size_t(y) * size_t(Width) + size_t(x)] =
            float(std::clamp(std::nearbyint(Sky + SiteGain(x, y) * Light(x, y) + noise(random)), 0.0, Ceiling));
    return v;
  }
};

}  // namespace astrelon::test
