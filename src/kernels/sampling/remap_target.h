#pragma once
// A source image and a destination of the same size for routines that fill
// every destination pixel from a computed source position: views of the
// source planes, the destination planes, and the sampling of one pixel.
#include <array>
#include <cstdint>
#include <optional>

#include "kernels/sampling/subpixel_samplers.h"
#include "store/image_store.h"

namespace astrelon {

struct TRemapTarget {
  int32_t Width = 0, Height = 0, Planes = 0;
  std::array<TPlaneView, 3> Source{};
  std::array<float*, 3> Out{};
  TSamplingKind Kind{};

  // A colour image (three planes) is sampled in one pass over the window.
  bool Colour() const { return Planes == 3; }
  void Blank(size_t i) const {
    for (int32_t p = 0; p < Planes; ++p) Out[size_t(p)][i] = BlankPixel;
  }
  // Every plane at (x, y) into pixel i (InterpolatePixel for each plane of an
  // image with fewer than three planes, InterpolatePixelRgb for a colour one).
  void Sample(size_t i, float x, float y) const {
    if (Colour()) {
      std::array<float, 3> v;
      SamplePointRgb(Source, Kind, x, y, v);
      for (size_t p = 0; p < 3; ++p) Out[p][i] = v[p];
    } else {
      for (int32_t p = 0; p < Planes; ++p) Out[size_t(p)][i] = SamplePoint(Source[size_t(p)], Kind, x, y);
    }
  }
};

// The target for src -> dst with the current interpolation kind; nullopt when
// either slot holds no image, dst is src, or their sizes or plane counts differ.
inline std::optional<TRemapTarget> MakeRemapTarget(int src, int dst) {
  if (!SlotInUse(src) || !SlotInUse(dst) || src == dst) return std::nullopt;
  const TImageSlot& s = Store.Image[size_t(src)];
  TImageSlot& d = Store.Image[size_t(dst)];
  if (s.Width < 1 || s.Height < 1 || s.Width != d.Width || s.Height != d.Height) return std::nullopt;
  if (s.PlaneCount < 1 || s.PlaneCount > 3 || d.PlaneCount != s.PlaneCount) return std::nullopt;
  TRemapTarget t;
  t.Width = s.Width;
  t.Height = s.Height;
  t.Planes = s.PlaneCount;
  t.Kind = CurrentSamplingKind();
  for (int p = 1; p <= t.Planes; ++p) {
    t.Source[size_t(p - 1)] = PlaneView(src, p);
    if (t.Source[size_t(p - 1)].Empty() || d.Planes[size_t(p)].size() < d.PixelCount()) return std::nullopt;
    t.Out[size_t(p - 1)] = d.Planes[size_t(p)].data();
  }
  return t;
}

}  // namespace astrelon
