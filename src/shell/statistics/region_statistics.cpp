#include "shell/statistics/region_statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/pascal_format.h"
#include "common/paths.h"
#include "core/language.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "shell/main/main_services.h"
#include "store/rect_text.h"

namespace astrelon {

namespace {

constexpr float MinStart = 1e20f;
constexpr float MaxStart = -1e20f;

// Sums, count and extremes of the valid pixels of one row of the rectangle. The
// sums run in the sixteen lanes of every double sum (element i of the run in
// lane i mod 16), so both paths give the same bits.
struct TRowMoments {
  double Sum = 0;
  double Squares = 0;
  int64_t Count = 0;
  float Lo = MinStart;
  float Hi = MaxStart;
};

void AddTail(const float* run, int32_t x, int32_t w, TSumLanes& s, TSumLanes& q, TRowMoments& m) {
  for (; x < w; ++x) {
    const float v = run[x];
    const bool valid = IsValidPixel(v);
    const double d = valid ? double(v) : 0.0;
    s[size_t(x % SumLaneCount)] += d;
    q[size_t(x % SumLaneCount)] += d * d;
    if (!valid) continue;
    ++m.Count;
    if (v < m.Lo) m.Lo = v;
    if (v > m.Hi) m.Hi = v;
  }
}

TRowMoments RowMomentsScalar(const float* run, int32_t w) {
  TSumLanes s{}, q{};
  TRowMoments m;
  AddTail(run, 0, w, s, q, m);
  m.Sum = ReduceSumLanes(s);
  m.Squares = ReduceSumLanes(q);
  return m;
}

#if ASTRELON_HAVE_AVX2
// Lanes 4j..4j+3 of the sums live in s[j] and q[j]; blank pixels add +0 and
// stand in for the start values of the extremes.
ASTRELON_AVX2 TRowMoments RowMomentsAvx2(const float* run, int32_t w) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  const __m256 loStart = _mm256_set1_ps(MinStart), hiStart = _mm256_set1_ps(MaxStart);
  __m256d s[4], q[4];
  for (int j = 0; j < 4; ++j) s[j] = q[j] = _mm256_setzero_pd();
  __m256 lo = loStart, hi = hiStart;
  TRowMoments m;
  int32_t x = 0;
  for (; x + 16 <= w; x += 16) {
    const __m256 a = _mm256_loadu_ps(run + x);
    const __m256 b = _mm256_loadu_ps(run + x + 8);
    const __m256 va = _mm256_cmp_ps(a, limit, _CMP_GT_OQ);
    const __m256 vb = _mm256_cmp_ps(b, limit, _CMP_GT_OQ);
    const __m256 am = _mm256_and_ps(va, a), bm = _mm256_and_ps(vb, b);
    const __m256d d[4] = {_mm256_cvtps_pd(_mm256_castps256_ps128(am)), _mm256_cvtps_pd(_mm256_extractf128_ps(am, 1)),
                          _mm256_cvtps_pd(_mm256_castps256_ps128(bm)), _mm256_cvtps_pd(_mm256_extractf128_ps(bm, 1))};
    for (int j = 0; j < 4; ++j) {
      s[j] = _mm256_add_pd(s[j], d[j]);
      q[j] = _mm256_add_pd(q[j], _mm256_mul_pd(d[j], d[j]));
    }
    lo = _mm256_min_ps(_mm256_blendv_ps(loStart, a, va), lo);
    lo = _mm256_min_ps(_mm256_blendv_ps(loStart, b, vb), lo);
    hi = _mm256_max_ps(_mm256_blendv_ps(hiStart, a, va), hi);
    hi = _mm256_max_ps(_mm256_blendv_ps(hiStart, b, vb), hi);
    m.Count += _mm_popcnt_u32(unsigned(_mm256_movemask_ps(va) | (_mm256_movemask_ps(vb) << 8)));
  }
  TSumLanes sl, ql;
  for (int j = 0; j < 4; ++j) {
    _mm256_storeu_pd(&sl[size_t(4 * j)], s[j]);
    _mm256_storeu_pd(&ql[size_t(4 * j)], q[j]);
  }
  m.Lo = HorizontalMin8(lo);
  m.Hi = HorizontalMax8(hi);
  AddTail(run, x, w, sl, ql, m);
  m.Sum = ReduceSumLanes(sl);
  m.Squares = ReduceSumLanes(ql);
  return m;
}
#endif

TRowMoments RowMoments(const float* run, int32_t w, bool avx2) {
#if ASTRELON_HAVE_AVX2
  if (avx2) return RowMomentsAvx2(run, w);
#endif
  return RowMomentsScalar(run, w);
}

// The first valid pixel of the run equal to v (the run holds one).
int32_t FirstEqual(std::span<const float> run, float v) {
  for (size_t i = 0; i < run.size(); ++i)
    if (IsValidPixel(run[i]) && run[i] == v) return int32_t(i);
  return 0;
}

}  // namespace

void ComputeRectStatistics(int slot, const TRectI& rect, TRectStatistics& stats) {
  ComputeRectStatistics(slot, rect, stats, Sse2Enabled);
}

