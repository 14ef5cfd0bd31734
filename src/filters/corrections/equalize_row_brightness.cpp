#include "filters/corrections/equalize_row_brightness.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <span>
#include <vector>

#include "core/settings.h"
#include "filters/corrections/rank_window.h"
#include "kernels/gauss/filter_rows.h"
#include "platform/parallel_bands.h"
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
void CollectScalar(const TLevelPass& s, int64_t y, float level, int32_t from, TPlane& buf) {
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
ASTRELON_AVX2 void CollectAvx2(const TLevelPass& s, int64_t y, float level, TPlane& buf) {
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
void Collect(const TLevelPass& s, int64_t y, float level, TPlane& buf) {
  buf.clear();
#if ASTRELON_HAVE_AVX2
  if (s.Phase < 0 && UseAvx2(s.Vector)) return CollectAvx2<Kind>(s, y, level, buf);
#endif
  CollectScalar<Kind>(s, y, level, FirstColumn(s, y), buf);
}

// The search state of one band of rows: the window around the last pass-A
// level (kept for that row's pass B) and the levels of the row before.
struct TRowSearch {
  TPlane Values, Steps;
  TRankWindow Window, StepWindow;
  bool HaveWindow = false;
  float Near = BlankPixel;      // the last pass-A level of the band
  float LevelAbove = BlankPixel;  // the pass-A level of the row before
  float Step = 0;               // between pivots while T is not known
};

// The two values of ranks k and k + 1 of the values, searched from `guess`
// (from a sample of them when that is not valid) with pivots `step` apart.
bool RankPair(TPlane& values, int64_t k, float guess, float step, TRankWindow& w, bool vector, float& lo,
              float& hi) {
  if (!IsValidPixel(guess)) guess = SampleGuess(values, k);
  return FindRankWindow(values, k, guess, step, w, vector) && w.Pair(k, lo, hi);
}

// Pass A: the quantile of the row's valid measured values; blank without one.
// The search starts at the level of the row before.
float RowLevel(const TLevelPass& s, int64_t y, TRowSearch& r) {
  TPlane& buf = r.Values;
  Collect<TCollect::Valid>(s, y, 0.0f, buf);
  r.HaveWindow = false;
  if (buf.empty()) return BlankPixel;
  const int64_t n = int64_t(buf.size());
  if (n >= 2 && s.Fraction > 0 && s.Fraction < 1) {
    const int64_t k = QuantileRank(n, s.Fraction);
    if (!(s.Limit > 0) && !(r.Step > 0)) r.Step = SampleSpread(buf);
    float lo, hi;
    if (RankPair(buf, k, r.Near, s.Limit > 0 ? s.Limit / 8 : r.Step, r.Window, s.Vector, lo, hi)) {
      r.HaveWindow = true;
      return InterpolateQuantile(lo, hi, n, s.Fraction);
    }
  }
  if (!IsValidPixel(r.Near)) return PercentileSelect(buf, s.Fraction);
  return PercentileSelect(buf, s.Fraction, r.Near - s.Limit, r.Near + s.Limit);
}

// Pass B near the level from pass A's values: the values near the level are a
// run of ranks of them (v - level grows with v), so their quantile is read off
// those ranks, in pass A's window or one found anew. False when not found.
bool NearLevelFromRanks(const TLevelPass& s, float level, TRowSearch& r, float& out) {
  int64_t below = 0, inside = 0;
  CountNearLevel(r.Values, level, s.Limit, below, inside, s.Vector);
  if (inside == 0) {
    out = level;
    return true;
  }
  const double p = s.Relative ? 0.5 : s.Fraction;
  if (inside == 1 || !(p > 0)) return r.HaveWindow && r.Window.Value(below, out);
  if (p >= 1) return r.HaveWindow && r.Window.Value(below + inside - 1, out);
  const int64_t k = below + QuantileRank(inside, p);
  float lo, hi;
  const bool found = r.HaveWindow && (r.Window.Pair(k, lo, hi) ||
                                       (MoveRankWindow(r.Values, k, r.Window, s.Vector) && r.Window.Pair(k, lo, hi)));
  if (!found && !RankPair(r.Values, k, level, s.Limit / 8, r.Window, s.Vector, lo, hi)) return false;
  out = InterpolateQuantile(lo, hi, inside, p);
  return true;
}

// Pass B: the level from the values near the row's first level (absolute, and
// row 0), or the median of the steps to the row above (relative), searched
// from the difference of the two rows' pass-A levels.
float RefinedLevel(const TLevelPass& s, int64_t y, float level, TRowSearch& r) {
  if (!s.Relative || y == 0) {
    float out;
    if (NearLevelFromRanks(s, level, r, out)) return out;
    TPlane& buf = r.Values;
    Collect<TCollect::NearLevel>(s, y, level, buf);
    if (buf.empty()) return level;
    return PercentileSelect(buf, s.Relative ? 0.5 : s.Fraction);
  }
  TPlane& buf = r.Steps;
  Collect<TCollect::StepFromAbove>(s, y, level, buf);
  if (buf.empty()) return level;
  const int64_t n = int64_t(buf.size());
  if (n >= 2) {
    const int64_t k = QuantileRank(n, 0.5);
    const float guess = IsValidPixel(r.LevelAbove) ? level - r.LevelAbove : BlankPixel;
    float lo, hi;
    if (RankPair(buf, k, guess, s.Limit / 6, r.StepWindow, s.Vector, lo, hi)) return InterpolateQuantile(lo, hi, n, 0.5);
  }
  return PercentileSelect(buf, 0.5);
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

// Which passes a run over the rows makes.
enum class TLevelStage {
  Both,    // pass A and, for a row with a level, pass B right after it (a row
           // has a level only when some row has one)
  First,   // pass A alone (T need not be known)
  Second,  // pass B from the pass-A levels given
};

// The levels of every row. With `phase` the mosaic phase measure's sums are
// added over the same reads. False when stopped.
bool MeasureLevels(const TLevelPass& s, int64_t height, std::vector<float>& levels, TFilterPoll& poll, int plane,
                   TLevelStage stage, TMosaicPhaseSums* phase, const std::vector<float>* first = nullptr) {
  levels.assign(size_t(height), BlankPixel);
  const int64_t measured = int64_t(s.Columns.Last) - s.Columns.First + 1;
  std::vector<TMosaicPhaseSums> bandSums;
  std::mutex sumsLock;
  const bool done = ForEachRowChunk(0, height, std::max<int64_t>(measured, s.Width), &poll, plane, [&](int64_t a,
                                                                                                       int64_t b) {
    TRowSearch search;
    search.Values.reserve(size_t(measured) + 8);
    TMosaicPhaseSums sums;
    for (int64_t y = a; y < b; ++y) {
      if (phase && y + 1 < height) {
        const float* row = s.Plane.data() + y * s.Width;
        AddMosaicPhaseRow(row, row + s.Width, s.Width, int32_t(y), sums, s.Vector);
      }
      if (stage == TLevelStage::Second) {
        const float level = (*first)[size_t(y)];
        search.LevelAbove = y > 0 ? (*first)[size_t(y - 1)] : BlankPixel;
        if (!IsValidPixel(level)) continue;
        if (!s.Relative || y == 0) Collect<TCollect::Valid>(s, y, 0.0f, search.Values);
        levels[size_t(y)] = RefinedLevel(s, y, level, search);
        continue;
      }
      const float level = RowLevel(s, y, search);
      if (IsValidPixel(level)) {
        levels[size_t(y)] = stage == TLevelStage::Both ? RefinedLevel(s, y, level, search) : level;
        search.Near = level;
      }
      search.LevelAbove = level;
    }
    if (phase) {
      const std::lock_guard<std::mutex> hold(sumsLock);
      bandSums.push_back(sums);
    }
  });
  if (phase)
    for (const TMosaicPhaseSums& b : bandSums)
      for (int c = 0; c < 2; ++c) {
        phase->Sum[c] += b.Sum[c];
        phase->Count[c] += b.Count[c];
      }
  return done;
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

// Runs a task on a thread of its own (or at once, when none can be started)
// until the end of the scope; its exception is rethrown there.
class TBesideTask {
public:
  template <typename F>
  explicit TBesideTask(F&& task) {
    auto run = [this, task] {
      try {
        task();
      } catch (...) {
        error_ = std::current_exception();
      }
    };
    try {
      thread_ = StartBandThread(run);
    } catch (const std::system_error&) {
      run();
    }
  }
  TBesideTask(const TBesideTask&) = delete;
  TBesideTask& operator=(const TBesideTask&) = delete;
  ~TBesideTask() noexcept(false) {
    if (thread_.joinable()) thread_.join();
    if (error_ && std::uncaught_exceptions() == 0) std::rethrow_exception(error_);
  }

private:
  std::thread thread_;
  std::exception_ptr error_;
};

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

  // The mosaic phase of a grey image without a known filter code is measured
  // over the reads of the first plane's levels, which first assume no mosaic
  // (measured again with the phase if there is one), unless that plane has none
  // to measure; then it and the noise of the first plane, two passes over the
  // whole plane, run side by side. With several threads the first plane's noise
  // is estimated beside its first pass A, which needs no T.
  const int first = FirstChannel(source);
  int phase = src.PlaneCount == 1 ? FilterCodeToPhase(source) : -1;
  const bool measurePhase = phase == -2;
  if (measurePhase) phase = -1;
  const bool firstMeasured = first >= 1 && first <= std::min(src.PlaneCount, 3) && selected[size_t(first)] &&
                             src.Planes[size_t(first)].size() == n && passes[0].First <= passes[0].Last;
  const bool phaseWithLevels = measurePhase && first == 1 && firstMeasured;
  const bool noiseBeside = Options.Multicore && firstMeasured;
  float firstNoise = 0;
  ForEachBand(2, Options.Multicore ? 2 : 1, [&](int64_t a, int64_t b) {
    for (int64_t k = a; k < b; ++k) {
      if (k == 0 && first >= 1 && first <= std::min(src.PlaneCount, 3) && !noiseBeside)
        firstNoise = EstimatePlaneNoise(source, first);
      if (k == 1 && measurePhase && !phaseWithLevels) phase = DetectMosaicPhase(source);
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
    auto limitOf = [](float noise) { return std::max(5.0f * noise, 0.5f); };
    const bool beside = noiseBeside && p == first;
    float limit = beside ? 0.0f : limitOf(p == first ? firstNoise : EstimatePlaneNoise(source, p));

    for (size_t k = 0; k < passes.size(); ++k) {
      const TColumnRange c = passes[k];
      std::vector<float> levels(size_t(h), BlankPixel);
      if (c.First <= c.Last) {
        const bool withPhase = phaseWithLevels && p == 1 && k == 0;
        TMosaicPhaseSums sums;
        auto measure = [&](TLevelStage stage, std::vector<float>& into, TMosaicPhaseSums* sumsTo,
                           const std::vector<float>* firstLevels) {
          return MeasureLevels({in, w, c, phase, fraction, limit, relative, Sse2Enabled}, h, into, poll, p, stage,
                               sumsTo, firstLevels);
        };
        if (beside && k == 0) {
          std::vector<float> firstLevels;
          bool done;
          float noise = 0;
          {
            // Pass A reads `limit` (still 0) while the noise is estimated.
            const TBesideTask estimate([&noise, source, p] { noise = EstimatePlaneNoise(source, p); });
            done = measure(TLevelStage::First, firstLevels, withPhase ? &sums : nullptr, nullptr);
          }
          limit = limitOf(noise);
          if (!done) return false;
          if (withPhase) {
            phase = MosaicPhaseFromSums(sums);
            if (phase == -3) phase = DetectMosaicPhase(source);
            if (phase != -1 && !measure(TLevelStage::First, firstLevels, nullptr, nullptr)) return false;
          }
          if (!measure(TLevelStage::Second, levels, nullptr, &firstLevels)) return false;
        } else {
          if (!measure(TLevelStage::Both, levels, withPhase ? &sums : nullptr, nullptr)) return false;
          if (withPhase) {
            phase = MosaicPhaseFromSums(sums);
            if (phase == -3) phase = DetectMosaicPhase(source);
            if (phase != -1 && !measure(TLevelStage::Both, levels, nullptr, nullptr)) return false;
          }
        }
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
