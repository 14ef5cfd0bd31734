// The slot routines of the Gauss family: the rectangle clipped to the image,
// the planes chosen, the destination planes sized like the source's, progress
// in the window of the progress slot, and the plane routines run plane by plane
// until one is stopped.
#include <algorithm>

#include "core/settings.h"
#include "kernels/gauss/gauss_filters.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

namespace astrelon {

namespace {

template <class F>
void RunOnPlanes(int source, int destination, int plane, TWorkRect r, bool showProgress, int progressSlot,
                 const std::string& caption, TFilterPoll* poll, F&& filterPlane) {
  if (!SlotInUse(source) || !ValidSlot(destination) || (destination != source && !SlotInUse(destination))) return;
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  const int32_t W = s.Width, H = s.Height;
  r.x1 = std::max(r.x1, 0);
  r.y1 = std::max(r.y1, 0);
  r.x2 = std::min(r.x2, W - 1);
  r.y2 = std::min(r.y2, H - 1);
  if (W < 1 || H < 1 || r.x1 > r.x2 || r.y1 > r.y2) return;

  TFilterPoll local = poll ? *poll : TFilterPoll();
  if (showProgress)
    local.ShowProgressIn(progressSlot, source, caption);
  else
    local.ShowProgressIn(-1, -1, {});
  const int first = plane > 0 ? plane : 1;
  const int last = plane > 0 ? plane : s.PlaneCount;
  TGaussPlaneRun run;
  run.Vector = SseEnabled || Sse2Enabled;
  run.Poll = &local;
  for (int p = first; p <= std::min(last, 3); ++p) {
    if (p > s.PlaneCount || s.Planes[size_t(p)].size() < s.PixelCount()) continue;
    TPlane& out = d.Planes[size_t(p)];
    if (out.size() != s.Planes[size_t(p)].size()) out.resize(s.Planes[size_t(p)].size(), 0.0f);
    run.PlaneIndex = p;
    if (!filterPlane(TGaussPlane{s.Planes[size_t(p)], out, W, H, r}, run)) break;
  }
  if (showProgress) local.HideProgress();
}

}  // namespace

bool GaussPlaneUsable(const TGaussPlane& plane) {
  const int32_t W = plane.Width, H = plane.Height;
  const TWorkRect rc = plane.Rect;
  if (W < 1 || H < 1 || rc.x1 < 0 || rc.y1 < 0 || rc.x2 >= W || rc.y2 >= H || rc.x1 > rc.x2 || rc.y1 > rc.y2)
    return false;
  CheckRect(plane.Source.size(), W, H, W);
  CheckRect(plane.Destination.size(), W, H, W);
  return true;
}

void fGauss(int source, int destination, int plane, int32_t x1, int32_t x2, int32_t y1, int32_t y2, float radius,
            bool showProgress, int progressSlot, int32_t strength, const std::string& label, TFilterPoll* poll) {
  RunOnPlanes(source, destination, plane, {x1, x2, y1, y2}, showProgress, progressSlot, "fGauss" + label, poll,
              [&](const TGaussPlane& p, const TGaussPlaneRun& run) {
                return RecursiveGaussPlane(p, radius, strength, run);
              });
}

void Gauss(int source, int destination, int plane, int32_t x1, int32_t x2, int32_t y1, int32_t y2, float radius,
           bool showProgress, int progressSlot, const std::string& label, TFilterPoll* poll) {
  RunOnPlanes(source, destination, plane, {x1, x2, y1, y2}, showProgress, progressSlot, "Gauss" + label, poll,
              [&](const TGaussPlane& p, const TGaussPlaneRun& run) { return GaussPlane(p, radius, run); });
}

void sGauss(int source, int destination, int plane, int32_t x1, int32_t x2, int32_t y1, int32_t y2, float radius,
            float threshold, bool showProgress, int progressSlot, TFilterPoll* poll) {
  RunOnPlanes(source, destination, plane, {x1, x2, y1, y2}, showProgress, progressSlot, "sGauss", poll,
              [&](const TGaussPlane& p, const TGaussPlaneRun& run) {
                return SelectiveGaussPlane(p, radius, threshold, run);
              });
}

}  // namespace astrelon
