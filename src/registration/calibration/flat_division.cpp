#include "registration/calibration/flat_division.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "registration/calibration/flat_plane_mean.h"
#include "registration/calibration/flat_response_fit.h"
#include "registration/calibration/side_by_side.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/raw/mosaic_repair.h"

namespace astrelon {

namespace {

constexpr double MinimumLevel = 0.1;
constexpr int32_t MaxBins = 8192;

bool HasPlane(const TImageSlot& im, int p) {
  return p >= 1 && p <= im.PlaneCount && im.PixelCount() > 0 && im.Planes[size_t(p)].size() >= im.PixelCount();
}

// The pixels of one pass in a row: every pixel, or those of one mosaic cell class.
struct TRowPixels {
  int32_t First = 0, Step = 1;
  bool Skip = false;
};
TRowPixels PassPixels(int32_t y, int phase, int cellClass) {
  if (phase < 0) return {};
  const int32_t other = (phase + y + 1) & 1;  // first x off the green checkerboard
  switch (cellClass) {
    case 1: return {(phase + y) & 1, 2, false};
    case 2: return {other, 2, (y & 1) != 0};
    default: return {other, 2, (y & 1) == 0};
  }
}

// Mean of the valid flat pixels of one cell class; `fallback` when there are none.
double CellClassMean(const TImageSlot& flat, int plane, int phase, int cellClass, double fallback) {
  double sum = 0;
  int64_t count = 0;
  for (int32_t y = 0; y < flat.Height; ++y) {
    const TRowPixels px = PassPixels(y, phase, cellClass);
    if (px.Skip) continue;
    const std::span<const float> row = flat.Row(plane, y);
    for (int32_t x = px.First; x < flat.Width; x += px.Step)
      if (IsValidPixel(row[size_t(x)])) {
        sum += row[size_t(x)];
        ++count;
      }
  }
  return count > 0 ? sum / double(count) : fallback;
}

// Every s-th pixel of the pass in x and y (s even, so that a cell class stays
// the same) with a valid source value inside the flat whose flat value is
// above the dark limit.
std::vector<TFlatSample> SampleFlatPass(const TImageSlot& src, int sp, const TImageSlot& flat, int fp, int phase,
                                        int cellClass, double level, double darkLimit) {
  const int32_t s = 2 * (src.Width / 768 + 1);
  const int32_t w = std::min(src.Width, flat.Width), h = std::min(src.Height, flat.Height);
  const int32_t y0 = phase >= 0 && cellClass == 3 ? 1 : 0;
  std::vector<TFlatSample> samples;
  for (int32_t y = y0; y < h; y += s) {
    const int32_t x0 = PassPixels(y, phase, cellClass).First;
    const std::span<const float> srow = src.Row(sp, y), frow = flat.Row(fp, y);
    for (int32_t x = x0; x < w; x += s) {
      const float S = srow[size_t(x)], F = frow[size_t(x)];
      if (IsValidPixel(S) && double(F) > darkLimit) samples.push_back({x, y, S, double(F) / level});
    }
  }
  return samples;
}

// One row of the division: the destination's values in place, the flat's row,
// and what every pixel of the pass divides with.
struct TDivisionRow {
  float* Out;
  const float* Flat;
  int32_t Columns;
  bool Automatic;
  double Scale, DarkLimit, Level, RowTerm, HalfWidth, Gx, Factor;
  TFlatResponse Response;
};

// Pixels first, first + step, … below Columns.
void DivideRowScalar(const TDivisionRow& r, int32_t first, int32_t step) {
  for (int32_t x = first; x < r.Columns; x += step) {
    float& v = r.Out[x];
    if (!IsValidPixel(v)) continue;
    const double F = r.Flat[x];
    if (!(F > r.DarkLimit)) {
      v = BlankPixel;
      continue;
    }
    if (!r.Automatic) {
      v = float(double(v) * r.Scale / F);
      continue;
    }
    const double g = r.Response.Gain(F / r.Level);
    v = g > 0.1 ? float((double(v) / g + (r.RowTerm + (r.HalfWidth - x) * r.Gx)) * r.Factor) : BlankPixel;
  }
}

#if ASTRELON_HAVE_AVX2
// Four pixels of DivideRowScalar's plain form in double lanes (the same
// operations in the same order), blank where the flat is dark.
ASTRELON_AVX2 inline __m128 PlainFour(__m128 v, __m128 flat, __m256d scale, __m256d darkLimit) {
  const __m256d f = _mm256_cvtps_pd(flat);
  const __m256d result = _mm256_div_pd(_mm256_mul_pd(_mm256_cvtps_pd(v), scale), f);
  // Blank values are exact in float, so the conversion keeps them.
  return _mm256_cvtpd_ps(
      _mm256_blendv_pd(_mm256_set1_pd(double(BlankPixel)), result, _mm256_cmp_pd(f, darkLimit, _CMP_GT_OQ)));
}

// The automatic form's constants in lanes.
struct TAutomaticLanes {
  __m256d DarkLimit, Level, C0, C1, C2, RowTerm, HalfWidth, Gx, Factor, MinGain, Steps;
};

ASTRELON_AVX2 inline TAutomaticLanes AutomaticLanes(const TDivisionRow& r) {
  return {_mm256_set1_pd(r.DarkLimit), _mm256_set1_pd(r.Level),     _mm256_set1_pd(r.Response.C0),
          _mm256_set1_pd(r.Response.C1), _mm256_set1_pd(r.Response.C2), _mm256_set1_pd(r.RowTerm),
          _mm256_set1_pd(r.HalfWidth),   _mm256_set1_pd(r.Gx),          _mm256_set1_pd(r.Factor),
          _mm256_set1_pd(0.1),           _mm256_setr_pd(0, 1, 2, 3)};
}

// Four pixels at x of the automatic form, blank where the flat is dark or the gain too small.
ASTRELON_AVX2 inline __m128 AutomaticFour(const TAutomaticLanes& a, __m128 v, __m128 flat, int32_t x) {
  const __m256d f = _mm256_cvtps_pd(flat);
  const __m256d n = _mm256_div_pd(f, a.Level);
  const __m256d g =
      _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(a.C1, n), n), _mm256_mul_pd(a.C0, n)), a.C2);
  const __m256d xs = _mm256_add_pd(_mm256_set1_pd(double(x)), a.Steps);
  const __m256d gradient = _mm256_add_pd(a.RowTerm, _mm256_mul_pd(_mm256_sub_pd(a.HalfWidth, xs), a.Gx));
  const __m256d result = _mm256_mul_pd(_mm256_add_pd(_mm256_div_pd(_mm256_cvtps_pd(v), g), gradient), a.Factor);
  const __m256d usable =
      _mm256_and_pd(_mm256_cmp_pd(f, a.DarkLimit, _CMP_GT_OQ), _mm256_cmp_pd(g, a.MinGain, _CMP_GT_OQ));
  return _mm256_cvtpd_ps(_mm256_blendv_pd(_mm256_set1_pd(double(BlankPixel)), result, usable));
}

