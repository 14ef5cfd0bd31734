#pragma once
// Scenes for the iterative sharpenings' tests on camera pictures: star fields
// with Gaussian noise, colour planes debayered bilinearly from an RGGB mosaic,
// pictures moved by a bilinear sub-pixel shift, 8-bit pictures saved as JPEG
// (cjpeg) or PNG (ImageMagick) and loaded as the program loads them, a star's
// centre measured independently of the program, and a fixture that calls both
// functions at the dialog's defaults.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <functional>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/funktion_defs.h"
#include "core/settings.h"
#include "../filters/filter_images.h"
#include "filters/dialog/filter_state.h"
#include "filters/sharpening/iterative_gauss_sharpen.h"
#include "filters/sharpening/iterative_psf_sharpen.h"
#include "filters/sharpening/psf/psf_source.h"
#include "filters/sharpening/psf/psf_steepening.h"
#include "shell/stars/star_pick.h"
#include "store/image_loader.h"

namespace astrelon::test {

struct TSceneStar {
  float X = 0, Y = 0, Peak = 0, Sigma = 1;
};

// A w x h plane: sky + Gaussian noise of sigma `noise` + `extra`(x, y) + the
// Gaussian stars, rounded to whole levels when `whole`, within 0..top.
inline std::vector<float> StarPlane(int w, int h, float sky, float noise, const std::vector<TSceneStar>& stars,
                                    float top, unsigned seed, bool whole = true,
                                    const std::function<float(int, int)>& extra = {}) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> n(0, 1);
  std::vector<float> a(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double v = sky + noise * n(rng) + (extra ? extra(x, y) : 0.0f);
      for (const TSceneStar& s : stars) {
        const double d2 = (x - s.X) * (x - s.X) + (y - s.Y) * (y - s.Y);
        if (d2 < 900) v += s.Peak * std::exp(-d2 / (2 * s.Sigma * s.Sigma));
      }
      a[size_t(y) * size_t(w) + size_t(x)] = float(std::clamp(whole ? std::nearbyint(v) : v, 0.0, double(top)));
    }
  return a;
}

// A colour camera's picture: an RGGB mosaic (red at even columns of even
// rows) with Poisson noise over raw skies of 600, 1100 and 700 and the stars,
// debayered bilinearly (each colour the mean of its nearest sites around a
// pixel) and white-balanced by 1.9, 1.0 and 1.6. Neighbouring pixels share
// their red and blue samples, and half their green ones.
inline std::vector<std::vector<float>> DebayeredPicture(int w, int h, const std::vector<TSceneStar>& stars,
                                                        unsigned seed) {
  std::mt19937 rng(seed);
  constexpr float Sky[3] = {600, 1100, 700}, Balance[3] = {1.9f, 1.0f, 1.6f};
  auto site = [](int x, int y) { return y % 2 == 0 ? (x % 2 == 0 ? 0 : 1) : (x % 2 == 0 ? 1 : 2); };
  std::vector<float> raw(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double v = Sky[site(x, y)];
      for (const TSceneStar& s : stars) {
        const double d2 = (x - s.X) * (x - s.X) + (y - s.Y) * (y - s.Y);
        if (d2 < 400) v += s.Peak * std::exp(-d2 / (2 * s.Sigma * s.Sigma));
      }
      std::poisson_distribution<int> p(v);
      raw[size_t(y) * size_t(w) + size_t(x)] = float(std::min(p(rng), 65535));
    }
  std::vector<std::vector<float>> planes(3, std::vector<float>(raw.size()));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        int n = 0, nearest = 9;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int xx = x + dx, yy = y + dy, d = std::abs(dx) + std::abs(dy);
            if (xx < 0 || yy < 0 || xx >= w || yy >= h || site(xx, yy) != c || d > nearest) continue;
            if (d < nearest) {
              nearest = d;
              sum = 0;
              n = 0;
            }
            sum += raw[size_t(yy) * size_t(w) + size_t(xx)];
            ++n;
          }
        planes[size_t(c)][size_t(y) * size_t(w) + size_t(x)] = float(Balance[c] * sum / n);
      }
  return planes;
}

