#include "filters/sharpening/psf/psf_star_check.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "store/image_slot.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

constexpr int Centre = 15, Last = StarCutoutSize - 1;
// The outer columns and rows the gradient comes from, and the smoothed frame.
constexpr int Strip = 4, Frame = 5;
constexpr int MiddleFrom = 8, MiddleTo = 23;
// A curved sky stands for the frame's level (or a surface of the fourth
// degree for one of the second) where its residuals are at most this part of
// the other's: on noise alone a fit of up to fifteen terms to the frame's four
// hundred values takes a few percent of their spread, structure across the
// cutout (a nebula, a galaxy) far more.
constexpr double CurvedSkyFit = 0.35;
// A curved sky is fitted to the smoothed values at least this far from index
// 15 either way (beyond the light of stars up to 2.5 px wide), so that it
// holds the sky close around the star.
constexpr int CurvedFrom = 8;

// The root mean square of the values about `level`, three rounds clipped at
// three times the one before (0 for none).
double ClippedRms(const std::vector<double>& values, double level) {
  double rms = HUGE_VAL;
  for (int round = 0; round < 4; ++round) {
    double sum = 0;
    size_t n = 0;
    for (double v : values)
      if (std::fabs(v - level) <= 3 * rms) {
        sum += (v - level) * (v - level);
        ++n;
      }
    if (n == 0) break;
    rms = std::sqrt(sum / double(n));
  }
  return std::isfinite(rms) ? rms : 0.0;
}

// The terms of a surface up to the fourth degree: 1, x, y, x², xy, y², x³, ...
constexpr int SurfaceTerms = 15;
std::array<double, SurfaceTerms> SurfaceBasis(double x, double y) {
  std::array<double, SurfaceTerms> f{};
  size_t k = 0;
  const std::array<double, 5> px{1, x, x * x, x * x * x, x * x * x * x}, py{1, y, y * y, y * y * y, y * y * y * y};
  for (size_t degree = 0; degree <= 4; ++degree)
    for (size_t i = 0; i <= degree; ++i) f[k++] = px[degree - i] * py[i];
  return f;
}

// A surface of the first `Terms` terms, and the root mean square of the
// residuals it was fitted to.
struct TSkySurface {
  std::array<double, SurfaceTerms> C{};
  int Terms = 1;
  double Rms = 0;
  double At(double x, double y) const { return At(SurfaceBasis(x, y)); }
  double At(const std::array<double, SurfaceTerms>& f) const {
    double v = 0;
    for (int k = 0; k < Terms; ++k) v += C[size_t(k)] * f[size_t(k)];
    return v;
  }
};

// A smoothed value of the frame at (X, Y) (offsets from index 15 in units
// of 15 pixels, so that the fit's terms stay of one size), with its terms.
struct TSkySample {
  double X = 0, Y = 0, V = 0;
  std::array<double, SurfaceTerms> F{};
  TSkySample(double x, double y, double v) : X(x), Y(y), V(v), F(SurfaceBasis(x, y)) {}
};

// The least-squares coefficients of the first `terms` terms over the samples
// that `use` keeps; false when the normal equations are singular.
template <class Use>
bool SolveSurface(const std::vector<TSkySample>& s, int terms, Use use, TSkySurface& out) {
  constexpr size_t R = SurfaceTerms;  // the right-hand side's column
  std::array<std::array<double, SurfaceTerms + 1>, SurfaceTerms> a{};
  for (const TSkySample& p : s) {
    if (!use(p)) continue;
    const std::array<double, SurfaceTerms>& f = p.F;
    for (int i = 0; i < terms; ++i) {
      for (int j = 0; j < terms; ++j) a[size_t(i)][size_t(j)] += f[size_t(i)] * f[size_t(j)];
      a[size_t(i)][R] += f[size_t(i)] * p.V;
    }
  }
  for (int i = 0; i < terms; ++i) {
    int pivot = i;
    for (int k = i + 1; k < terms; ++k)
      if (std::fabs(a[size_t(k)][size_t(i)]) > std::fabs(a[size_t(pivot)][size_t(i)])) pivot = k;
    std::swap(a[size_t(i)], a[size_t(pivot)]);
    if (!(std::fabs(a[size_t(i)][size_t(i)]) > 1e-9 * (1 + std::fabs(a[0][0])))) return false;
    for (int k = 0; k < terms; ++k) {
      if (k == i) continue;
      const double f = a[size_t(k)][size_t(i)] / a[size_t(i)][size_t(i)];
      for (int j = i; j < terms; ++j) a[size_t(k)][size_t(j)] -= f * a[size_t(i)][size_t(j)];
      a[size_t(k)][R] -= f * a[size_t(i)][R];
    }
  }
  out.C.fill(0);
  out.Terms = terms;
  for (int i = 0; i < terms; ++i) out.C[size_t(i)] = a[size_t(i)][R] / a[size_t(i)][size_t(i)];
  return true;
}