// Eight pixels a step; blank destination pixels keep their value.
ASTRELON_AVX2 void DivideRowAvx2(const TDivisionRow& r, int32_t first) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  int32_t x = first;
  if (!r.Automatic) {
    const __m256d scale = _mm256_set1_pd(r.Scale), darkLimit = _mm256_set1_pd(r.DarkLimit);
    for (; x + 8 <= r.Columns; x += 8) {
      const __m256 v = _mm256_loadu_ps(r.Out + x), f = _mm256_loadu_ps(r.Flat + x);
      const __m256 q = _mm256_set_m128(
          PlainFour(_mm256_extractf128_ps(v, 1), _mm256_extractf128_ps(f, 1), scale, darkLimit),
          PlainFour(_mm256_castps256_ps128(v), _mm256_castps256_ps128(f), scale, darkLimit));
      _mm256_storeu_ps(r.Out + x, _mm256_blendv_ps(v, q, _mm256_cmp_ps(v, limit, _CMP_GT_OQ)));
    }
  } else {
    const TAutomaticLanes a = AutomaticLanes(r);
    for (; x + 8 <= r.Columns; x += 8) {
      const __m256 v = _mm256_loadu_ps(r.Out + x), f = _mm256_loadu_ps(r.Flat + x);
      const __m256 q =
          _mm256_set_m128(AutomaticFour(a, _mm256_extractf128_ps(v, 1), _mm256_extractf128_ps(f, 1), x + 4),
                          AutomaticFour(a, _mm256_castps256_ps128(v), _mm256_castps256_ps128(f), x));
      _mm256_storeu_ps(r.Out + x, _mm256_blendv_ps(v, q, _mm256_cmp_ps(v, limit, _CMP_GT_OQ)));
    }
  }
  DivideRowScalar(r, x, 1);
}
#endif

