#include "filters/sharpening/iterative_gauss_sharpen.h"

#include <algorithm>
#include <array>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "filters/dialog/filter_state.h"
#include "filters/dialog/pixel_filter_frame.h"
#include "filters/sharpening/cores/kept_cores.h"
#include "filters/sharpening/gauss_sharpen_passes.h"
#include "filters/sharpening/iterative_sharpen_levels.h"
#include "filters/sharpening/balance/sharpen_flux_balance.h"
#include "kernels/gauss/filter_rows.h"
#include "kernels/gauss/gauss_filters.h"
#include "platform/processor_features.h"
#include "store/load_messages.h"

namespace astrelon {

namespace {

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

// Gauss of plane p of `slot` into `out` (resized to the plane) over the
// rectangle, with the slot routine's progress: the work plane is blurred out of
// place into a buffer kept over the iterations, which spares the copy of the
// source that blurring in place takes each time. False when the poll stopped it.
bool BlurPlaneInto(int slot, int p, TPlane& out, const TWorkRect& r, float radius, int progressSlot,
                   const std::string& label, const TFilterPoll& poll) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  out.resize(im.PixelCount());
  TFilterPoll local = poll;
  local.ShowProgressIn(progressSlot, slot, "Gauss" + label);
  TGaussPlaneRun run;
  run.Vector = SseEnabled || Sse2Enabled;
  run.Poll = &local;
  run.PlaneIndex = p;
  const bool done = GaussPlane({im.Planes[size_t(p)], out, im.Width, im.Height, r}, radius, run);
  local.HideProgress();
  return done;
}

}  // namespace

void IterativeGaussSharpen(TFilterCall& c, const std::function<float()>& strength, bool balanced, bool keepCores) {
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
  TCallPlanes planes(c);
  auto selected = [&](int p) {
    return c.Planes[size_t(p)] && planes.Usable(p) &&
           Store.Image[size_t(blur)].Planes[size_t(p)].size() == src.PixelCount() &&
           Store.Image[size_t(work)].Planes[size_t(p)].size() == src.PixelCount();
  };
  // Each plane's own levels (iterative_sharpen_levels.h), and the cores the
  // run shows kept (kept_cores.h).
  std::array<TGaussSharpenLevels, 4> levels{};
  TKeptCores kept;
  for (int p = 1; p <= 3; ++p) {
    if (!selected(p)) continue;
    const TGaussSharpenLevels& l = levels[size_t(p)] =
        GaussSharpenLevels(c.Source, p, c.Value[3] * 0.01f, c.Checked[1], radius);
    if (keepCores)
      kept.Prepare(p, src.Planes[size_t(p)], src.Width, src.Height, r, l.Background, l.Noise, l.Clip);
  }
  // The blurred work of the plane being applied, and the flux balance.
  TPlane blurredWork;
  TFluxBalance balance(balanced ? r : TWorkRect{0, -1, 0, -1});
  const bool vector = SseEnabled || Sse2Enabled;
  // A per-pixel step over the rectangle's rows on all threads.
  using TStepRows = void (*)(const TGaussSharpenPlanes&, const TGaussSharpenStep&, int64_t, int64_t, bool);
  auto pass = [&](const TGaussSharpenPlanes& views, TStepRows rows) {
    ForEachChunk(
        r.y1, int64_t(r.y2) + 1, int64_t(r.x2) - r.x1 + 1,
        [&](int64_t y0, int64_t y1) { rows(views, st, y0, y1, Sse2Enabled); }, [](int64_t) { return true; });
  };

  bool stopped = r.x2 - r.x1 < 2 || r.y2 - r.y1 < 2;
  for (int32_t it = 1; it <= iterations && !stopped && !poll.Stopped(); ++it) {
    st.K = std::min((strength ? strength() : c.Value[3]) * 0.01f, 1.4f);
    const std::string label = " I:" + IntToStr(it);
    for (int p = 1; p <= 3; ++p)
      if (selected(p)) kept.Resume(p, planes.Dst.Planes[size_t(p)]);
    for (int p = 1; p <= 3 && !stopped; ++p) {
      if (!selected(p)) continue;
      Gauss(c.Destination, blur, p, r.x1, r.x2, r.y1, r.y2, radius, true, c.Destination, label, &poll);
      stopped = poll.Stopped();
    }
    // Plane by plane (the planes do not meet): the work with the heights, the
    // work blurred with half the radius, the balance, the application and the
    // light given back. The destination's blur is the PSF.
    for (int p = 1; p <= 3 && !stopped; ++p) {
      if (!selected(p)) continue;
      st.Levels = levels[size_t(p)];
      TGaussSharpenPlanes views{planes.In(p), planes.Out(p), Store.Image[size_t(blur)].Planes[size_t(p)].data(),
                                Store.Image[size_t(work)].Planes[size_t(p)].data(), src.Width, r};
      TBalanceRows rows;
      if (balanced) {
        if (it == 1)
          balance.Prepare(p, src.Planes[size_t(p)], src.Width, src.Height, radius, st.Levels.Lo,
                          st.Levels.Hi - st.Levels.Lo, st.Levels.Noise, vector);
        rows = balance.Rows(p);
        views.Balance = &rows;
      }
      pass(views, GaussSharpenWorkRows);
      if (balanced) balance.Mark(p);
      stopped = !BlurPlaneInto(work, p, blurredWork, r, radius / 2, c.Destination, label, poll) || poll.Stopped();
      if (stopped) break;
      views.Work = blurredWork.data();
      pass(views, GaussSharpenApplyRows);
      if (balanced)
        balance.GiveBack(p, planes.Out(p), src.Width, {planes.In(p), st.Levels.Sat}, st.Levels.Step, vector);
    }
    for (int p = 1; p <= 3; ++p)
      if (selected(p)) kept.Show(p, planes.Dst.Planes[size_t(p)]);
    if (!stopped && c.Redraw) c.Redraw(c.Destination);
  }
  ReleaseFilterSlot(FilterWorkSlot);
  EndFilterRun(poll, !poll.Stopped());
}

}  // namespace astrelon
