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

  // What real frames carry at a star beyond single hot pixels, placed at
  // random about the pixel (px, py) (a star's peak pixel): touching it (a
  // pixel of the set within one pixel of it, or over it) or, with `gap` 1 to
  // 4, that many pixels between it and the set's nearest pixel.
  // A cosmic-ray track (2-8 px long, 1 or 2 wide, straight or slightly
  // curved, 500-30000 above the sky), a warm column segment (3-10 px, 300-3000
  // above; with `gap` one or two of them), a clump of 2-5 hot pixels
  // (500-30000), or 1-3 cold pixels (500-5000 below the sky) within two
  // pixels of the peak pixel.
  enum class TDisturbance { Track, Column, Clump, Cold };
  void AddDisturbance(std::mt19937& random, TDisturbance kind, int px, int py, int gap) {
    std::uniform_real_distribution<double> u(0, 1);
    const auto excess = [&](double lo, double hi) { return lo * std::pow(hi / lo, u(random)); };
    if (kind == TDisturbance::Cold) {
      for (int n = 1 + int(u(random) * 3) % 3; n > 0;) {
        const int dx = int(u(random) * 5) % 5 - 2, dy = int(u(random) * 5) % 5 - 2;
        const bool taken = std::any_of(Hot.begin(), Hot.end(), [&](const THotPixel& h) {
          return h.X == px + dx && h.Y == py + dy;
        });
        if ((dx != 0 || dy != 0) && !taken) Hot.push_back({px + dx, py + dy, -excess(500, 5000)}), --n;
      }
      return;
    }
    for (int sets = kind == TDisturbance::Column && gap > 0 && u(random) < 0.5 ? 2 : 1; sets > 0; --sets) {
      // The shape about the origin, each pixel with its excess.
      std::vector<THotPixel> shape;
      const auto add = [&](int x, int y, double e) {
        if (std::none_of(shape.begin(), shape.end(), [&](const THotPixel& h) { return h.X == x && h.Y == y; }))
          shape.push_back({x, y, e});
      };
      if (kind == TDisturbance::Track) {
        const int length = 2 + int(u(random) * 7) % 7, width = u(random) < 0.5 ? 1 : 2;
        const double e = excess(500, 30000), a = 2 * std::numbers::pi * u(random);
        const double bend = u(random) < 0.5 ? 0.0 : (u(random) - 0.5) * 0.3;  // radians a pixel
        double x = 0, y = 0;
        for (int k = 0; k < length; ++k) {
          const double d = a + bend * k, step = 1 / std::max(std::fabs(std::cos(d)), std::fabs(std::sin(d)));
          const int i = int(std::nearbyint(x)), j = int(std::nearbyint(y));
          add(i, j, e * (0.5 + 0.5 * u(random)));
          if (width == 2)
            std::fabs(std::cos(d)) > std::fabs(std::sin(d)) ? add(i, j + 1, e * (0.5 + 0.5 * u(random)))
                                                              : add(i + 1, j, e * (0.5 + 0.5 * u(random)));
          x += step * std::cos(d);
          y += step * std::sin(d);
        }
      } else if (kind == TDisturbance::Column) {
        const double e = excess(300, 3000);
        for (int k = 0, length = 3 + int(u(random) * 8) % 8; k < length; ++k) add(0, k, e * (0.9 + 0.2 * u(random)));
      } else {
        const double e = excess(500, 30000);
        add(0, 0, e);
        for (int n = 1 + int(u(random) * 4) % 4; n > 0; --n) {
          const THotPixel& from = shape[size_t(u(random) * double(shape.size())) % shape.size()];
          const int side = int(u(random) * 4) % 4;
          add(from.X + (side == 0) - (side == 1), from.Y + (side == 2) - (side == 3), e * (0.5 + 0.5 * u(random)));
        }
      }
      // A place where the set's nearest pixel lies as wanted; a column beside
      // the star passes its row.
      for (int tries = 0; tries < 10000; ++tries) {
        const int ox = px + int(u(random) * 21) - 10, oy = py + int(u(random) * 21) - 10;
        int nearest = 1 << 20;
        bool row = false;
        for (const THotPixel& h : shape) {
          nearest = std::min(nearest, std::max(std::abs(ox + h.X - px), std::abs(oy + h.Y - py)));
          row = row || oy + h.Y == py;
        }
        if (gap == 0 ? nearest > 1 : nearest != gap + 1 || (kind == TDisturbance::Column && !row)) continue;
        for (const THotPixel& h : shape) Hot.push_back({ox + h.X, oy + h.Y, h.Excess});
        break;
      }
      gap = gap > 0 ? 1 + int(u(random) * 4) % 4 : 0;
    }
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
