#include "filters/iterative_gauss_sharpen.h"

#include <algorithm>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "filters/filter_rows.h"
#include "filters/filter_state.h"
#include "filters/gauss_filters.h"
#include "filters/iterative_sharpen_levels.h"
#include "filters/pixel_filter_frame.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/load_messages.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using namespace simd;

// One plane of an iteration: the source, the destination, its blur and the work plane.
struct TGaussSharpenPlanes {
  const float* Source = nullptr;
  float* Dest = nullptr;
  const float* Blur = nullptr;
  float* Work = nullptr;
};

struct TGaussSharpenStep {
  float K = 0;  // strength of this iteration
  TGaussSharpenLevels Levels;
};

// work = (source - blur)·k, no darkening above the saturation level; blank
// where the source or the blur is.
template <class V>
[[gnu::always_inline]] inline V WorkLanes(V s, V b, const TGaussSharpenStep& st) {
  const V limit = Splat<V>(BlankLimit), zero = Splat<V>(0.0f);
  const V w = (s - b) * Splat<V>(st.K);
  const V kept = (s > Splat<V>(st.Levels.Sat)) & (w < zero) ? zero : w;
  return (s > limit) & (b > limit) ? kept : Splat<V>(BlankPixel);
}

// The destination after the blurred work: values at or below lo stay, a value
// above hi falls at most to hi.
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
  const V change = u * e * SoftStep(u, l.W) * m;
  const V moved = d + change;
  const V res = (d > hi) & (moved < hi) ? hi : moved;
  return (work > limit) & (d > lo) ? res : d;
}

// The two per-pixel steps: At<V> does the pixels i .. i + lanes - 1.
struct TWorkStep {
  template <class V>
  [[gnu::always_inline]] static void At(const TGaussSharpenPlanes& p, int64_t i, const TGaussSharpenStep& st) {
    StoreLanes(p.Work + i, WorkLanes<V>(LoadLanes<V>(p.Source + i), LoadLanes<V>(p.Blur + i), st));
  }
};
struct TApplyStep {
  template <class V>
  [[gnu::always_inline]] static void At(const TGaussSharpenPlanes& p, int64_t i, const TGaussSharpenStep& st) {
    StoreLanes(p.Dest + i, ApplyLanes<V>(LoadLanes<V>(p.Dest + i), LoadLanes<V>(p.Source + i),
                                         LoadLanes<V>(p.Blur + i), LoadLanes<V>(p.Work + i), st));
  }
};

// A step over n pixels from index `from`, V lanes at a time, the rest one by one.
template <class V, class Step>
[[gnu::always_inline]] inline void StepRow(const TGaussSharpenPlanes& p, int64_t from, int64_t n,
                                           const TGaussSharpenStep& st) {
  int64_t i = from;
  for (; i + LaneCount<V> <= from + n; i += LaneCount<V>) Step::template At<V>(p, i, st);
  for (; i < from + n; ++i) Step::template At<float>(p, i, st);
}

template <class Step>
void StepRowPlain(const TGaussSharpenPlanes& p, int64_t from, int64_t n, const TGaussSharpenStep& st) {
  StepRow<float, Step>(p, from, n, st);
}
template <class Step>
void StepRowSse(const TGaussSharpenPlanes& p, int64_t from, int64_t n, const TGaussSharpenStep& st) {
  StepRow<TVec4f, Step>(p, from, n, st);
}
#if ASTRELON_HAVE_AVX2
template <class Step>
ASTRELON_AVX2 void StepRowAvx2(const TGaussSharpenPlanes& p, int64_t from, int64_t n, const TGaussSharpenStep& st) {
  StepRow<TVec8f, Step>(p, from, n, st);
}
#endif

using TRowRoutine = void (*)(const TGaussSharpenPlanes&, int64_t, int64_t, const TGaussSharpenStep&);

// The widest path the switches allow.
template <class Step>
TRowRoutine PickRow() {
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(Sse2Enabled)) return StepRowAvx2<Step>;
#endif
  return Sse2Enabled ? StepRowSse<Step> : StepRowPlain<Step>;
}

// A work slot of the dialog holding a copy of `from`: the one it holds, else
// a free slot. False when none is free.
bool TakeWorkSlot(int32_t& slot, int from) {
  if (!SlotInUse(slot) || Store.HasWindow[size_t(slot)]) slot = FindFreeSlot();
  if (slot < 1) {
    slot = -1;
    return false;
  }
  return CopyImageSlot(from, slot);
}

}  // namespace

