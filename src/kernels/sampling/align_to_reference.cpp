#include "kernels/sampling/align_to_reference.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/settings.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

bool PlaneFits(int slot, int plane) {
  if (slot < 0 || slot >= SlotArraySize || plane < 1 || plane > 3) return false;
  const TImageSlot& im = Store.Image[size_t(slot)];
  return im.Width > 0 && im.Height > 0 && im.Planes[size_t(plane)].size() >= im.PixelCount();
}

// Calls fn(x, y, xs, ys, inside) for every pixel of a width x height target,
// rows split over the cores.
template <typename F>
void ForEachMappedPixel(const TPointPairTransform& t, int32_t width, int32_t height, int32_t srcWidth,
                        int32_t srcHeight, F&& fn) {
  const int threads = BandThreads(height, 16, Options.Multicore != 0);
  ForEachBand(height, threads, [&](int64_t first, int64_t last) {
    for (int32_t y = int32_t(first); y < int32_t(last); ++y) {
      double xs = t.Tx - y * t.B, ys = t.Ty + y * t.A;
      for (int32_t x = 0; x < width; ++x, xs += t.A, ys += t.B)
        fn(x, y, xs, ys, InsideSecondImage(xs, ys, srcWidth, srcHeight));
    }
  });
}

// The source plane at (xs, ys): the nearest pixel for whole-pixel shifts, else
// interpolated.
inline float SampleAt(const TPlaneView& v, const TSamplingKind& k, bool whole, double xs, double ys) {
  if (whole) return v.At(int32_t(std::nearbyint(xs)), int32_t(std::nearbyint(ys)));
  return SamplePoint(v, k, float(xs), float(ys));
}

}  // namespace

void AlignImageToReference(int source, int target, int32_t count, TFloatPoint a1, TFloatPoint a2, TFloatPoint b1,
                           TFloatPoint b2) {
  if (!PlaneFits(source, 1) || !PlaneFits(target, 1)) return;
  TImageSlot& T = Store.Image[size_t(target)];
  const TImageSlot& S = Store.Image[size_t(source)];
  const bool colourTarget = T.IsColor && PlaneFits(target, 2) && PlaneFits(target, 3);
  const bool colourSource = S.IsColor && PlaneFits(source, 2) && PlaneFits(source, 3);
  SetKernelWindow(Settings.InterpolationKind);
  const TSamplingKind kind = CurrentSamplingKind();
  const TPointPairTransform t = PointPairTransform(count, a1, a2, b1, b2);
  std::array<TPlaneView, 3> src{PlaneView(source, 1), PlaneView(source, 2), PlaneView(source, 3)};
  // In place the source is read from a copy.
  std::array<std::vector<float>, 3> copies;
  if (source == target)
    for (size_t q = 0; q < 3; ++q)
      if (!src[q].Empty()) {
        copies[q].assign(src[q].Data, src[q].Data + S.PixelCount());
        src[q].Data = copies[q].data();
      }
  const int planes = colourTarget ? 3 : 1;
  std::array<float*, 3> dst{};
  for (int p = 0; p < planes; ++p) dst[size_t(p)] = T.Planes[size_t(p + 1)].data();
  ForEachMappedPixel(t, T.Width, T.Height, S.Width, S.Height,
                     [&](int32_t x, int32_t y, double xs, double ys, bool inside) {
                       const size_t i = size_t(y) * size_t(T.Width) + size_t(x);
                       std::array<float, 3> v{BlankPixel, BlankPixel, BlankPixel};
                       if (inside) {
                         if (colourTarget && colourSource) {
                           if (t.WholePixel)
                             for (size_t q = 0; q < 3; ++q) v[q] = SampleAt(src[q], kind, true, xs, ys);
                           else
                             SamplePointRgb(src, kind, float(xs), float(ys), v);
                         } else {
                           v[0] = v[1] = v[2] = SampleAt(src[0], kind, t.WholePixel, xs, ys);
                         }
                       }
                       for (int p = 0; p < planes; ++p) dst[size_t(p)][i] = v[size_t(p)];
                     });
}

void AlignColourPlane(int source, int sourcePlane, int target, int targetPlane, int32_t count, TFloatPoint a1,
                      TFloatPoint a2, TFloatPoint b1, TFloatPoint b2) {
  if (!PlaneFits(source, sourcePlane) || !PlaneFits(target, targetPlane)) return;
  TImageSlot& T = Store.Image[size_t(target)];
  const TImageSlot& S = Store.Image[size_t(source)];
  SetKernelWindow(Settings.InterpolationKind);
  const TSamplingKind kind = CurrentSamplingKind();
  const TPointPairTransform t = PointPairTransform(count, a1, a2, b1, b2);
  const TPlaneView src = PlaneView(source, sourcePlane);
  float* dst = T.Planes[size_t(targetPlane)].data();
  // In place (one plane onto itself) the source is read from a copy.
  std::vector<float> copy;
  TPlaneView view = src;
  if (source == target && sourcePlane == targetPlane) {
    copy.assign(src.Data, src.Data + S.PixelCount());
    view.Data = copy.data();
  }
  ForEachMappedPixel(
      t, T.Width, T.Height, S.Width, S.Height, [&](int32_t x, int32_t y, double xs, double ys, bool inside) {
        dst[size_t(y) * size_t(T.Width) + size_t(x)] = inside ? SampleAt(view, kind, t.WholePixel, xs, ys) : BlankPixel;
      });
}

}  // namespace astrelon