// A curved sky of the frame's smoothed values (less the gradient): a surface
// of the first `terms` terms fitted in three rounds, each leaving out the
// residuals beyond three times the last one's root mean square (a neighbouring
// star in the frame); infinite Rms where the frame holds fewer than four
// values a term or does not reach both sides of the middle along both axes.
TSkySurface FitCurvedSky(const std::vector<TSkySample>& s, int terms) {
  bool left = false, right = false, top = false, bottom = false;
  for (const TSkySample& p : s) {
    left = left || p.X < -0.5;
    right = right || p.X > 0.5;
    top = top || p.Y < -0.5;
    bottom = bottom || p.Y > 0.5;
  }
  TSkySurface sky;
  sky.Rms = HUGE_VAL;
  if (s.size() < size_t(4 * terms) || !(left && right && top && bottom)) return sky;
  double limit = HUGE_VAL;
  for (int round = 0; round < 3; ++round) {
    TSkySurface next;
    const TSkySurface last = sky;
    auto kept = [&](const TSkySample& p) { return round == 0 || std::fabs(p.V - last.At(p.F)) <= limit; };
    if (!SolveSurface(s, terms, kept, next)) return sky;
    double sum = 0;
    size_t n = 0;
    for (const TSkySample& p : s)
      if (kept(p)) {
        const double r = p.V - next.At(p.F);
        sum += r * r;
        ++n;
      }
    next.Rms = n > 0 ? std::sqrt(sum / double(n)) : 0.0;
    sky = next;
    limit = 3 * std::max(sky.Rms, 1e-30);
  }
  return sky;
}

// The noise of 3 x 3 means of white noise as large as the pixels' own:
// a third of it, from the fourth differences of neighbours along the rows and
// down the columns (their root mean square is √70 times the pixels' noise;
// 1.4826 times their median magnitude, so that neighbouring stars do not
// count) of the pixels at least 8 pixels from index 15 either way. Smooth
// structure leaves fourth differences at 0, and noise that neighbours share
// makes them smaller: never more than the noise the peak is judged against.
double FineNoise(const TStarCutout& cutout, int plane) {
  std::vector<double> d;
  auto at = [&](int x, int y) { return double(cutout.At(plane, x, y)); };
  auto valid = [&](int x, int y) { return IsValidPixel(cutout.At(plane, x, y)); };
  for (int y = 0; y <= Last; ++y)
    for (int x = 0; x <= Last; ++x) {
      if (std::max(std::abs(x - Centre), std::abs(y - Centre)) < 8 || !valid(x, y)) continue;
      if (x >= 2 && x <= Last - 2 && valid(x - 2, y) && valid(x - 1, y) && valid(x + 1, y) && valid(x + 2, y))
        d.push_back(std::fabs(at(x - 2, y) - 4 * at(x - 1, y) + 6 * at(x, y) - 4 * at(x + 1, y) + at(x + 2, y)));
      if (y >= 2 && y <= Last - 2 && valid(x, y - 2) && valid(x, y - 1) && valid(x, y + 1) && valid(x, y + 2))
        d.push_back(std::fabs(at(x, y - 2) - 4 * at(x, y - 1) + 6 * at(x, y) - 4 * at(x, y + 1) + at(x, y + 2)));
    }
  if (d.size() < 32) return 0;
  return 1.4826 * Median(d) / std::sqrt(70.0) / 3;
}

}  // namespace

TPsfFrame PsfFrameOf(const TStarCutout& cutout, int plane) {
  // The medians of the outer strips on either side, 28 pixels apart.
  std::array<std::vector<double>, 4> strips;  // left, right, top, bottom
  std::vector<double> outer;
  for (int y = 0; y <= Last; ++y)
    for (int x = 0; x <= Last; ++x) {
      const float v = cutout.At(plane, x, y);
      if (!IsValidPixel(v)) continue;
      if (x < Strip) strips[0].push_back(v);
      if (x > Last - Strip) strips[1].push_back(v);
      if (y < Strip) strips[2].push_back(v);
      if (y > Last - Strip) strips[3].push_back(v);
    }
  TPsfFrame f;
  constexpr double apart = StarCutoutSize - Strip;
  auto slope = [&](size_t from, size_t to) {
    return strips[from].empty() || strips[to].empty() ? 0.0 : (Median(strips[to]) - Median(strips[from])) / apart;
  };
  f.Gx = slope(0, 1);
  f.Gy = slope(2, 3);
  for (int y = 0; y <= Last; ++y)
    for (int x = 0; x <= Last; ++x) {
      const float v = cutout.At(plane, x, y);
      if (IsValidPixel(v) && (x < Strip || y < Strip || x > Last - Strip || y > Last - Strip))
        outer.push_back(v - f.Gx * (x - Centre) - f.Gy * (y - Centre));
    }
  if (outer.empty()) return f;
  f.Level = Median(outer);
  f.Noise = ClippedRms(outer, f.Level);
  return f;
}

