#include "pixelops/resample_image.h"

#include <array>
#include <cmath>

#include "core/busy_cursor.h"
#include "pixelops/resample_steps.h"
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
// that a failure (out of memory) leaves it as it was.
struct TWorkPlanes {
  TImageSlot& Slot;
  int32_t Width, Height;
  std::array<TPlane, 4> Work;

  const TPlane& Plane(int p) const { return Work[size_t(p)].empty() ? Slot.Planes[size_t(p)] : Work[size_t(p)]; }
  // Applies a step to every plane; the step gives the new plane.
  template <typename F>
  void Each(int32_t newWidth, int32_t newHeight, F&& step) {
    for (int p = 1; p <= Slot.PlaneCount; ++p) Work[size_t(p)] = step(Plane(p));
    Width = newWidth;
    Height = newHeight;
  }
  void Commit() {
    for (int p = 1; p <= Slot.PlaneCount; ++p)
      if (!Work[size_t(p)].empty()) Slot.Planes[size_t(p)] = std::move(Work[size_t(p)]);
    Slot.Width = Width;
    Slot.Height = Height;
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
  if (slot < 0 || slot >= SlotArraySize || kind < 0 || kind >= KernelKindCount) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Width < 1 || im.Height < 1 || im.PlaneCount < 1 || im.PlaneCount > 3) return;
  for (int p = 1; p <= im.PlaneCount; ++p)
    if (im.Planes[size_t(p)].size() < im.PixelCount()) return;

  const TBusyCursorScope busy;
  const TInterpolationKindScope kindScope(kind);
  TWorkPlanes planes{im, im.Width, im.Height, {}};
  int32_t& w = planes.Width;
  int32_t& h = planes.Height;
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

  if (boxFilter) {
    if (const int32_t nx = BlockFactor(w, newWidth)) {
      planes.Each(w / nx, h, [&](const TPlane& s) { return BlockMeans(s, w, h, TResampleAxis::X, nx); });
      ratioX = 1;
    }
    if (const int32_t ny = BlockFactor(h, newHeight)) {
      planes.Each(w, h / ny, [&](const TPlane& s) { return BlockMeans(s, w, h, TResampleAxis::Y, ny); });
      ratioY = 1;
    }
    if (ratioX < 1 || ratioY < 1) {
      // The enlarged axis (if any) keeps its size here; its interpolation follows.
      const bool boxX = !(1 / ratioX < 1), boxY = !(1 / ratioY < 1);
      const float sx = boxX ? float(1 / ratioX) : 1.0f, sy = boxY ? float(1 / ratioY) : 1.0f;
      const int32_t nw = boxX ? newWidth : w, nh = boxY ? newHeight : h;
      planes.Each(nw, nh, [&](const TPlane& s) { return BoxMeans(s, w, h, sx, sy, nw, nh); });
      if (sx > 1) ratioX = 1;
      if (sy > 1) ratioY = 1;
    }
  }

  const TSamplingKind current = CurrentSamplingKind();
  auto axisSteps = [&](TResampleAxis axis, double& ratio) {
    const bool alongX = axis == TResampleAxis::X;
    auto length = [&] { return alongX ? w : h; };
    auto resize = [&](int32_t n, auto&& step) {
      planes.Each(alongX ? n : w, alongX ? h : n, [&](const TPlane& s) { return step(s); });
    };
    if (antiMoire && ratio < 1) {
      const int32_t n = ScaledSide(length(), ratio);
      if (n != length() && n >= 1) {
        resize(n, [&](const TPlane& s) { return AntiMoireAxis(s, w, h, axis, n, ratio, current); });
        ratio = 1;
      }
    }
    if (ratio != 1) {
      const int32_t n = ScaledSide(length(), ratio);
      if (n != length() && n >= 1)
        resize(n, [&](const TPlane& s) { return InterpolateAxis(s, w, h, axis, n, ratio, kind); });
    }
  };
  axisSteps(TResampleAxis::X, ratioX);
  axisSteps(TResampleAxis::Y, ratioY);
  planes.Commit();
}

}  // namespace astrelon