// The plane moved by (-fx, -fy) with bilinear weights (the last row and
// column repeated): neighbouring pixels share their noise.
inline std::vector<float> BilinearShift(const std::vector<float>& a, int w, int h, float fx, float fy) {
  std::vector<float> b(a.size());
  auto at = [&](int x, int y) { return a[size_t(std::min(y, h - 1)) * size_t(w) + size_t(std::min(x, w - 1))]; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b[size_t(y) * size_t(w) + size_t(x)] = (1 - fx) * (1 - fy) * at(x, y) + fx * (1 - fy) * at(x + 1, y) +
                                             (1 - fx) * fy * at(x, y + 1) + fx * fy * at(x + 1, y + 1);
  return b;
}

// One or three planes of values 0..255 (rounded) written as a PGM or PPM
// file, saved by cjpeg at `quality` (or by ImageMagick as PNG when quality is
// 0) and loaded into slot 1. False when a tool or the loading failed.
inline bool LoadEightBit(const std::vector<std::vector<float>>& planes, int w, int h, int quality,
                         const std::string& stem) {
  const bool colour = planes.size() == 3;
  const std::string pnm = stem + (colour ? ".ppm" : ".pgm"), file = stem + (quality > 0 ? ".jpg" : ".png");
  {
    std::ofstream o(pnm, std::ios::binary);
    o << (colour ? "P6\n" : "P5\n") << w << " " << h << "\n255\n";
    for (size_t i = 0; i < size_t(w) * size_t(h); ++i)
      for (const std::vector<float>& p : planes) o.put(char(uint8_t(std::clamp(std::nearbyint(p[i]), 0.0f, 255.0f))));
  }
  const std::string command = quality > 0 ? "cjpeg -quality " + std::to_string(quality) + " " + pnm + " > " + file
                                          : "convert " + pnm + " " + file;
  if (std::system((command + " 2>/dev/null").c_str()) != 0 || !LoadImageFile(1, file)) return false;
  UpdateMinMax(1);
  return true;
}

// Whether each pixel of a w x h plane lies within `reach` (Euclidean) of a
// marked one.
inline std::vector<uint8_t> WithinReach(const std::vector<uint8_t>& marked, int w, int h, float reach) {
  std::vector<uint8_t> near(marked.size(), 0);
  const int r = int(reach);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (!marked[size_t(y * w + x)]) continue;
      for (int j = std::max(0, y - r); j <= std::min(h - 1, y + r); ++j)
        for (int i = std::max(0, x - r); i <= std::min(w - 1, x + r); ++i)
          if (float((i - x) * (i - x) + (j - y) * (j - y)) <= reach * reach) near[size_t(j * w + i)] = 1;
    }
  return near;
}

// The centre of the star near (x0, y0): the sky a plane fitted by least
// squares to the annulus 8..12 px around (x0, y0), the centre the centroid
// of the light above it under a Gaussian window of sigma 2 px moved onto the
// centroid until it settles (a symmetric star's centre is its fixed point).
inline std::pair<double, double> StarCentre(std::span<const float> v, int w, float x0, float y0) {
  double m[3][4] = {};
  const int cx = int(std::lround(x0)), cy = int(std::lround(y0));
  for (int y = cy - 12; y <= cy + 12; ++y)
    for (int x = cx - 12; x <= cx + 12; ++x) {
      const double r = std::hypot(x - x0, y - y0);
      if (r < 8 || r > 12) continue;
      const double f[3] = {1, x - x0, y - y0};
      for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) m[a][b] += f[a] * f[b];
        m[a][3] += f[a] * v[size_t(y) * size_t(w) + size_t(x)];
      }
    }
  // Gaussian elimination of the 3 x 3 normal equations.
  for (int a = 0; a < 3; ++a)
    for (int b = a + 1; b < 3; ++b) {
      const double k = m[b][a] / m[a][a];
      for (int c = a; c < 4; ++c) m[b][c] -= k * m[a][c];
    }
  double sky[3];
  for (int a = 2; a >= 0; --a) {
    double s = m[a][3];
    for (int b = a + 1; b < 3; ++b) s -= m[a][b] * sky[b];
    sky[a] = s / m[a][a];
  }
  double px = x0, py = y0;
  for (int round = 0; round < 400; ++round) {
    double s = 0, sx = 0, sy = 0;
    for (int y = cy - 8; y <= cy + 8; ++y)
      for (int x = cx - 8; x <= cx + 8; ++x) {
        const double light = v[size_t(y) * size_t(w) + size_t(x)] - sky[0] - sky[1] * (x - x0) - sky[2] * (y - y0);
        const double g = std::exp(-((x - px) * (x - px) + (y - py) * (y - py)) / 8) * light;
        s += g;
        sx += g * x;
        sy += g * y;
      }
    const double nx = sx / s, ny = sy / s;
    const bool settled = std::hypot(nx - px, ny - py) < 1e-9;
    px = nx;
    py = ny;
    if (settled) break;
  }
  return {px, py};
}

