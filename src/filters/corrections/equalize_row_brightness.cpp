#include "filters/corrections/equalize_row_brightness.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "core/settings.h"
#include "kernels/gauss/filter_rows.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/planes/value_statistics.h"
#include "store/raw/mosaic_repair.h"

namespace astrelon {

namespace {

struct TLevelPass {
  std::span<const float> Plane;
  int32_t Width = 0;
  TColumnRange Columns;
  int Phase = -1;    // colour-mosaic phase; -1 measures every column
  double Fraction = 0.5;
  float Limit = 0.5f;  // T
  bool Relative = false;
  bool Vector = false;  // the eight-wide loops where the processor has them (the same values)
};

// First measured column of row y and the step between measured columns.
int32_t FirstColumn(const TLevelPass& s, int64_t y) {
  return s.Phase >= 0 ? s.Columns.First + int32_t((s.Phase + y) & 1) : s.Columns.First;
}
int32_t ColumnStep(const TLevelPass& s) { return s.Phase >= 0 ? 2 : 1; }

// The values of a row that a level is measured from: for every measured
// column x (FirstColumn, step ColumnStep, up to Columns.Last) whose value v is
// valid, v itself (pass A), v when |v − level| < T (pass B, absolute), or
// v − u when also the value u above is valid and |v − u| < 3 T (pass B,
// relative), appended in column order.
enum class TCollect { Valid, NearLevel, StepFromAbove };

template <TCollect Kind>
void CollectScalar(const TLevelPass& s, int64_t y, float level, int32_t from, std::vector<float>& buf) {
  const float* row = s.Plane.data() + y * s.Width;
  const float t = s.Limit;
  for (int32_t x = from; x <= s.Columns.Last; x += ColumnStep(s)) {
    const float v = row[x];
    if (!IsValidPixel(v)) continue;
    if constexpr (Kind == TCollect::Valid) {
      buf.push_back(v);
    } else if constexpr (Kind == TCollect::NearLevel) {
      if (std::fabs(v - level) < t) buf.push_back(v);
    } else {
      const float u = row[x - s.Width];  // the row above
      if (std::fabs(v - level) < t && IsValidPixel(u) && std::fabs(v - u) < 3 * t) buf.push_back(v - u);
    }
  }
}

#if ASTRELON_HAVE_AVX2
// Every column (step 1), eight at a time: the kept values moved to the front.
template <TCollect Kind>
ASTRELON_AVX2 void CollectAvx2(const TLevelPass& s, int64_t y, float level, std::vector<float>& buf) {
  const float* row = s.Plane.data() + y * s.Width;
  const int32_t first = s.Columns.First, last = s.Columns.Last;
  buf.resize(size_t(last - first + 1) + 8);
  float* out = buf.data();
  const __m256 limit = _mm256_set1_ps(BlankLimit), lv = _mm256_set1_ps(level), t = _mm256_set1_ps(s.Limit);
  const __m256 t3 = _mm256_set1_ps(3 * s.Limit);
  const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  size_t n = 0;
  int32_t x = first;
  for (; x + 8 <= last + 1; x += 8) {
    const __m256 v = _mm256_loadu_ps(row + x);
    __m256 keep = _mm256_cmp_ps(v, limit, _CMP_GT_OQ);
    __m256 value = v;
    if constexpr (Kind != TCollect::Valid)
      keep = _mm256_and_ps(keep, _mm256_cmp_ps(_mm256_and_ps(_mm256_sub_ps(v, lv), absMask), t, _CMP_LT_OQ));
    if constexpr (Kind == TCollect::StepFromAbove) {
      const __m256 u = _mm256_loadu_ps(row + x - s.Width);  // the row above
      value = _mm256_sub_ps(v, u);
      keep = _mm256_and_ps(keep, _mm256_cmp_ps(u, limit, _CMP_GT_OQ));
      keep = _mm256_and_ps(keep, _mm256_cmp_ps(_mm256_and_ps(value, absMask), t3, _CMP_LT_OQ));
    }
    const int m = _mm256_movemask_ps(keep);
    const __m256i index = _mm256_load_si256(reinterpret_cast<const __m256i*>(CompactTable.Index[size_t(m)].data()));
    _mm256_storeu_ps(out + n, _mm256_permutevar8x32_ps(value, index));
    n += size_t(__builtin_popcount(unsigned(m)));
  }
  buf.resize(n);
  CollectScalar<Kind>(s, y, level, x, buf);
}
#endif

template <TCollect Kind>
void Collect(const TLevelPass& s, int64_t y, float level, std::vector<float>& buf) {
  buf.clear();
#if ASTRELON_HAVE_AVX2
  if (s.Phase < 0 && UseAvx2(s.Vector)) return CollectAvx2<Kind>(s, y, level, buf);
#endif
  CollectScalar<Kind>(s, y, level, FirstColumn(s, y), buf);
}

// Pass A: the quantile of the row's valid measured values; blank without one.
// `near` (when valid) is a level close by, which speeds up the search.
float RowLevel(const TLevelPass& s, int64_t y, float near, std::vector<float>& buf) {
  Collect<TCollect::Valid>(s, y, 0.0f, buf);
  if (buf.empty()) return BlankPixel;
  if (!IsValidPixel(near)) return PercentileSelect(buf, s.Fraction);
  return PercentileSelect(buf, s.Fraction, near - s.Limit, near + s.Limit);
}

// Pass B: the level from the values near the row's first level (absolute, and
// row 0), or the median of the steps to the row above (relative).
float RefinedLevel(const TLevelPass& s, int64_t y, float level, std::vector<float>& buf) {
  if (!s.Relative || y == 0) {
    Collect<TCollect::NearLevel>(s, y, level, buf);
    if (buf.empty()) return level;
    return PercentileSelect(buf, s.Relative ? 0.5 : s.Fraction);
  }
  Collect<TCollect::StepFromAbove>(s, y, level, buf);
  return buf.empty() ? level : PercentileSelect(buf, 0.5);
}

double MeanOfValid(const std::vector<float>& levels, bool& any) {
  double sum = 0;
  int64_t n = 0;
  for (float l : levels)
    if (IsValidPixel(l)) {
      sum += l;
      ++n;
    }
  any = n > 0;
  return n > 0 ? sum / double(n) : 0.0;
}

// The levels of every row; false when stopped.
bool MeasureLevels(const TLevelPass& s, int64_t height, std::vector<float>& levels, TFilterPoll& poll, int plane) {
  levels.assign(size_t(height), BlankPixel);
  const int64_t measured = int64_t(s.Columns.Last) - s.Columns.First + 1;
  if (!ForEachRowChunk(0, height, measured, &poll, plane, [&](int64_t a, int64_t b) {
        std::vector<float> buf;
        buf.reserve(size_t(measured));
        // The level of the row before (in this chunk) guides the search.
        float near = BlankPixel;
        for (int64_t y = a; y < b; ++y) {
          levels[size_t(y)] = RowLevel(s, y, near, buf);
          if (IsValidPixel(levels[size_t(y)])) near = levels[size_t(y)];
        }
      }))
    return false;
  bool any = false;
  MeanOfValid(levels, any);
  if (!any) return true;
  std::vector<float> refined(levels.size(), BlankPixel);
  if (!ForEachRowChunk(0, height, measured, &poll, plane, [&](int64_t a, int64_t b) {
        std::vector<float> buf;
        buf.reserve(size_t(measured));
        for (int64_t y = a; y < b; ++y)
          if (IsValidPixel(levels[size_t(y)])) refined[size_t(y)] = RefinedLevel(s, y, levels[size_t(y)], buf);
      }))
    return false;
  levels.swap(refined);
  return true;
}

// d = float(s + add) for the valid values of a row (blank ones copied) on the
// first pass; the second averages that with d, leaving d at blank values.
void ShiftRowScalar(const float* s, float* d, int32_t from, int32_t w, double add, bool first) {
  for (int32_t x = from; x < w; ++x) {
    const float v = s[x];
    if (!IsValidPixel(v)) {
      if (first) d[x] = v;
      continue;
    }
    const float r = float(double(v) + add);
    d[x] = first ? r : (d[x] + r) * 0.5f;
  }
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void ShiftRowAvx2(const float* s, float* d, int32_t w, double add, bool first) {
  const __m256 limit = _mm256_set1_ps(BlankLimit), half = _mm256_set1_ps(0.5f);
  const __m256d a = _mm256_set1_pd(add);
  int32_t x = 0;
  for (; x + 8 <= w; x += 8) {
    const __m256 v = _mm256_loadu_ps(s + x);
    const __m128 lo = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(v)), a));
    const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)), a));
    const __m256 r = _mm256_set_m128(hi, lo);
    const __m256 valid = _mm256_cmp_ps(v, limit, _CMP_GT_OQ);
    if (first) {
      _mm256_storeu_ps(d + x, _mm256_blendv_ps(v, r, valid));
    } else {
      const __m256 old = _mm256_loadu_ps(d + x);
      _mm256_storeu_ps(d + x, _mm256_blendv_ps(old, _mm256_mul_ps(_mm256_add_ps(old, r), half), valid));
    }
  }
  ShiftRowScalar(s, d, x, w, add, first);
}
#endif

