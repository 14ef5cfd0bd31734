#include "kernels/alignment/brightest_in_work_rect.h"

#include <algorithm>
#include <vector>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

namespace {

// Mean of the valid pixels of the (2r + 1)-square window centred at (cx, cy),
// summed in the order FindBrightestPixel sums it, so that means of windows
// found in different bands compare exactly as in one search.
double WindowMean(std::span<const float> data, int64_t stride, int32_t cx, int32_t cy, int32_t r) {
  double sum = 0;
  int64_t n = 0;
  for (int32_t y = cy - r; y <= cy + r; ++y)
    for (int32_t x = cx - r; x <= cx + r; ++x) {
      const float v = data[size_t(y * stride + x)];
      if (IsValidPixel(v)) {
        sum += v;
        ++n;
      }
    }
  return n > 0 ? sum / double(n) : double(BlankLimit);
}

}  // namespace

TBrightestInRect FindBrightestInWorkRect(int slot, int plane, int32_t radius) {
  TBrightestInRect result;
  result.BrightestValue = BlankLimit;
  if (slot < 0 || slot >= SlotArraySize || plane < 1 || plane > 3) return result;
  const TImageSlot& im = Store.Image[size_t(slot)];
  WorkRect.x1 = std::max(WorkRect.x1, 0);
  WorkRect.y1 = std::max(WorkRect.y1, 0);
  WorkRect.x2 = std::min(WorkRect.x2, im.Width - 1);
  WorkRect.y2 = std::min(WorkRect.y2, im.Height - 1);
  const TWorkRect& r = WorkRect;
  result.BrightestX = std::clamp(r.x1, 0, std::max(im.Width - 1, 0));
  result.BrightestY = std::clamp(r.y1, 0, std::max(im.Height - 1, 0));
  const std::span<const float> plane_ = im.Plane(plane);
  if (r.x2 < r.x1 || r.y2 < r.y1 || plane_.size() < im.PixelCount() || radius < 0) return result;
  const std::span<const float> data = plane_.subspan(size_t(r.y1) * size_t(im.Width) + size_t(r.x1));
  const int32_t w = r.x2 - r.x1 + 1, h = r.y2 - r.y1 + 1;
  const int64_t stride = im.Width;

  // Window centres run over rows radius .. h - 1 - radius; bands of them are
  // searched on threads of their own, each in the rows its windows cover.
  const int64_t centreRows = int64_t(h) - 2 * int64_t(radius);
  const int64_t minRows = std::max<int64_t>(1, (int64_t(1) << 18) / std::max(w, 1));
  const int threads = w > 2 * radius && centreRows > 0 ? BandThreads(centreRows, minRows, Options.Multicore != 0) : 1;
  int32_t x = 0, y = 0;
  float value = BlankLimit;
  if (threads == 1) {
    FindBrightestPixel(data, w, h, stride, radius, x, y, value, false);
  } else {
    struct TBandBest {
      bool Found = false;
      int32_t X = 0, Y = 0;
      double Mean = 0;
    };
    std::vector<TBandBest> best{size_t(threads), TBandBest{}};
    ForEachBand(threads, threads, [&](int64_t band, int64_t) {
      const int64_t c0 = radius + centreRows * band / threads, c1 = radius + centreRows * (band + 1) / threads;
      if (c1 <= c0) return;
      const int64_t top = c0 - radius, rows = c1 - c0 + 2 * int64_t(radius);
      int32_t bx = 0, by = 0;
      float bv = BlankLimit;
      FindBrightestPixel(data.subspan(size_t(top * stride)), w, int32_t(rows), stride, radius, bx, by, bv, false);
      if (bv > BlankLimit) {
        TBandBest& b = best[size_t(band)];
        b.Found = true;
        b.X = bx;
        b.Y = int32_t(top) + by;
        b.Mean = WindowMean(data, stride, b.X, b.Y, radius);
      }
    });
    // The first band with the highest mean, as one search over all rows finds it.
    const TBandBest* winner = nullptr;
    for (const TBandBest& b : best)
      if (b.Found && (!winner || b.Mean > winner->Mean)) winner = &b;
    if (winner) {
      x = winner->X;
      y = winner->Y;
      value = float(winner->Mean);
    } else {
      x = w / 2;
      y = h / 2;
    }
  }
  result.BrightestX = r.x1 + x;
  result.BrightestY = r.y1 + y;
  result.BrightestValue = value;
  return result;
}

}  // namespace astrelon