// Slot 1 the source, slot 2 the destination; both functions at the dialog's
// defaults ("Schwarzschwelle" on), on the whole picture.
class SharpenTest : public KernelTest {
protected:
  void SetUp() override {
    KernelTest::SetUp();
    FunktionDefTable = DefaultFunktionDefTable();
    FilterBlurSlot = FilterWorkSlot = -1;
    InvalidateFilterBlur();
    Options.Multicore = 1;
    SetEngineUi(&ui);
  }
  void TearDown() override {
    ReleaseFilterWorkSlots();
    KernelTest::TearDown();
  }
  TFilterCall Call(int nr, int planes) {
    TFilterCall c;
    c.Funktion = nr;
    c.Source = 1;
    c.Destination = 2;
    c.Rect = WholeImage(1);
    c.Planes = {false, true, planes == 3, planes == 3};
    c.Value = {0, FunktionParamValue(nr, 1), FunktionParamValue(nr, 2), FunktionParamValue(nr, 3)};
    c.Checked = {false, true, false};
    c.Radio = {-1, FunktionDefTable[9].Radiogroup.Default, -1, -1};
    c.Caption = "Test";
    c.Poll = &poll;
    return c;
  }
  // Whether "PSF schärfen" takes the PSF cut from slot 1 at (x, y), on all its
  // planes (only its check runs: the rectangle is too narrow for a pass).
  bool PsfTaken(int x, int y) {
    const TStarCutout psf = PickPsf(x, y);
    PrepareSteepenedPsf(psf);
    MakeResult(1, 2);
    ui.Messages.clear();
    TFilterCall c = Call(9, Store.Image[1].PlaneCount >= 3 ? 3 : 1);
    c.Rect = {0, 1, 0, 1};
    IterativePsfSharpen(c, psf, SteepenedPsf);
    return ui.Messages.empty();
  }
  // The PSF cut and levelled as the program cuts it from the star at (x, y).
  static TStarCutout PickPsf(int x, int y) {
    TStarCutout psf;
    PickStar(1, x, y, 0, psf, TStarMode::Position, true, false);
    SubtractPsfBorderMedian(psf);
    return psf;
  }
  // Function 9 with `psf` (its steepened copy made as the dialog makes it) or
  // function 10 with the Gauss radius of stars of width `sigma`, into slot 2;
  // `keepCores` false for the picture as iterated.
  void Run(int nr, int planes, const TStarCutout& psf, float sigma = 1.6f, bool keepCores = true) {
    MakeResult(1, 2);
    ui.Messages.clear();
    TFilterCall c = Call(nr, planes);
    if (nr == 9) {
      PrepareSteepenedPsf(psf);
      IterativePsfSharpen(c, psf, SteepenedPsf, true, keepCores);
    } else {
      c.Value[1] = std::sqrt(2.0f) * sigma;
      IterativeGaussSharpen(c, {}, true, keepCores);
    }
  }
  TEngineUi ui;
  TFilterPoll poll;
};

}  // namespace astrelon::test
