// The automatic division by a flat on frames with a strong sky gradient from
// one side, against a plain transcription of the fit and the division, on
// every path the processor runs.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "../pixelops/slot_images.h"
#include "gradient_sky.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "registration/calibration/flat_division.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/planes/interpolation_kernels.h"
#include "store/raw/mosaic_repair.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

// The fitted parameters: the flat's response g = c1 f² + c0 f + c2 and the gradient amounts.
struct TFit {
  std::array<double, 5> P{1, 0, 0, 0, 0};  // c0, c1, c2, gx, gy
  double Gain(double f) const { return P[1] * f * f + P[0] * f + P[2]; }
};
enum { C0, C1, C2, Gx, Gy };

// The automatic division of the source (slot 1, grey or colour, no mosaic) by
// the flat (slot 3), written out plainly: one result plane per pass, and the
// fit of each pass.
struct TTranscribed {
  std::vector<std::vector<float>> Planes;
  std::vector<TFit> Fits;
};

TTranscribed TranscribedDivision(bool keepLevel) {
  UpdateMinMax(1);
  const TImageSlot& src = Store.Image[1];
  const TImageSlot& fl = Store.Image[3];
  const double mn = src.MinValue, mx = src.MaxValue;
  const double R = 0.02 * (mx - mn);
  const double W = fl.Width, H = fl.Height;
  const bool colour = src.IsColor && src.PlaneCount >= 3;
  const double M = std::max(double(GetPlaneMean(3, GetRgbCode(3))), 0.1);
  const auto& kernel = KernelTables()[IkBicubic];
  TTranscribed out;
  for (int pass = 1; pass <= (colour ? 3 : 1); ++pass) {
    const int sp = colour ? pass : 1;
    const int fp = colour ? (fl.IsColor && fl.PlaneCount >= 3 ? pass : 1) : GetRgbCode(3);
    const double L = std::max(double(GetPlaneMean(3, fp)), 0.1);
    const double D = 0.2 * L;
    const double noise = std::max(double(EstimateNoise(1, sp)), 0.01);
    const int nbins = int(std::min(std::nearbyint((mx - mn) / noise), 8192.0));
    const int s = 2 * (src.Width / 768 + 1);
    // The gradient terms of a pixel.
    auto gradient = [&](const TFit& c, double x, double y) {
      return ((H / 2 - y) * (-R * c.P[Gy] / H)) + ((W / 2 - x) * (-R * c.P[Gx] / W));
    };
    auto peak = [&](const TFit& c) {
      std::vector<int> hist(size_t(nbins), 0);
      for (int y = 0; y < std::min(src.Height, fl.Height); y += s)
        for (int x = 0; x < std::min(src.Width, fl.Width); x += s) {
          const double S = src.At(sp, x, y), F = fl.At(fp, x, y);
          if (!(S > -1e9) || !(F > D)) continue;
          const double g = c.Gain(F / L);
          if (!(g > 0.1)) continue;
          const double value =
              (S / g + gradient(c, x, y)) * nbins * (c.P[C0] + c.P[C1] + c.P[C2]) / (0.01 + (mx - mn));
          if (value > 0 && value < nbins) ++hist[size_t(std::trunc(value))];
        }
      const int b = int(std::max_element(hist.begin(), hist.end()) - hist.begin());
      double best = hist[size_t(b)];
      if (1 < b && b < nbins - 2)
        for (int j = 0; j <= 20; ++j) {
          // The four bins around the position, weighted from the bicubic table.
          const double pos = b - 0.5 + 0.05 * j, f = pos - std::floor(pos);
          const int first = int(std::floor(pos)) - 1;
          const int n = int(std::nearbyint((-1 - f) * 100));
          double v = 0;
          for (int k = 0; k < 4; ++k) v += hist[size_t(first + k)] * double(kernel[size_t(800 + n + 100 * k)]);
          best = std::max(best, v);
        }
      return best;
    };
    // Coordinate search: gx, gy, c0, c1, c2 in turn until the step of c0 is below 0.01.
    TFit c;
    std::array<double, 5> step{0.1, 0.1, 0.1, 1.0, 1.0};
    std::array<bool, 5> firstVisitDone{};
    const std::array<int, 5> order{Gx, Gy, C0, C1, C2};
    double best = peak(c);
    int turn = 0, tries = 0;
    while (std::fabs(step[C0]) >= 0.01 && ++tries < 20000) {
      const int i = order[size_t(turn)];
      const double old = c.P[size_t(i)];
      c.P[size_t(i)] += step[size_t(i)];
      const double v = peak(c);
      if (v > best) {
        best = v;
        if (!firstVisitDone[size_t(i)]) continue;
        step[size_t(i)] /= 2;
      } else {
        c.P[size_t(i)] = old;
        if (step[size_t(i)] > 0) {
          step[size_t(i)] = -step[size_t(i)];
          continue;
        }
        step[size_t(i)] /= 2;
        firstVisitDone[size_t(i)] = true;
      }
      turn = (turn + 1) % 5;
    }
    EXPECT_LT(tries, 20000) << "the search did not end";
    const double k = (c.P[C0] + c.P[C1] + c.P[C2]) / L;
    // The division of every valid pixel inside the flat.
    std::vector<float> result(src.Planes[size_t(sp)].begin(), src.Planes[size_t(sp)].begin() + ptrdiff_t(src.PixelCount()));
    for (int y = 0; y < std::min(src.Height, fl.Height); ++y)
      for (int x = 0; x < std::min(src.Width, fl.Width); ++x) {
        float& v = result[size_t(y) * size_t(src.Width) + size_t(x)];
        if (!(v > -1e9f)) continue;
        const double F = fl.At(fp, x, y), g = c.Gain(F / L);
        v = F <= D || g <= 0.1 ? BlankPixel : float((v / g + gradient(c, x, y)) * (keepLevel ? M : 1) * k);
      }
    out.Planes.push_back(result);
    out.Fits.push_back(c);
  }
  return out;
}