void ShiftRow(const float* s, float* d, int32_t w, double add, bool first, bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return ShiftRowAvx2(s, d, w, add, first);
#endif
  ShiftRowScalar(s, d, 0, w, add, first);
}

// The amount added to each row (NaN: the row has no level).
std::vector<double> RowShifts(const std::vector<float>& levels, bool relative, float limit) {
  std::vector<double> shift(levels.size(), std::nan(""));
  bool any = false;
  const double mean = MeanOfValid(levels, any);
  double c = 0;
  const double step = 0.04 * double(limit);
  for (size_t y = 0; y < levels.size(); ++y) {
    const bool has = IsValidPixel(levels[y]);
    if (!relative) {
      if (has) shift[y] = mean - double(levels[y]);
      continue;
    }
    if (has && y >= 1) c += levels[y];
    if (has) shift[y] = -c;
    c /= 1.1;
    c = c > 0 ? std::max(0.0, c - step) : std::min(0.0, c + step);
  }
  return shift;
}

}  // namespace

bool EqualizeRowBrightness(int source, int destination, bool relative, float strength, TColumnRange columns,
                           std::optional<TColumnRange> second, TFilterPoll& poll) {
  if (!SlotInUse(source) || !ValidSlot(destination)) return true;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const int32_t w = src.Width, h = src.Height;
  const size_t n = src.PixelCount();
  if (w < 1 || h < 1 || dst.Width != w || dst.Height != h) return true;

  double fraction = double(strength) / 100.0;
  fraction = fraction > 0 ? std::min(fraction, 1.0) : 0.0;  // NaN too gives 0
  std::vector<TColumnRange> passes{columns};
  if (second) passes.push_back(*second);
  for (TColumnRange& c : passes) {
    c.First = std::max(c.First, 0);
    c.Last = std::min(c.Last, w - 1);
  }
  std::vector<uint8_t> selected(4, 0);
  for (int p = FirstChannel(source); p >= 1 && p <= src.PlaneCount && p <= 3; NextChannel(source, p))
    selected[size_t(p)] = 1;

  // The mosaic phase of a grey image and the noise of the first plane are two
  // passes over the whole plane: they run side by side.
  int phase = -1;
  float firstNoise = 0;
  const int first = FirstChannel(source);
  ForEachBand(2, Options.Multicore ? 2 : 1, [&](int64_t a, int64_t b) {
    for (int64_t k = a; k < b; ++k) {
      if (k == 0 && first >= 1 && first <= std::min(src.PlaneCount, 3)) firstNoise = EstimatePlaneNoise(source, first);
      if (k == 1 && src.PlaneCount == 1) phase = DetectMosaicPhase(source);
    }
  });
  for (int p = 1; p <= std::min(src.PlaneCount, 3); ++p) {
    if (src.Planes[size_t(p)].size() != n) continue;
    if (!selected[size_t(p)]) {
      if (source != destination) CopyPlane(source, p, destination, p);
      continue;
    }
    if (dst.Planes[size_t(p)].size() != n) dst.Planes[size_t(p)].resize(n);
    // Levels are measured on the source as it was, also when it is the destination.
    TPlane kept;
    std::span<const float> in = src.Planes[size_t(p)];
    if (source == destination) {
      kept.assign(in.begin(), in.end());
      in = kept;
    }
    std::span<float> out = dst.Planes[size_t(p)];
    const float limit = std::max(5.0f * (p == first ? firstNoise : EstimatePlaneNoise(source, p)), 0.5f);

    for (size_t k = 0; k < passes.size(); ++k) {
      const TColumnRange c = passes[k];
      std::vector<float> levels(size_t(h), BlankPixel);
      if (c.First <= c.Last) {
        const TLevelPass s{in, w, c, phase, fraction, limit, relative, Sse2Enabled};
        if (!MeasureLevels(s, h, levels, poll, p)) return false;
      }
      const std::vector<double> shift = RowShifts(levels, relative, limit);
      const bool first = k == 0;
      if (!ForEachRowChunk(0, h, w, &poll, p, [&](int64_t a, int64_t b) {
            for (int64_t y = a; y < b; ++y) {
              const double add = shift[size_t(y)];
              const float* s = in.data() + y * w;
              float* d = out.data() + y * w;
              if (std::isnan(add)) {
                // A row without a level: copied (first pass) or left (second pass).
                if (first && source != destination) std::copy(s, s + w, d);
                continue;
              }
              ShiftRow(s, d, w, add, first, Sse2Enabled);
            }
          }))
        return false;
    }
  }
  return true;
}

}  // namespace astrelon
