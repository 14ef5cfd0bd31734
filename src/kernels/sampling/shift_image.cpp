#include "kernels/sampling/shift_image.h"

#include <vector>

#include "core/settings.h"
#include "kernels/regions/rect_runs.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// A position inside -1 < pos < n is sampled; others are blank.
inline bool Reaches(double pos, int32_t n) { return pos > -1 && pos < n; }

// Resamples the plane along x (alongX) or y into `out` from `in`.
void ShiftPass(const std::vector<float>& in, float* out, int32_t w, int32_t h, double d, bool alongX,
               const TSamplingKind& kind) {
  const int64_t lines = alongX ? h : w;
  ForEachBand(lines, BandThreads(lines, 16, Options.Multicore != 0), [&](int64_t first, int64_t last) {
    const TPlaneView view{in.data(), w, h};
    for (int64_t l = first; l < last; ++l) {
      if (alongX) {
        const int32_t y = int32_t(l);
        const float* line = in.data() + size_t(y) * size_t(w);
        for (int32_t x = 0; x < w; ++x) {
          const double pos = x + d;
          float v = BlankPixel;
          if (Reaches(pos, w))
            v = kind.Kind == IkNeuro ? SamplePoint(view, kind, float(pos), float(y))
                                     : SampleLine(line, 1, w, kind, float(pos));
          out[size_t(y) * size_t(w) + size_t(x)] = v;
        }
      } else {
        const int32_t x = int32_t(l);
        for (int32_t y = 0; y < h; ++y) {
          const double pos = y + d;
          out[size_t(y) * size_t(w) + size_t(x)] =
              Reaches(pos, h) ? SampleLine(in.data() + x, w, h, kind, float(pos)) : BlankPixel;
        }
      }
    }
  });
}

}  // namespace

void ShiftImage(int slot, double dx, double dy) {
  if (slot < 0 || slot >= SlotArraySize) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t w = im.Width, h = im.Height;
  if (w < 1 || h < 1) return;
  SetKernelWindow(Settings.InterpolationKind);
  const TSamplingKind kind = CurrentSamplingKind();
  const TPlaneList planes = SelectedChannels(slot);
  for (const int32_t p : planes.Planes()) {
    TPlane& plane = im.Planes[size_t(p)];
    if (plane.size() < im.PixelCount()) continue;
    std::vector<float> in(plane.begin(), plane.begin() + ptrdiff_t(im.PixelCount()));
    if (dx != 0 && dy != 0 && kind.Kind == IkNeuro) {
      const TPlaneView view{in.data(), w, h};
      ForEachBand(h, BandThreads(h, 16, Options.Multicore != 0), [&](int64_t first, int64_t last) {
        for (int32_t y = int32_t(first); y < int32_t(last); ++y)
          for (int32_t x = 0; x < w; ++x)
            plane[size_t(y) * size_t(w) + size_t(x)] = Reaches(x + dx, w) && Reaches(y + dy, h)
                                                           ? SamplePoint(view, kind, float(x + dx), float(y + dy))
                                                           : BlankPixel;
      });
      continue;
    }
    if (dx != 0) {
      ShiftPass(in, plane.data(), w, h, dx, true, kind);
      if (dy != 0) in.assign(plane.begin(), plane.begin() + ptrdiff_t(im.PixelCount()));
    }
    if (dy != 0) ShiftPass(in, plane.data(), w, h, dy, false, kind);
  }
}

}  // namespace astrelon
