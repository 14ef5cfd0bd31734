#include "pixelops/geometry/rotate_image.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

#include "common/float_range.h"
#include "core/busy_cursor.h"
#include "core/settings.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/big_buffers.h"
#include "platform/memory_probe.h"
#include "platform/parallel_bands.h"
#include "platform/parallel_chunks.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

struct TRotation {
  double Cos, Sin;
  // Source point of a destination offset (dx, dy) from the centre.
  void Back(double dx, double dy, double& sx, double& sy) const {
    sx = dx * Cos + dy * Sin;
    sy = -dx * Sin + dy * Cos;
  }
};

bool Inside(double x, double y, int w, int h) { return x >= -0.5 && x <= w - 0.5 && y >= -0.5 && y <= h - 0.5; }

// Whether the corners of a centred w x h rectangle lie inside the rotated w0 x h0 image.
bool CornersInside(const TRotation& r, int w, int h, int w0, int h0) {
  const double cx = (w0 - 1) / 2.0, cy = (h0 - 1) / 2.0;
  const double hx = (w - 1) / 2.0, hy = (h - 1) / 2.0;
  for (double sx : {-hx, hx})
    for (double sy : {-hy, hy}) {
      double x, y;
      r.Back(sx, sy, x, y);
      if (!Inside(cx + x, cy + y, w0, h0)) return false;
    }
  return true;
}

// Largest centred rectangle of the source's aspect ratio inside the rotated image.
void CropSize(const TRotation& r, int w0, int h0, int& w, int& h) {
  w = w0;
  h = h0;
  while ((w > 2 || h > 2) && !CornersInside(r, w, h, w0, h0)) {
    if (w0 >= h0) {
      --w;
      h = int(std::lround(double(w) * h0 / w0));
    } else {
      --h;
      w = int(std::lround(double(h) * w0 / h0));
    }
    w = std::max(w, 2);
    h = std::max(h, 2);
  }
  // Keep the centre on the pixel grid: a side whose parity differs loses one pixel.
  if ((w0 - w) % 2 != 0 && w > 2) --w;
  if ((h0 - h) % 2 != 0 && h > 2) --h;
}

}  // namespace

bool RotateImage(int src, int dst, int kind, double angle, int framing) {
  if (!SlotInUse(src) || !SlotInUse(dst) || src == dst) return false;
  const TImageSlot& s = Store.Image[size_t(src)];
  const int w0 = s.Width, h0 = s.Height;
  if (w0 < 1 || h0 < 1 || !InAngleRange(angle)) return false;
  for (int p = 1; p <= s.PlaneCount; ++p)
    if (s.Planes[size_t(p)].size() < s.PixelCount()) return false;
  TBusyCursorScope busy;

  const double a = -angle * std::numbers::pi / 180.0;
  const TRotation rot{std::cos(a), std::sin(a)};
  int w = w0, h = h0;
  double scaleX = 1, scaleY = 1;
  switch (framing) {
    case int(TRotateFraming::FullImage): {
      const double c = std::fabs(rot.Cos), sn = std::fabs(rot.Sin);
      const double fw = std::ceil(w0 * c + h0 * sn - 1e-6), fh = std::ceil(w0 * sn + h0 * c - 1e-6);
      // The framed size grows with the angle: sides beyond 32 bits are refused like too little memory.
      if (!(fw < 2147483646.0 && fh < 2147483646.0)) throw std::bad_alloc();
      w = std::max(int(fw), 1);
      h = std::max(int(fh), 1);
      if ((w - w0) % 2 != 0) ++w;
      if ((h - h0) % 2 != 0) ++h;
      break;
    }
    case int(TRotateFraming::Crop):
      CropSize(rot, w0, h0, w, h);
      break;
    case int(TRotateFraming::CropScaled): {
      int cw, ch;
      CropSize(rot, w0, h0, cw, ch);
      scaleX = w0 > 1 ? double(cw - 1) / (w0 - 1) : 1.0;
      scaleY = h0 > 1 ? double(ch - 1) / (h0 - 1) : 1.0;
      break;
    }
    default:
      break;
  }

  TImageSlot& d = Store.Image[size_t(dst)];
  const int planes = s.PlaneCount;
  // Refused before anything is allocated: the result must fit in the free memory.
  if (!NewPlanesFit(w, h, std::max(planes, 1))) throw std::bad_alloc();
  const bool colour = s.IsColor && planes == 3;
  const TInterpolationKindScope kindScope(kind);
  const TSamplingKind k = CurrentSamplingKind();
  std::array<TPlaneView, 3> view;
  for (int p = 1; p <= planes; ++p) view[size_t(p - 1)] = PlaneView(src, p);
  std::array<TPlane, 4> out;
  for (int p = 1; p <= planes; ++p) out[size_t(p)].resize(size_t(w) * size_t(h));
  const double cx0 = (w0 - 1) / 2.0, cy0 = (h0 - 1) / 2.0;
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  const int threads = BandThreads(int64_t(w) * h, int64_t(1) << 15, Options.Multicore != 0);
  ForEachChunk(h, 16, threads, [&](int64_t firstRow, int64_t lastRow) {
    for (int y = int(firstRow); y < int(lastRow); ++y) {
      for (int x = 0; x < w; ++x) {
        double sx, sy;
        rot.Back((x - cx) * scaleX, (y - cy) * scaleY, sx, sy);
        sx += cx0;
        sy += cy0;
        const size_t i = size_t(y) * size_t(w) + size_t(x);
        std::array<float, 3> v{BlankPixel, BlankPixel, BlankPixel};
        if (Inside(sx, sy, w0, h0)) {
          if (colour)
            SamplePointRgb(view, k, float(sx), float(sy), v);
          else
            for (int p = 0; p < planes; ++p) v[size_t(p)] = SamplePoint(view[size_t(p)], k, float(sx), float(sy));
        }
        for (int p = 1; p <= planes; ++p) out[size_t(p)][i] = v[size_t(p - 1)];
      }
    }
  });
  d.Width = w;
  d.Height = h;
  std::array<TPlane, 4> old;
  size_t oldBytes = 0;
  for (int p = 1; p <= planes; ++p) {
    old[size_t(p)] = std::move(d.Planes[size_t(p)]);
    oldBytes += old[size_t(p)].size() * sizeof(float);
    d.Planes[size_t(p)] = std::move(out[size_t(p)]);
  }
  ReleaseInBackground(std::move(old), oldBytes);
  UpdateMinMax(dst);
  return true;
}

}  // namespace astrelon