// Every pixel from `first` on; the vector path gives the same values.
void DivideRow(const TDivisionRow& r, int32_t first, bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return DivideRowAvx2(r, first);
#endif
  DivideRowScalar(r, first, 1);
}

// Whether a pixel of the pass inside rows x columns is bright enough to divide by.
bool PassHasUsablePixel(const TImageSlot& flat, int plane, int phase, int cellClass, double darkLimit,
                        int32_t rows, int32_t columns) {
  for (int32_t y = 0; y < rows; ++y) {
    const TRowPixels px = PassPixels(y, phase, cellClass);
    if (px.Skip) continue;
    const std::span<const float> row = flat.Row(plane, y);
    for (int32_t x = px.First; x < columns; x += px.Step)
      if (double(row[size_t(x)]) > darkLimit) return true;
  }
  return false;
}

}  // namespace

bool DivideByImage(int source, int destination, int flat, bool keepLevel, bool automatic) {
  if (!SlotInUse(source) || !SlotInUse(destination) || !SlotInUse(flat)) return false;
  // The source's value range sets the automatic fit's units.
  if (automatic) UpdateMinMax(source);
  const TImageSlot& src = Store.Image[size_t(source)];
  const TImageSlot& fl = Store.Image[size_t(flat)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const double valueRange = double(src.MaxValue) - double(src.MinValue);
  const bool colour = src.IsColor && src.PlaneCount >= 3;
  const int phase = automatic && !colour ? DetectMosaicPhase(flat) : -1;
  const bool mosaic = phase >= 0;
  const int passes = mosaic || colour ? 3 : 1;
  const bool multicore = Options.Multicore != 0;
  // What each pass works with.
  struct TPass {
    int Dp = 0, Fp = 0, CellClass = 0;
    double Level = 0, DarkLimit = 0;
    TFlatFrame Frame;
    TFlatResponse Response;
  };
  std::vector<TPass> work;
  for (int pass = 1; pass <= passes; ++pass) {
    TPass w;
    w.Dp = colour ? pass : 1;
    w.Fp = colour ? (fl.IsColor && fl.PlaneCount >= 3 ? pass : 1) : GetRgbCode(flat);
    if (!HasPlane(src, w.Dp) || !HasPlane(dst, w.Dp) || !HasPlane(fl, w.Fp)) continue;
    w.CellClass = mosaic ? pass : 0;
    w.Frame = {.Width = double(fl.Width), .Height = double(fl.Height), .Unit = 0.02 * valueRange,
               .ValueRange = valueRange};
    work.push_back(w);
  }
  // The means of the flat's planes (the measuring plane's M and the levels of
  // passes without a mosaic), each summed on all threads, and for the automatic
  // fit the noise of each source plane used: side by side.
  const int measuring = GetRgbCode(flat);
  const int threads = BandThreads(int64_t(fl.Width) * fl.Height, 1 << 16, multicore);
  std::array<double, 4> planeMean{};
  std::array<float, 4> noise{};
  {
    TCalibrationJobs jobs;
    std::vector<int> wanted{measuring};
    for (int p = 1; p <= 3 && !mosaic; ++p)
      if (colour && fl.IsColor && fl.PlaneCount >= 3 && p != measuring) wanted.push_back(p);
    if (colour && !(fl.IsColor && fl.PlaneCount >= 3) && measuring != 1) wanted.push_back(1);
    jobs.push_back([&] {
      const std::array<float, 4> means = FlatPlaneMeans(flat, wanted, threads);
      for (const int p : wanted) planeMean[size_t(p)] = double(means[size_t(p)]);
    });
    std::array<bool, 4> noiseTaken{};
    for (const TPass& w : work)
      if (automatic && !noiseTaken[size_t(w.Dp)]) {
        noiseTaken[size_t(w.Dp)] = true;
        jobs.push_back([&, p = w.Dp] { noise[size_t(p)] = EstimateNoise(source, p); });
      }
    RunSideBySide(jobs, multicore);
  }
  const double mean = std::max(planeMean[size_t(measuring)], MinimumLevel);
  const double scale = keepLevel ? mean : 1.0;
  // The levels and the fits read only the pixels of their own plane or cell
  // class, so they run side by side before any division (the plain form's
  // levels are at hand).
  const bool sideBySide = multicore && (automatic || mosaic);
  ForEachBand(int64_t(work.size()), sideBySide ? int(work.size()) : 1, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      TPass& w = work[size_t(i)];
      w.Level = mosaic ? CellClassMean(fl, w.Fp, phase, w.CellClass, mean) : planeMean[size_t(w.Fp)];
      w.Level = std::max(w.Level, MinimumLevel);
      w.DarkLimit = 0.2 * w.Level;
      if (automatic) {
        const double sourceNoise = std::max(double(noise[size_t(w.Dp)]), 0.01);
        w.Frame.Bins = int32_t(std::clamp(std::nearbyint(valueRange / sourceNoise), 0.0, double(MaxBins)));
        const std::vector<TFlatSample> samples =
            SampleFlatPass(src, w.Dp, fl, w.Fp, phase, w.CellClass, w.Level, w.DarkLimit);
        w.Response = FitFlatResponse(samples, w.Frame, Sse2Enabled);
      }
    }
  });

  // A flat (plane or cell class) without a pixel to divide by would blank the
  // whole result: refused before anything changes.
  const int32_t rows = std::min(dst.Height, fl.Height), columns = std::min(dst.Width, fl.Width);
  for (const TPass& w : work)
    if (!PassHasUsablePixel(fl, w.Fp, phase, w.CellClass, w.DarkLimit, rows, columns)) {
      EngineUi().ShowMessage(FlatWithoutUsablePixelsText);
      return false;
    }

  // Every pass's rows in one run of bands.
  struct TPassFactors {
    double Gy, Gx, Factor;
  };
  std::vector<TPassFactors> factors;
  for (const TPass& w : work) {
    const double k = (w.Response.C0 + w.Response.C1 + w.Response.C2) / w.Level;
    // The gradient's factors per pixel step (the same products as in the fit).
    factors.push_back({-w.Frame.Unit * w.Response.Gy / w.Frame.Height, -w.Frame.Unit * w.Response.Gx / w.Frame.Width,
                       scale * k});
  }
  const bool vector = Sse2Enabled;
  const int64_t items = int64_t(rows) * int64_t(work.size());
  ForEachBand(items, BandThreads(items * columns, 1 << 16, multicore), [&](int64_t first, int64_t last) {
    for (int64_t item = first; item < last; ++item) {
      const TPass& w = work[size_t(item / rows)];
      const TPassFactors& f = factors[size_t(item / rows)];
      const int32_t y = int32_t(item % rows);
      const TRowPixels px = PassPixels(y, phase, w.CellClass);
      if (px.Skip) continue;
      const TDivisionRow row{dst.Row(w.Dp, y).data(), fl.Row(w.Fp, y).data(), columns, automatic, scale, w.DarkLimit,
                             w.Level, (w.Frame.Height / 2 - y) * f.Gy, w.Frame.Width / 2, f.Gx, f.Factor, w.Response};
      if (px.Step == 1)
        DivideRow(row, px.First, vector);
      else
        DivideRowScalar(row, px.First, px.Step);
    }
  });
  return true;
}

}  // namespace astrelon