TPsfPeak MeasurePsfPeak(const TStarCutout& cutout, int plane, bool fine) {
  auto valid = [&](int x, int y) { return IsValidPixel(cutout.At(plane, x, y)); };
  const TPsfFrame sky = PsfFrameOf(cutout, plane);
  const double gx = sky.Gx, gy = sky.Gy;
  // The 3 x 3 means of the values less the gradient (NaN where one is blank).
  std::array<double, StarCutoutSize * StarCutoutSize> mean;
  mean.fill(std::nan(""));
  for (int y = 1; y < Last; ++y)
    for (int x = 1; x < Last; ++x) {
      double sum = 0;
      bool all = true;
      for (int j = y - 1; j <= y + 1 && all; ++j)
        for (int i = x - 1; i <= x + 1 && all; ++i) {
          all = valid(i, j);
          sum += double(cutout.At(plane, i, j)) - gx * (i - Centre) - gy * (j - Centre);
        }
      if (all) mean[size_t(y * StarCutoutSize + x)] = sum / 9;
    }
  std::vector<double> frame;
  std::vector<TSkySample> samples;
  for (int y = 1; y < Last; ++y)
    for (int x = 1; x < Last; ++x) {
      const double v = mean[size_t(y * StarCutoutSize + x)];
      if (!(v == v)) continue;
      if (x < Frame || y < Frame || x > Last - Frame || y > Last - Frame) frame.push_back(v);
      if (std::max(std::abs(x - Centre), std::abs(y - Centre)) >= CurvedFrom)
        samples.push_back({(x - Centre) / double(Centre), (y - Centre) / double(Centre), v});
    }
  TPsfPeak m;
  if (frame.empty()) return m;
  // The sky: the frame's level, or its curved surface where that fits it
  // markedly better.
  TSkySurface surface;
  surface.C[0] = Median(frame);
  surface.Rms = ClippedRms(frame, surface.C[0]);
  for (int terms : {6, 15}) {
    const TSkySurface curved = FitCurvedSky(samples, terms);
    if (!(curved.Rms < CurvedSkyFit * surface.Rms)) break;
    surface = curved;
  }
  double peak = -HUGE_VAL;
  for (int y = MiddleFrom; y <= MiddleTo; ++y)
    for (int x = MiddleFrom; x <= MiddleTo; ++x) {
      const double v = mean[size_t(y * StarCutoutSize + x)];
      if (v == v) peak = std::max(peak, v - surface.At((x - Centre) / double(Centre), (y - Centre) / double(Centre)));
    }
  m.Level = float(surface.At(0, 0));
  m.Noise = float(surface.Rms);
  m.FineNoise = fine ? float(FineNoise(cutout, plane)) : 0.0f;
  m.Peak = std::isfinite(peak) ? float(peak) : 0.0f;
  return m;
}

float PsfJudgedNoise(const TPsfPeak& m, float ownNoise) {
  const float frame =
      ownNoise > 0 ? std::clamp(m.Noise, PsfOwnNoiseLeast * ownNoise, PsfOwnNoiseRoom * ownNoise) : m.Noise;
  return std::max(frame, m.FineNoise);
}

bool PsfHoldsStar(const TStarCutout& cutout, int plane, float ownNoise) {
  const TPsfPeak m = MeasurePsfPeak(cutout, plane);
  return m.Peak > 0 && m.Peak > PsfPeakOverNoise * PsfJudgedNoise(m, ownNoise);
}

std::array<int, 4> PsfPlanesFor(const TStarCutout& cutout, const std::array<bool, 4>& sharpened,
                                const std::array<float, 4>& ownNoise) {
  const int planes = std::clamp(cutout.PlaneCount, 1, 3);
  auto own = [planes](int p) { return planes == 1 ? 1 : p; };
  // Each cutout plane of a sharpened image plane: its peak over its noise
  // when it holds a star, else -1.
  std::array<double, 4> rating{-1, -1, -1, -1};
  for (int p = 1; p <= 3; ++p) {
    const int q = own(p);
    if (!sharpened[size_t(p)] || rating[size_t(q)] >= 0) continue;
    const TPsfPeak m = MeasurePsfPeak(cutout, q);
    const float noise = PsfJudgedNoise(m, ownNoise[size_t(q)]);
    if (m.Peak > 0 && m.Peak > PsfPeakOverNoise * noise)
      rating[size_t(q)] = noise > 0 ? double(m.Peak) / noise : HUGE_VAL;
  }
  int best = 0;
  for (int q = 1; q <= planes; ++q)
    if (rating[size_t(q)] >= 0 && (best == 0 || rating[size_t(q)] > rating[size_t(best)])) best = q;
  std::array<int, 4> chosen{};
  if (best == 0) return chosen;
  for (int p = 1; p <= 3; ++p)
    if (sharpened[size_t(p)]) chosen[size_t(p)] = rating[size_t(own(p))] >= 0 ? own(p) : best;
  return chosen;
}

float PsfTapThreshold(const TStarCutout& psf, int plane) {
  const float largest = std::max(std::fabs(psf.PlaneMax[size_t(plane)]), 0.1f);
  return std::max(largest / 75, float(PsfTapNoise * PsfFrameOf(psf, plane).Noise));
}

std::string NoStarInPsfText() {
  return "Die PSF enthält keinen Stern: ihr Maximum hebt sich nicht aus dem Rauschen. Bitte einen Stern als PSF "
         "markieren!";
}

}  // namespace astrelon