void IterativeGaussSharpen(TFilterCall& c, const std::function<float()>& strength) {
  FilterAborted = false;
  if (!PrepareCall(c)) return;
  // Both slots are taken first, so that nothing changes when one cannot be had.
  const bool blurHeld = SlotInUse(FilterBlurSlot) && !Store.HasWindow[size_t(FilterBlurSlot)];
  if (!TakeWorkSlot(FilterBlurSlot, c.Destination) || !TakeWorkSlot(FilterWorkSlot, c.Destination)) {
    if (!blurHeld) ReleaseFilterSlot(FilterBlurSlot);
    ReleaseFilterSlot(FilterWorkSlot);
    EngineUi().ShowMessage(TooManyImagesText());
    return;
  }
  TFilterPoll fallback;
  TFilterPoll& poll = c.Poll ? *c.Poll : fallback;
  const TImageSlot& src = Store.Image[size_t(c.Source)];
  for (int p = 1; p <= std::min(src.PlaneCount, 3); ++p) CopyPlane(c.Source, p, c.Destination, p);

  const TWorkRect r = c.Rect;
  const int32_t iterations = SharpenIterations(c.Value[2]);
  const float radius = c.Value[1];
  const int blur = FilterBlurSlot, work = FilterWorkSlot;
  TGaussSharpenStep st;
  st.Levels = GaussSharpenLevels(c.Source, c.Value[3] * 0.01f, c.Checked[1], radius);
  const TRowRoutine workRow = PickRow<TWorkStep>();
  const TRowRoutine applyRow = PickRow<TApplyStep>();
  TCallPlanes planes(c);
  auto selected = [&](int p) {
    return c.Planes[size_t(p)] && planes.Usable(p) &&
           Store.Image[size_t(blur)].Planes[size_t(p)].size() == src.PixelCount() &&
           Store.Image[size_t(work)].Planes[size_t(p)].size() == src.PixelCount();
  };
  auto plane = [&](int p) {
    return TGaussSharpenPlanes{planes.In(p), planes.Out(p), Store.Image[size_t(blur)].Planes[size_t(p)].data(),
                               Store.Image[size_t(work)].Planes[size_t(p)].data()};
  };
  // A per-pixel pass over the rectangle's rows on all threads.
  auto pass = [&](int p, TRowRoutine row) {
    const TGaussSharpenPlanes views = plane(p);
    const int64_t n = int64_t(r.x2) - r.x1 + 1;
    ForEachChunk(
        r.y1, int64_t(r.y2) + 1, n,
        [&](int64_t y0, int64_t y1) {
          for (int64_t y = y0; y < y1; ++y) row(views, y * src.Width + r.x1, n, st);
        },
        [](int64_t) { return true; });
  };

  bool stopped = r.x2 - r.x1 < 2 || r.y2 - r.y1 < 2;
  for (int32_t it = 1; it <= iterations && !stopped && !poll.Stopped(); ++it) {
    st.K = std::min((strength ? strength() : c.Value[3]) * 0.01f, 1.4f);
    const std::string label = " I:" + IntToStr(it);
    for (int p = 1; p <= 3 && !stopped; ++p) {
      if (!selected(p)) continue;
      Gauss(c.Destination, blur, p, r.x1, r.x2, r.y1, r.y2, radius, true, c.Destination, label, &poll);
      stopped = poll.Stopped();
    }
    for (int p = 1; p <= 3 && !stopped; ++p)
      if (selected(p)) pass(p, workRow);
    for (int p = 1; p <= 3 && !stopped; ++p) {
      if (!selected(p)) continue;
      Gauss(work, work, p, r.x1, r.x2, r.y1, r.y2, radius / 2, true, c.Destination, label, &poll);
      stopped = poll.Stopped();
    }
    for (int p = 1; p <= 3 && !stopped; ++p)
      if (selected(p)) pass(p, applyRow);
    if (!stopped && c.Redraw) c.Redraw(c.Destination);
  }
  ReleaseFilterSlot(FilterWorkSlot);
  EndFilterRun(poll, !poll.Stopped());
}

}  // namespace astrelon
