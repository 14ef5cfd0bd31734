#include "shell/stamps/copy_stamp.h"

#include <algorithm>
#include <cmath>

#include "shell/undo/undo_store.h"
#include "shell/windows/image_window_state.h"
#include "store/display/display_histogram.h"

namespace astrelon {

void StartStampPath(TPointI p) {
  StampPath.clear();
  StampPath.reserve(100);
  StampPath.push_back(p);
}

void AppendStampPoint(TPointI p) {
  if (StampPath.size() == StampPath.capacity()) StampPath.reserve(StampPath.size() + 100);
  StampPath.push_back(p);
}

std::vector<TPointI> StampPositions(std::span<const TPointI> path) {
  std::vector<TPointI> out;
  if (path.empty()) return out;
  out.push_back(path[0]);
  for (size_t k = 1; k < path.size(); ++k) {
    const TPointI a = path[k - 1], b = path[k];
    const int64_t dx = int64_t(b.X) - a.X, dy = int64_t(b.Y) - a.Y;
    const int64_t n = std::max(std::abs(dx), std::abs(dy));
    for (int64_t i = 1; i <= n; ++i) {
      const TPointI p{int32_t(a.X + int64_t(std::nearbyint(double(dx) * double(i) / double(n)))),
                      int32_t(a.Y + int64_t(std::nearbyint(double(dy) * double(i) / double(n))))};
      if (p.X != out.back().X || p.Y != out.back().Y) out.push_back(p);
    }
  }
  return out;
}

bool ApplyCopyStamp(int slot, TStampMode mode, bool sameSpot, int32_t radiusSquared) {
  if (CopySourceSlot < 1) return false;
  if (!SlotInUse(CopySourceSlot)) {
    CopySourceSlot = -1;
    return false;
  }
  if (!SlotInUse(slot) || StampPath.empty() || radiusSquared < 1) return false;
  TImageSlot& im = Store.Image[size_t(slot)];
  const TImageSlot& src = Store.Image[size_t(CopySourceSlot)];
  if (im.Width < 1 || im.Height < 1) return false;

  const int32_t r = StampRadius(radiusSquared);
  int32_t x1 = StampPath[0].X, x2 = x1, y1 = StampPath[0].Y, y2 = y1;
  for (const TPointI& p : StampPath) {
    x1 = std::min(x1, p.X), x2 = std::max(x2, p.X);
    y1 = std::min(y1, p.Y), y2 = std::max(y2, p.Y);
  }
  x1 = std::max(x1 - r, 0), y1 = std::max(y1 - r, 0);
  x2 = std::min(x2 + r, im.Width - 1), y2 = std::min(y2 + r, im.Height - 1);
  if (x2 < x1 || y2 < y1) return false;
  PushUndo(slot, x1, x2, y1, y2);

  const int32_t boxW = x2 - x1 + 1, boxH = y2 - y1 + 1;
  std::vector<float> best(size_t(boxW) * size_t(boxH), 0.0f);
  const int32_t ox = sameSpot ? 0 : StampPath[0].X - CopySourcePoint.X;
  const int32_t oy = sameSpot ? 0 : StampPath[0].Y - CopySourcePoint.Y;
  const int last = im.IsColor && src.IsColor ? 3 : 1;
  std::array<int, 3> planes{};
  int planeCount = 0;
  for (int p = FirstChannel(slot); p <= last; NextChannel(slot, p))
    if (im.Planes[size_t(p)].size() >= im.PixelCount()) planes[size_t(planeCount++)] = p;

  const auto positions = StampPositions(StampPath);
  const auto disc = StampDisc(radiusSquared);
  // Calls fn(row of the disc, target row, first dx, last dx) for the part of each
  // disc row that lies inside the box.
  auto forEachRow = [&](TPointI c, auto&& fn) {
    for (const TStampRow& row : disc) {
      const int32_t y = c.Y + row.Dy;
      if (y < y1 || y > y2) continue;
      const int32_t from = std::max(-row.HalfWidth, x1 - c.X), to = std::min(row.HalfWidth, x2 - c.X);
      if (from <= to) fn(row, y, from, to);
    }
  };
  // Pass 1: the largest weight any position gives each pixel.
  for (const TPointI& c : positions)
    forEachRow(c, [&](const TStampRow& row, int32_t y, int32_t from, int32_t to) {
      float* b = best.data() + size_t(y - y1) * size_t(boxW) + size_t(c.X - x1);
      const float* w = row.Weights.data() + row.HalfWidth;
      for (int32_t dx = from; dx <= to; ++dx) b[dx] = std::max(b[dx], w[dx]);
    });
  // Pass 2: the position with that weight writes the pixel; the entry then
  // exceeds every weight, so no later position writes it again.
  for (const TPointI& c : positions)
    forEachRow(c, [&](const TStampRow& row, int32_t y, int32_t from, int32_t to) {
      float* b = best.data() + size_t(y - y1) * size_t(boxW) + size_t(c.X - x1);
      const float* w = row.Weights.data() + row.HalfWidth;
      const int32_t sy = y - oy;
      const bool rowInside = sy >= 0 && sy < src.Height;
      for (int32_t dx = from; dx <= to; ++dx) {
        if (w[dx] != b[dx]) continue;
        b[dx] += 1.0f;
        const int32_t x = c.X + dx, sx = x - ox;
        if (!rowInside || sx < 0 || sx >= src.Width) continue;
        const size_t si = size_t(sy) * size_t(src.Width) + size_t(sx);
        const size_t ti = size_t(y) * size_t(im.Width) + size_t(x);
        for (int k = 0; k < planeCount; ++k) {
          const TPlane& sp = src.Planes[size_t(planes[size_t(k)])];
          if (si >= sp.size()) continue;
          const float s = sp[si];
          if (!(s > -1e9f)) continue;
          BlendStampPixel(im.Planes[size_t(planes[size_t(k)])][ti], s, s * w[dx], w[dx], mode);
        }
      }
    });
  im.DataChanged = 1;
  return true;
}

}  // namespace astrelon
