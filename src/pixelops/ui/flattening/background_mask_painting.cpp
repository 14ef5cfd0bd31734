#include "pixelops/ui/flattening/background_mask_painting.h"

#include <algorithm>
#include <cmath>

#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

void TByteMask::Resize(int32_t w, int32_t h) {
  Width = std::max(w, 0);
  Height = std::max(h, 0);
  Bytes.assign(size_t(Width) * size_t(Height), MaskFree);
}

void TByteMask::Fill(uint8_t value) { std::fill(Bytes.begin(), Bytes.end(), value); }

void TByteMask::ReplaceAbove(uint8_t threshold, uint8_t value) {
  for (uint8_t& b : Bytes)
    if (b > threshold) b = value;
}

void DrawMaskLine(TByteMask& mask, TMaskPoint from, TMaskPoint to, uint8_t value, std::vector<TMaskPoint>& points) {
  const int32_t dx = std::abs(to.X - from.X), dy = -std::abs(to.Y - from.Y);
  const int32_t sx = from.X < to.X ? 1 : -1, sy = from.Y < to.Y ? 1 : -1;
  int32_t err = dx + dy;
  TMaskPoint p = from;
  for (;;) {
    if (mask.Inside(p.X, p.Y)) mask.At(p.X, p.Y) = value;
    if (points.empty() || points.back() != p) points.push_back(p);
    if (p == to) break;
    const int32_t e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      p.X += sx;
    }
    if (e2 <= dx) {
      err += dx;
      p.Y += sy;
    }
  }
}

void FillMaskPolygon(TByteMask& mask, std::span<const TMaskPoint> polygon, uint8_t value) {
  const size_t n = polygon.size();
  if (n < 3 || mask.Width == 0) return;
  int32_t top = polygon[0].Y, bottom = polygon[0].Y;
  for (const TMaskPoint& p : polygon) {
    top = std::min(top, p.Y);
    bottom = std::max(bottom, p.Y);
  }
  top = std::max(top, 0);
  bottom = std::min(bottom, mask.Height - 1);
  std::vector<double> cross;
  for (int32_t y = top; y <= bottom; ++y) {
    cross.clear();
    for (size_t i = 0; i < n; ++i) {
      const TMaskPoint a = polygon[i], b = polygon[(i + 1) % n];
      // Half-open in y, so that a vertex on the line counts once.
      if ((a.Y <= y && y < b.Y) || (b.Y <= y && y < a.Y))
        cross.push_back(a.X + double(y - a.Y) * double(b.X - a.X) / double(b.Y - a.Y));
    }
    std::sort(cross.begin(), cross.end());
    for (size_t k = 0; k + 1 < cross.size(); k += 2) {
      const double left = std::max(std::ceil(cross[k]), 0.0);
      const double right = std::min(std::floor(cross[k + 1]), double(mask.Width - 1));
      for (int32_t x = int32_t(left); x <= int32_t(right) && left <= right; ++x) mask.At(x, y) = value;
    }
  }
}

void FloodFillMask(TByteMask& mask, int32_t x, int32_t y, uint8_t value) {
  if (!mask.Inside(x, y)) return;
  const uint8_t old = mask.At(x, y);
  if (old == value) return;
  std::vector<TMaskPoint> todo{{x, y}};
  mask.At(x, y) = value;
  while (!todo.empty()) {
    const TMaskPoint p = todo.back();
    todo.pop_back();
    const TMaskPoint next[4] = {{p.X - 1, p.Y}, {p.X + 1, p.Y}, {p.X, p.Y - 1}, {p.X, p.Y + 1}};
    for (const TMaskPoint& q : next)
      if (mask.Inside(q.X, q.Y) && mask.At(q.X, q.Y) == old) {
        mask.At(q.X, q.Y) = value;
        todo.push_back(q);
      }
  }
}

void FinishMaskStroke(TByteMask& mask, std::vector<TMaskPoint>& points) {
  if (points.size() > 5) {
    points.push_back(points.front());
    FillMaskPolygon(mask, points, MaskStroke);
    mask.ReplaceAbove(250, MaskPainted);
  } else {
    mask.ReplaceAbove(250, MaskFree);
  }
  points.clear();
}

int BrightMarkingPlane(int slot) {
  if (!SlotInUse(slot)) return 1;
  const TImageSlot& im = Store.Image[size_t(slot)];
  return im.IsColor && im.PlaneCount >= 2 && im.ColorModel == CmRgb ? 2 : 1;
}

TBrightLevels BrightAreaLevels(int slot) {
  TBrightLevels levels{};
  if (!SlotInUse(slot)) return levels;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int m = BrightMarkingPlane(slot);
  const double lo = im.PlaneMin[size_t(m)], hi = im.PlaneMax[size_t(m)];
  levels.fill(float(hi + 1));
  const double range = hi - lo;
  if (!(range > 0) || !std::isfinite(range) || im.Planes[size_t(m)].size() < im.PixelCount()) return levels;
  const int64_t count = CountValidPixels(slot, m);
  const double noise = std::max(0.001, double(EstimatePlaneNoise(slot, m)));
  // A third of the noise per bin, 200 to 65536 bins.
  const int32_t nb = int32_t(std::clamp(std::nearbyint(range * 3.0 / noise), 200.0, 65536.0));
  std::vector<int64_t> hist(size_t(nb), 0);
  for (float v : std::span(im.Planes[size_t(m)]).first(im.PixelCount())) {
    if (!IsValidPixel(v) || v < lo) continue;
    const double bin = std::min(std::nearbyint((v - lo) * (nb - 1) / range), double(nb - 1));
    ++hist[size_t(bin)];
  }
  // Walk down from the top bin until the counts reach i/98 of the pixels.
  int64_t sum = 0;
  int32_t next = nb - 1;  // the next bin to add
  for (int i = 1; i <= 98; ++i) {
    const int64_t target = count * i / 98;
    int32_t b = next + 1;
    while (sum < target && next >= 0) {
      sum += hist[size_t(next)];
      b = next--;
    }
    b = std::min(b, nb - 1);
    levels[size_t(i)] = float(0.8 * (lo + range * b / nb) + 0.2 * (hi - range * i / 98.0));
    // The walk ends at the lowest bin: the higher entries mark as much as this one.
    if (b <= 0) {
      for (int j = i + 1; j <= 98; ++j) levels[size_t(j)] = levels[size_t(i)];
      break;
    }
  }
  return levels;
}

void MarkBrightAreas(TByteMask& mask, std::span<const float> plane, float level) {
  mask.ReplaceAbove(200, MaskFree);
  if (plane.size() < mask.Bytes.size()) return;
  for (size_t i = 0; i < mask.Bytes.size(); ++i)
    if (plane[i] >= level && mask.Bytes[i] == MaskFree) mask.Bytes[i] = MaskBright;
  // Grow the marks by their free 4-neighbours.
  for (int32_t y = 0; y < mask.Height; ++y)
    for (int32_t x = 0; x < mask.Width; ++x) {
      if (mask.At(x, y) != MaskFree) continue;
      const bool next = (x > 0 && mask.At(x - 1, y) == MaskBright) ||
                        (x + 1 < mask.Width && mask.At(x + 1, y) == MaskBright) ||
                        (y > 0 && mask.At(x, y - 1) == MaskBright) ||
                        (y + 1 < mask.Height && mask.At(x, y + 1) == MaskBright);
      if (next) mask.At(x, y) = MaskBrightEdge;
    }
  mask.ReplaceAbove(200, MaskBright);
}

}  // namespace astrelon
