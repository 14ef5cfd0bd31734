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
#include "registration/calibration/flat_response_fit.h"
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
// Four pixels at x of DivideRowScalar in double lanes (the same operations in
// the same order), blank where the flat is dark or the gain too small.
ASTRELON_AVX2 inline __m128 DivideFour(const TDivisionRow& r, __m128 v, __m128 flat, int32_t x) {
  const __m256d s = _mm256_cvtps_pd(v), f = _mm256_cvtps_pd(flat);
  const __m256d blank = _mm256_set1_pd(double(BlankPixel));
  const __m256d bright = _mm256_cmp_pd(f, _mm256_set1_pd(r.DarkLimit), _CMP_GT_OQ);
  __m256d result;
  if (!r.Automatic) {
    result = _mm256_div_pd(_mm256_mul_pd(s, _mm256_set1_pd(r.Scale)), f);
  } else {
    const __m256d n = _mm256_div_pd(f, _mm256_set1_pd(r.Level));
    const __m256d g = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(r.Response.C1), n), n),
                                                  _mm256_mul_pd(_mm256_set1_pd(r.Response.C0), n)),
                                    _mm256_set1_pd(r.Response.C2));
    const __m256d xs = _mm256_add_pd(_mm256_set1_pd(double(x)), _mm256_setr_pd(0, 1, 2, 3));
    const __m256d gradient =
        _mm256_add_pd(_mm256_set1_pd(r.RowTerm), _mm256_mul_pd(_mm256_sub_pd(_mm256_set1_pd(r.HalfWidth), xs),
                                                               _mm256_set1_pd(r.Gx)));
    result = _mm256_mul_pd(_mm256_add_pd(_mm256_div_pd(s, g), gradient), _mm256_set1_pd(r.Factor));
    result = _mm256_blendv_pd(blank, result, _mm256_cmp_pd(g, _mm256_set1_pd(0.1), _CMP_GT_OQ));
  }
  // Blank values are exact in float, so the conversion keeps them.
  return _mm256_cvtpd_ps(_mm256_blendv_pd(blank, result, bright));
}

ASTRELON_AVX2 void DivideRowAvx2(const TDivisionRow& r, int32_t first) {
  const __m128 limit = _mm_set1_ps(BlankLimit);
  int32_t x = first;
  for (; x + 4 <= r.Columns; x += 4) {
    const __m128 v = _mm_loadu_ps(r.Out + x);
    const __m128 valid = _mm_cmpgt_ps(v, limit);
    if (_mm_movemask_ps(valid) == 0) continue;
    _mm_storeu_ps(r.Out + x, _mm_blendv_ps(v, DivideFour(r, v, _mm_loadu_ps(r.Flat + x), x), valid));
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
  // The means of the flat's planes (each once, side by side): the measuring
  // plane's M and the levels of passes without a mosaic.
  const int measuring = GetRgbCode(flat);
  std::array<double, 4> planeMean{};
  {
    std::vector<int> wanted{measuring};
    for (int p = 1; p <= 3 && !mosaic; ++p)
      if (colour && fl.IsColor && fl.PlaneCount >= 3 && p != measuring) wanted.push_back(p);
    if (colour && !(fl.IsColor && fl.PlaneCount >= 3) && measuring != 1) wanted.push_back(1);
    const int64_t n = int64_t(wanted.size());
    ForEachBand(n, multicore ? int(n) : 1, [&](int64_t first, int64_t last) {
      for (int64_t i = first; i < last; ++i)
        planeMean[size_t(wanted[size_t(i)])] = double(GetPlaneMean(flat, wanted[size_t(i)]));
    });
  }
  const double mean = std::max(planeMean[size_t(measuring)], MinimumLevel);
  const double scale = keepLevel ? mean : 1.0;
  // What each pass works with. The levels and the fits (with the source's
  // noise) read only the pixels of their own plane or cell class, so they run
  // side by side before any division.
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
    w.Level = planeMean[size_t(w.Fp)];
    w.Frame = {.Width = double(fl.Width), .Height = double(fl.Height), .Unit = 0.02 * valueRange,
               .ValueRange = valueRange};
    work.push_back(w);
  }
  ForEachBand(int64_t(work.size()), multicore ? int(work.size()) : 1, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      TPass& w = work[size_t(i)];
      if (mosaic) w.Level = CellClassMean(fl, w.Fp, phase, w.CellClass, mean);
      w.Level = std::max(w.Level, MinimumLevel);
      w.DarkLimit = 0.2 * w.Level;
      if (automatic) {
        const double noise = std::max(double(EstimateNoise(source, w.Dp)), 0.01);
        w.Frame.Bins = int32_t(std::clamp(std::nearbyint(valueRange / noise), 0.0, double(MaxBins)));
        const std::vector<TFlatSample> samples =
            SampleFlatPass(src, w.Dp, fl, w.Fp, phase, w.CellClass, w.Level, w.DarkLimit);
        w.Response = FitFlatResponse(samples, w.Frame);
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

  for (const TPass& w : work) {
    const int dp = w.Dp, fp = w.Fp, cellClass = w.CellClass;
    const double level = w.Level, darkLimit = w.DarkLimit;
    const TFlatFrame& frame = w.Frame;
    const TFlatResponse& response = w.Response;
    const double k = (response.C0 + response.C1 + response.C2) / level;
    // The gradient's factors per pixel step (the same products as in the fit).
    const double gy = -frame.Unit * response.Gy / frame.Height, gx = -frame.Unit * response.Gx / frame.Width;
    const double factor = scale * k;

    ForEachBand(rows, BandThreads(int64_t(rows) * columns, 1 << 16, multicore), [&](int64_t first, int64_t last) {
      for (int64_t yy = first; yy < last; ++yy) {
        const int32_t y = int32_t(yy);
        const TRowPixels px = PassPixels(y, phase, cellClass);
        if (px.Skip) continue;
        const TDivisionRow row{dst.Row(dp, y).data(), fl.Row(fp, y).data(), columns, automatic, scale, darkLimit,
                               level, (frame.Height / 2 - y) * gy, frame.Width / 2, gx, factor, response};
        if (px.Step == 1)
          DivideRow(row, px.First, Sse2Enabled);
        else
          DivideRowScalar(row, px.First, px.Step);
      }
    });
  }
  return true;
}

}  // namespace astrelon