void ComputeRectStatistics(int slot, const TRectI& rect, TRectStatistics& stats, bool vector) {
  if (slot < 1 || slot >= SlotArraySize) return;
  const TImageSlot& im = Store.Image[size_t(slot)];
  stats = TRectStatistics{};
  stats.PlaneCount = im.PlaneCount;
  stats.X1 = rect.Left;
  stats.Y1 = rect.Top;
  stats.X2 = rect.Right;
  stats.Y2 = rect.Bottom;
  const int32_t x1 = std::max(rect.Left, 0), x2 = std::min(rect.Right, im.Width - 1);
  const int32_t y1 = std::max(rect.Top, 0), y2 = std::min(rect.Bottom, im.Height - 1);
  if (x2 < x1 || y2 < y1) return;
  std::vector<int> planes;
  for (int p = 1; p <= std::clamp(im.PlaneCount, 0, 3); ++p)
    if (im.Planes[size_t(p)].size() >= im.PixelCount()) planes.push_back(p);
  if (planes.empty()) return;

  const int32_t w = x2 - x1 + 1;
  const int64_t rows = int64_t(y2) - y1 + 1;
  const int64_t count = rows * int64_t(planes.size());
  auto run = [&](int p, int64_t y) { return im.Row(p, int(y)).subspan(size_t(x1), size_t(w)); };
  // Each (plane, row) pair is measured on its own and the rows are added in
  // order afterwards, so the split over threads changes nothing.
  std::vector<TRowMoments> moments(static_cast<size_t>(count));
  const bool avx2 = UseAvx2(vector);
  const int threads = BandThreads(count, std::max<int64_t>(1, (int64_t(1) << 16) / w), Options.Multicore != 0);
  ForEachBand(count, threads, [&](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k)
      moments[size_t(k)] = RowMoments(run(planes[size_t(k / rows)], y1 + k % rows).data(), w, avx2);
  });

  for (size_t i = 0; i < planes.size(); ++i) {
    const int p = planes[i];
    TPlaneStatistics& ps = stats.Plane[size_t(p - 1)];
    const std::span<const TRowMoments> rowsOf(moments.data() + i * size_t(rows), size_t(rows));
    double sum = 0, squares = 0;
    for (const TRowMoments& m : rowsOf) {
      sum += m.Sum;
      squares += m.Squares;
      ps.Count += m.Count;
      if (m.Lo < ps.Min) ps.Min = m.Lo;
      if (m.Hi > ps.Max) ps.Max = m.Hi;
    }
    // The extremes keep the first pixel in row order that holds them: the first
    // row that reached the value, and there its first pixel.
    auto locate = [&](float& value, TPointI& pos, float TRowMoments::*extreme) {
      for (int64_t r = 0; r < rows; ++r)
        if (rowsOf[size_t(r)].*extreme == value) {
          const auto values = run(p, y1 + r);
          const int32_t x = FirstEqual(values, value);
          value = values[size_t(x)];
          pos = {x1 + x, int32_t(y1 + r)};
          return;
        }
    };
    if (ps.Min < MinStart) locate(ps.Min, ps.MinPos, &TRowMoments::Lo);
    if (ps.Max > MaxStart) locate(ps.Max, ps.MaxPos, &TRowMoments::Hi);
    if (ps.Count > 1) {
      const double n = double(ps.Count);
      ps.Mean = sum / n;
      // Rounding can leave a flat region a tiny negative variance.
      ps.Variance = std::max(squares / n - ps.Mean * ps.Mean, 0.0);
    }
  }
}

std::string PlaneName(int slot, int plane) {
  static const char* const RgbNames[3] = {"Rot", "Grün", "Blau"};
  static const char* const YuvNames[3] = {"Y", "U", "V"};
  if (plane < 1 || plane > 3) return {};
  if (slot >= 0 && slot < SlotArraySize && Store.Image[size_t(slot)].ColorModel == CmYuv) return YuvNames[plane - 1];
  return LangTextOr(LangKey(7, 20 + plane), RgbNames[plane - 1]);
}

bool IsWorkRectWholeImage(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return false;
  const TImageSlot& im = Store.Image[size_t(slot)];
  return WorkRect.x1 == 0 && WorkRect.y1 == 0 && WorkRect.x2 == im.Width - 1 && WorkRect.y2 == im.Height - 1;
}

std::string RegionStatisticsText(int slot) {
  if (!SlotInUse(slot)) return {};
  const TImageSlot& im = Store.Image[size_t(slot)];
  std::string text = ExtractFileName(Store.FileName[size_t(slot)]) + "\r\n";
  const TRectI r = GetSelectionRect();
  TRectStatistics stats;
  ComputeRectStatistics(slot, r, stats);
  if (!IsWorkRectWholeImage(slot)) text += FormatRectText(r) + "\r\n";
  text += "\r\n";

  static const char* const Labels[6] = {"Mittelwert", "Varianz", "Std.Abweichung", "Minimum", "Maximum", "Pixelanzahl"};
  auto general = [](double v) { return FloatToStrF(v, TFloatFormat::General, 8, 0); };
  auto line = [&](int k, const std::string& value) { return std::string(Labels[k]) + "\t: " + value; };
  auto at = [](const TPointI& p) { return "   @ " + IntToStr(p.X) + "," + IntToStr(p.Y); };
  bool first = true;
  for (int p = 1; p <= std::min(stats.PlaneCount, 3); ++p) {
    const TPlaneStatistics& ps = stats.Plane[size_t(p - 1)];
    if (ps.Count <= 1) continue;
    if (!first) text += "\r\n\n";
    first = false;
    if (im.IsColor) text += PlaneName(slot, p) + ":\r\n";
    text += line(0, general(ps.Mean)) + "\r\n";
    text += line(1, general(ps.Variance)) + "\r\n";
    text += line(2, general(std::sqrt(ps.Variance))) + "\r\n";
    text += line(3, general(ps.Min) + at(ps.MinPos)) + "\r\n";
    text += line(4, general(ps.Max) + at(ps.MaxPos)) + "\r\n";
    text += line(5, IntToStr(ps.Count));
  }
  return text;
}

}  // namespace astrelon
