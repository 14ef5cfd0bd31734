#include "kernels/sampling/resample_image.h"

#include <array>
#include <algorithm>
#include <cmath>
#include <new>
#include <optional>

#include "core/busy_cursor.h"
#include "kernels/sampling/resample_steps.h"
#include "platform/big_buffers.h"
#include "platform/memory_probe.h"
#include "store/image_store.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

int32_t ScaledSide(int32_t n, double ratio) {
  const double v = 2.0 * n * ratio + 0.1;
  if (!(v < 1e9)) return INT32_MAX;
  if (!(v >= 0)) return 0;
  return int32_t(v) / 2;
}

namespace {

// The planes while the steps run; the slot keeps its own until all are done, so
// that a failure (out of memory) leaves it as it was. A row plan waits for the
// column plan that may follow, so that the two run as one pass.
struct TWorkPlanes {
  TImageSlot& Slot;
  int32_t Width, Height;  // of the planes held
  std::array<TPlane, 4> Work{};
  std::optional<TAxisPlan> PendingRows;

  const TPlane& Plane(int p) const { return Work[size_t(p)].empty() ? Slot.Planes[size_t(p)] : Work[size_t(p)]; }
  // The width once the waiting row plan has run.
  int32_t LogicalWidth() const { return PendingRows ? PendingRows->N : Width; }
  // Applies a step to every plane; the step gives the new plane.
  template <typename F>
  void Each(int32_t newWidth, int32_t newHeight, F&& step) {
    for (int p = 1; p <= Slot.PlaneCount; ++p) Work[size_t(p)] = step(Plane(p));
    Width = newWidth;
    Height = newHeight;
  }
  void Run(const TAxisPlan* x, const TAxisPlan* y) {
    Each(x ? x->N : Width, y ? y->N : Height, [&](const TPlane& s) { return RunPlans(s, Width, Height, x, y); });
  }
  void Flush() {
    if (!PendingRows) return;
    Run(&*PendingRows, nullptr);
    PendingRows.reset();
  }
  void Add(TAxisPlan plan) {
    if (plan.Axis == TResampleAxis::X) {
      Flush();
      PendingRows = std::move(plan);
    } else {
      Run(PendingRows ? &*PendingRows : nullptr, &plan);
      PendingRows.reset();
    }
  }
  void Commit() {
    Flush();
    std::array<TPlane, 4> old;
    size_t oldBytes = 0;
    for (int p = 1; p <= Slot.PlaneCount; ++p)
      if (!Work[size_t(p)].empty()) {
        old[size_t(p)] = std::move(Slot.Planes[size_t(p)]);
        oldBytes += old[size_t(p)].size() * sizeof(float);
        Slot.Planes[size_t(p)] = std::move(Work[size_t(p)]);
      }
    Slot.Width = Width;
    Slot.Height = Height;
    ReleaseInBackground(std::move(old), oldBytes);
  }
};

// The integer block along an axis: the factor when `length` is an exact
// multiple of `target` (at least 2), else 0.
int32_t BlockFactor(int32_t length, int32_t target) {
  const float q = float(length) / float(target);
  const float n = std::nearbyint(q);
  if (!(n > 1) || !(std::fabs(q - n) * float(target) < 0.5f)) return 0;
  return int32_t(n);
}

}  // namespace

void ResampleImage(int slot, int32_t kind, int32_t newWidth, double ratioX, double ratioY, int32_t newHeight,
                   bool sizesGiven, bool antiMoire, bool boxFilter) {
  if (slot < 0 || slot >= SlotArraySize) return;
  ResampleImage(Store.Image[size_t(slot)], kind, newWidth, ratioX, ratioY, newHeight, sizesGiven, antiMoire, boxFilter);
}

void ResampleImage(TImageSlot& im, int32_t kind, int32_t newWidth, double ratioX, double ratioY, int32_t newHeight,
                   bool sizesGiven, bool antiMoire, bool boxFilter) {
  if (kind < 0 || kind >= KernelKindCount) return;
  if (im.Width < 1 || im.Height < 1 || im.PlaneCount < 1 || im.PlaneCount > 3) return;
  for (int p = 1; p <= im.PlaneCount; ++p)
    if (im.Planes[size_t(p)].size() < im.PixelCount()) return;

  const TBusyCursorScope busy;
  const TInterpolationKindScope kindScope(kind);
  TWorkPlanes planes{im, im.Width, im.Height, {}, {}};
  int32_t w = im.Width;
  const int32_t& h = planes.Height;
  if (sizesGiven) {
    ratioX = double(newWidth) / w;
    ratioY = double(newHeight) / h;
  } else {
    newWidth = ScaledSide(w, ratioX);
    newHeight = ScaledSide(h, ratioY);
  }
  // A side below 1 pixel has nothing to average over or sample at.
  if (!(ratioX > 0 && ratioY > 0) || newWidth < 1 || newHeight < 1 || newWidth >= ResampleSizeLimit ||
      newHeight >= ResampleSizeLimit)
    return;
  // An enlargement is refused before anything is allocated when its largest
  // step (the wider of the widths over the taller of the heights) does not fit.
  if ((newWidth > w || newHeight > h) && !NewPlanesFit(std::max(w, newWidth), std::max(h, newHeight), im.PlaneCount))
    throw std::bad_alloc();

  auto width = [&] { return planes.LogicalWidth(); };
  if (boxFilter) {
    if (const int32_t nx = BlockFactor(width(), newWidth)) {
      planes.Add(BlockPlan(TResampleAxis::X, width(), nx));
      ratioX = 1;
    }
    if (const int32_t ny = BlockFactor(h, newHeight)) {
      planes.Add(BlockPlan(TResampleAxis::Y, h, ny));
      ratioY = 1;
    }
    if (ratioX < 1 || ratioY < 1) {
      // The enlarged axis (if any) keeps its size here; its interpolation follows.
      const bool boxX = !(1 / ratioX < 1), boxY = !(1 / ratioY < 1);
      const float sx = boxX ? float(1 / ratioX) : 1.0f, sy = boxY ? float(1 / ratioY) : 1.0f;
      const int32_t nw = boxX ? newWidth : width(), nh = boxY ? newHeight : h;
      if (auto plan = BoxPlan(width(), h, sx, sy, nw, nh)) {
        planes.Add(std::move(*plan));
      } else {
        planes.Flush();
        planes.Each(nw, nh, [&](const TPlane& s) { return BoxMeans(s, planes.Width, h, sx, sy, nw, nh); });
      }
      if (sx > 1) ratioX = 1;
      if (sy > 1) ratioY = 1;
    }
  }

  const TSamplingKind current = CurrentSamplingKind();
  auto axisSteps = [&](TResampleAxis axis, double& ratio) {
    auto length = [&] { return axis == TResampleAxis::X ? width() : h; };
    if (antiMoire && ratio < 1) {
      const int32_t n = ScaledSide(length(), ratio);
      if (n != length() && n >= 1) {
        planes.Add(AntiMoirePlan(axis, length(), n, ratio, current));
        ratio = 1;
      }
    }
    if (ratio != 1) {
      const int32_t n = ScaledSide(length(), ratio);
      if (n != length() && n >= 1) planes.Add(InterpolationPlan(axis, length(), n, ratio, kind));
    }
  };
  axisSteps(TResampleAxis::X, ratioX);
  axisSteps(TResampleAxis::Y, ratioY);
  planes.Commit();
}

}  // namespace astrelon