// Vignetting from 1 at the centre to 0.5 in the corners.
double Vignetting(int x, int y, int w, int h) {
  const double r = std::hypot(x - w / 2.0, y - h / 2.0) / std::hypot(w / 2.0, h / 2.0);
  return 1.0 - 0.5 * r * r;
}

// 16-bit levels.
float Level(double v) { return float(std::nearbyint(std::clamp(v, 0.0, 65535.0))); }

// A sky ramp of `rampX` across the width and `rampY` down the height (negative:
// brightest at the left or top) with noise and stars under vignetting, as whole
// 16-bit levels, with a few blank pixels; and a flat of that vignetting with a
// dust shadow that falls below a fifth of its level.
struct TSkyCase {
  double RampX, RampY;
  int Planes;
};

using FlatSkyGradientTest = StoreTest;

TEST_F(FlatSkyGradientTest, AutomaticDivisionIsTheTranscription) {
  const int w = 203, h = 149;  // odd: the vector loops leave tails
  const std::vector<TSkyCase> cases{
      {6000, 0, 1}, {-6000, 0, 1}, {0, 5000, 1}, {0, -5000, 1}, {-4000, 3000, 3},
  };
  struct TPath {
    const char* Name;
    bool Sse2, Avx2;
  };
  std::vector<TPath> paths{{"scalar", false, false}, {"without AVX2", true, false}};
  if (CpuHasAvx2()) paths.push_back({"AVX2", true, true});
  // The switches as they were, also when an assertion ends the test.
  struct TSavedSwitches {
    bool Sse2 = Sse2Enabled, Avx2 = Avx2Enabled;
    ~TSavedSwitches() { Sse2Enabled = Sse2, Avx2Enabled = Avx2; }
  } saved;
  for (size_t n = 0; n < cases.size(); ++n) {
    const TSkyCase& sc = cases[n];
    std::vector<std::vector<float>> light, flat;
    for (int p = 0; p < sc.Planes; ++p) {
      TSkyShape shape;
      shape.W = w;
      shape.H = h;
      shape.RampX = sc.RampX * (1 + 0.2 * p);
      shape.RampY = sc.RampY * (1 - 0.2 * p);
      shape.Bowl = 0;
      shape.Sigma = 12;
      shape.Stars = 40;
      shape.PeakScale = 8;
      shape.Margin = 4;
      shape.Seed = uint32_t(11 + 7 * n + size_t(p));
      const TGradientSky sky = MakeSky(shape);
      // A falling ramp starts that much higher, so that the sky stays above 0.
      const double base = std::max(0.0, -shape.RampX) + std::max(0.0, -shape.RampY);
      std::mt19937 rng(shape.Seed);
      std::normal_distribution<double> noise(0, 40);
      std::vector<float> l(size_t(w * h)), f(size_t(w * h));
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const size_t i = size_t(y * w + x);
          const double v = Vignetting(x, y, w, h);
          l[i] = (x * 5 + y * 3) % 97 == 0 ? BlankPixel : Level((sky.Image[i] + base) * v);
          const double dust = std::hypot(x - 60, y - 100) < 6 ? 0.1 : 1.0;
          f[i] = Level(30000 * (0.8 * v + 0.2) * dust + noise(rng));
        }
      light.push_back(l);
      flat.push_back(f);
    }
    SCOPED_TRACE("case " + std::to_string(n));
    Store.Reset();
    if (sc.Planes == 3) {
      PutImage(1, w, h, {light[0], light[1], light[2]});
      PutImage(3, w, h, {flat[0], flat[1], flat[2]});
    } else {
      PutImage(1, w, h, {light[0]});
      PutImage(3, w, h, {flat[0]});
      ASSERT_LT(DetectMosaicPhase(3), 0);
    }
    const TTranscribed want = TranscribedDivision(true);
    // The fit takes the gradient out: its amounts lie against the ramp's, a
    // whole step or more.
    for (const TFit& c : want.Fits) {
      if (sc.RampX != 0) {
        EXPECT_GE(-c.P[Gx] * (sc.RampX > 0 ? 1 : -1), 1) << "gx " << c.P[Gx];
      }
      if (sc.RampY != 0) {
        EXPECT_GE(-c.P[Gy] * (sc.RampY > 0 ? 1 : -1), 1) << "gy " << c.P[Gy];
      }
    }
    for (const TPath& path : paths) {
      SCOPED_TRACE(path.Name);
      Sse2Enabled = path.Sse2;
      Avx2Enabled = path.Avx2;
      Store.Image[2] = Store.Image[1];
      Store.InUse[2] = 1;
      ASSERT_TRUE(DivideByImage(1, 2, 3, true, true));
      for (int p = 1; p <= sc.Planes; ++p) {
        const std::vector<float>& expected = want.Planes[size_t(p - 1)];
        const std::vector<float> got = Plane(2, p);
        int wrong = 0;
        for (size_t i = 0; i < got.size() && wrong < 5; ++i) {
          const bool same = IsValidPixel(expected[i])
                                ? std::fabs(double(got[i]) - expected[i]) <= 1e-6 * std::fabs(double(expected[i])) + 1e-3
                                : got[i] == expected[i];
          if (!same)
            ADD_FAILURE() << "plane " << p << " at (" << i % size_t(w) << ", " << i / size_t(w) << "): " << got[i]
                          << ", transcription " << expected[i] << (++wrong == 5 ? " (more not shown)" : "");
        }
      }
    }
  }
}

}  // namespace
}  // namespace astrelon::test
