#pragma once
// What the pixel filters of the dialog share: the source's display points, the
// planes of a call, the planes it leaves copied back from the source, and row
// loops over the working rectangle that poll between bands.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "filters/dialog/filter_functions.h"
#include "kernels/gauss/filter_rows.h"
#include "store/image_store.h"

namespace astrelon {

// Black and white point of a slot's display record and their distance.
struct TBlackWhite {
  double Black = 0, White = 1, Range = 1;
};
inline TBlackWhite SourceBlackWhite(int slot) {
  const TDisplayRecord& d = Store.Display[size_t(slot)];
  return {d.Black, d.White, double(d.White) - double(d.Black)};
}

// A three-plane colour image.
inline bool IsColorSlot(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  return im.IsColor && im.PlaneCount >= 3;
}

// The source and destination planes of a call (1..3); the destination plane is
// sized like the source's.
struct TCallPlanes {
  const TImageSlot& Src;
  TImageSlot& Dst;
  explicit TCallPlanes(const TFilterCall& c)
      : Src(Store.Image[size_t(c.Source)]), Dst(Store.Image[size_t(c.Destination)]) {}
  bool Usable(int p) const {
    return p <= Src.PlaneCount && Src.Planes[size_t(p)].size() >= Src.PixelCount() &&
           Dst.Planes[size_t(p)].size() == Src.Planes[size_t(p)].size();
  }
  const float* In(int p) const { return Src.Planes[size_t(p)].data(); }
  float* Out(int p) { return Dst.Planes[size_t(p)].data(); }
};

// Whether a call can run: both slots in use and of the same size; its
// rectangle is clipped to the image and must not be empty.
inline bool PrepareCall(TFilterCall& c) {
  if (!SlotInUse(c.Source) || !SlotInUse(c.Destination)) return false;
  const TImageSlot& s = Store.Image[size_t(c.Source)];
  const TImageSlot& d = Store.Image[size_t(c.Destination)];
  if (s.Width != d.Width || s.Height != d.Height || s.Width < 1 || s.Height < 1) return false;
  TWorkRect& r = c.Rect;
  r.x1 = std::max(r.x1, 0);
  r.y1 = std::max(r.y1, 0);
  r.x2 = std::min(r.x2, s.Width - 1);
  r.y2 = std::min(r.y2, s.Height - 1);
  return r.x1 <= r.x2 && r.y1 <= r.y2;
}

// The three planes of a call on a colour image (index 1..3).
struct TColorPlanes {
  std::array<const float*, 4> In{};
  std::array<float*, 4> Out{};
  int32_t Width = 0;
  bool Yuv = false;
};
// False (nothing to do) unless the call can run and its source is a three-plane
// colour image whose planes the destination has too.
inline bool PrepareColorCall(TFilterCall& c, TColorPlanes& planes) {
  if (!PrepareCall(c) || !IsColorSlot(c.Source)) return false;
  TCallPlanes call(c);
  for (int p = 1; p <= 3; ++p) {
    if (!call.Usable(p)) return false;
    planes.In[size_t(p)] = call.In(p);
    planes.Out[size_t(p)] = call.Out(p);
  }
  planes.Width = call.Src.Width;
  planes.Yuv = call.Src.ColorModel == CmYuv;
  return true;
}

// Copies back the planes of the destination that the call does not select.
inline void CopyUnselectedPlanes(const TFilterCall& c) {
  if (c.Source == c.Destination) return;
  for (int p = 1; p <= std::min(Store.Image[size_t(c.Source)].PlaneCount, 3); ++p)
    if (!c.Planes[size_t(p)]) CopyPlane(c.Source, p, c.Destination, p);
}

// fn(first, last) for bands of the rows [y1, y2 + 1) of the call's rectangle;
// the poll runs between chunks. False when it stopped the loop.
template <class F>
bool ForRectRows(const TFilterCall& c, int plane, F&& fn) {
  return ForEachRowChunk(c.Rect.y1, int64_t(c.Rect.y2) + 1, int64_t(c.Rect.x2) - c.Rect.x1 + 1, c.Poll, plane,
                         std::forward<F>(fn));
}

// fn(i) for the index i (row * width + column) of every pixel of the call's
// rectangle, over bands of rows; false when the poll stopped the loop.
template <class F>
bool ForRectPixels(const TFilterCall& c, int plane, int32_t width, F&& fn) {
  const TWorkRect r = c.Rect;
  return ForRectRows(c, plane, [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y)
      for (int64_t i = y * width + r.x1; i <= y * width + r.x2; ++i) fn(i);
  });
}

}  // namespace astrelon
