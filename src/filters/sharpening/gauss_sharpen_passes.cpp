#include "filters/sharpening/gauss_sharpen_passes.h"

#include <algorithm>
#include <type_traits>

#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

// The vector helpers are always inlined, so the calling convention of 32-byte
// vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using namespace simd;

// work = (source - blur)·k, no darkening above the saturation level; blank
// where the source or the blur is.
template <class V>
[[gnu::always_inline]] inline V WorkLanes(V s, V b, const TGaussSharpenStep& st) {
  const V limit = Splat<V>(BlankLimit), zero = Splat<V>(0.0f);
  const V w = (s - b) * Splat<V>(st.K);
  const V kept = (s > Splat<V>(st.Levels.Sat)) & (w < zero) ? zero : w;
  return (s > limit) & (b > limit) ? kept : Splat<V>(BlankPixel);
}

// The destination after the blurred work: values at or below lo stay; a value
// above hi falls at most to hi; where the source stands above the saturation
// level, nothing is darkened (the blurred work carries the darkening of the
// neighbours there).
template <class V>
[[gnu::always_inline]] inline V ApplyLanes(V d, V s, V b, V work, const TGaussSharpenStep& st) {
  const TGaussSharpenLevels& l = st.Levels;
  const V limit = Splat<V>(BlankLimit), zero = Splat<V>(0.0f), one = Splat<V>(1.0f);
  const V lo = Splat<V>(l.Lo), hi = Splat<V>(l.Hi);
  const V db = b - lo;
  const V delta = LaneMax(db < zero ? -db : db, Splat<V>(l.A));
  const V e = LaneMin((d - lo) / delta, one);
  const V u = work * Splat<V>(st.K);
  const V m = LaneMin(LaneMax((s - lo) * Splat<V>(l.D), zero), one);
  const V asked = u * e * SoftStep(u, l.W) * m;
  const V change = (s > Splat<V>(l.Sat)) & (asked < zero) ? zero : asked;
  const V moved = d + change;
  const V res = (d > hi) & (moved < hi) ? hi : moved;
  return (work > limit) & (d > lo) ? res : d;
}

// The per-pixel steps: At<V> does the pixels i .. i + lanes - 1 of the image
// planes, j .. j + lanes - 1 of the balance's arrays.
struct TWorkStep {
  template <class V>
  [[gnu::always_inline]] static void At(const TGaussSharpenPlanes& p, int64_t i, int64_t,
                                        const TGaussSharpenStep& st) {
    StoreLanes(p.Work + i, WorkLanes<V>(LoadLanes<V>(p.Source + i), LoadLanes<V>(p.Blur + i), st));
  }
};
struct TApplyStep {
  template <class V>
  [[gnu::always_inline]] static void At(const TGaussSharpenPlanes& p, int64_t i, int64_t,
                                        const TGaussSharpenStep& st) {
    StoreLanes(p.Dest + i, ApplyLanes<V>(LoadLanes<V>(p.Dest + i), LoadLanes<V>(p.Source + i),
                                         LoadLanes<V>(p.Blur + i), LoadLanes<V>(p.Work + i), st));
  }
};
// The application recording the changes for the balance: the plain step asks
// for u = work·k; nothing where the work or the destination is blank.
struct TApplyRecordStep {
  template <class V>
  [[gnu::always_inline]] static void At(const TGaussSharpenPlanes& p, int64_t i, int64_t j,
                                        const TGaussSharpenStep& st) {
    const V before = LoadLanes<V>(p.Dest + i), work = LoadLanes<V>(p.Work + i);
    const V after = ApplyLanes<V>(before, LoadLanes<V>(p.Source + i), LoadLanes<V>(p.Blur + i), work, st);
    StoreLanes(p.Dest + i, after);
    const V limit = Splat<V>(BlankLimit), zero = Splat<V>(0.0f);
    const auto valid = (work > limit) & (before > limit);
    StoreLanes(p.Balance->Wanted + j, valid ? work * Splat<V>(st.K) : zero);
    StoreLanes(p.Balance->Made + j, valid ? after - before : zero);
  }
};

// A step over n pixels from index `from` of the image planes (`at` of the
// balance's arrays), V lanes at a time, the rest one by one.
template <class V, class Step>
[[gnu::always_inline]] inline void StepRow(const TGaussSharpenPlanes& p, int64_t from, int64_t at, int64_t n,
                                           const TGaussSharpenStep& st) {
  int64_t k = 0;
  for (; k + LaneCount<V> <= n; k += LaneCount<V>) Step::template At<V>(p, from + k, at + k, st);
  for (; k < n; ++k) Step::template At<float>(p, from + k, at + k, st);
}

// The rows y0 .. y1 - 1 of the rectangle, V lanes wide.
template <class V, class Step>
[[gnu::always_inline]] inline void StepRows(const TGaussSharpenPlanes& p, const TGaussSharpenStep& st, int64_t y0,
                                            int64_t y1) {
  const int64_t n = int64_t(p.Rect.x2) - p.Rect.x1 + 1;
  for (int64_t y = y0; y < y1; ++y) {
    const int64_t at = y * p.Width + p.Rect.x1, row = y - p.Rect.y1;
    if (std::is_same_v<Step, TApplyStep> && p.Balance) {
      // Block by block (whole vectors each), recording where the balance needs it.
      for (int64_t x = 0; x < n; x += BalanceBlock) {
        const int64_t len = std::min<int64_t>(BalanceBlock, n - x);
        if (p.Balance->NeedsChanges(row, int32_t(x)))
          StepRow<V, TApplyRecordStep>(p, at + x, p.Balance->Index(row, int32_t(x)), len, st);
        else
          StepRow<V, TApplyStep>(p, at + x, 0, len, st);
      }
      continue;
    }
    StepRow<V, Step>(p, at, row * n, n, st);
    if (std::is_same_v<Step, TWorkStep> && p.Balance) BalanceHeightRow<V>(*p.Balance, row, p.Dest + at, p.Blur + at);
  }
}

#if ASTRELON_HAVE_AVX2
template <class Step>
ASTRELON_AVX2 void StepRowsAvx2(const TGaussSharpenPlanes& p, const TGaussSharpenStep& st, int64_t y0, int64_t y1) {
  StepRows<TVec8f, Step>(p, st, y0, y1);
}
#endif

// The widest path the switches allow.
template <class Step>
void Run(const TGaussSharpenPlanes& p, const TGaussSharpenStep& st, int64_t y0, int64_t y1, bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return StepRowsAvx2<Step>(p, st, y0, y1);
#endif
  if (vector) return StepRows<TVec4f, Step>(p, st, y0, y1);
  StepRows<float, Step>(p, st, y0, y1);
}

}  // namespace

void GaussSharpenWorkRows(const TGaussSharpenPlanes& p, const TGaussSharpenStep& st, int64_t y0, int64_t y1,
                          bool vector) {
  Run<TWorkStep>(p, st, y0, y1, vector);
}

void GaussSharpenApplyRows(const TGaussSharpenPlanes& p, const TGaussSharpenStep& st, int64_t y0, int64_t y1,
                           bool vector) {
  Run<TApplyStep>(p, st, y0, y1, vector);
}

}  // namespace astrelon
