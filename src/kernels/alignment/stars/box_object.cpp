#include "kernels/alignment/stars/box_object.h"

#include <algorithm>
#include <cstdlib>

#include "store/image_slot.h"

namespace astrelon {

namespace {

struct TPlaneView {
  std::span<const float> Values;
  int32_t Width, Height;

  bool Inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < Width && y < Height; }
  float At(int32_t x, int32_t y) const { return Values[size_t(y) * size_t(Width) + size_t(x)]; }

  // The window's weighted mean of the valid pixels; false when it has none.
  bool Window(int32_t cx, int32_t cy, int32_t r, TClimbWindow kind, double& value) const {
    double sum = 0, weights = 0;
    for (int32_t y = std::max(cy - r, 0); y <= std::min(cy + r, Height - 1); ++y)
      for (int32_t x = std::max(cx - r, 0); x <= std::min(cx + r, Width - 1); ++x) {
        const float v = At(x, y);
        if (!IsValidPixel(v)) continue;
        const double w = kind == TClimbWindow::MosaicSites ? double((x == cx ? 2 : 1) * (y == cy ? 2 : 1)) : 1.0;
        sum += w * v;
        weights += w;
      }
    if (!(weights > 0)) return false;
    value = sum / weights;
    return true;
  }
};

}  // namespace

std::optional<TClimbedPeak> ClimbToPeak(std::span<const float> plane, int32_t width, int32_t height, int32_t x,
                                        int32_t y, TClimbWindow window, int32_t reach) {
  if (width < 1 || height < 1 || plane.size() < size_t(width) * size_t(height)) return std::nullopt;
  const TPlaneView view{plane, width, height};
  constexpr int32_t radius = 1;
  TClimbedPeak at{x, y, 0};
  if (!view.Inside(x, y) || !view.Window(x, y, radius, window, at.Value)) return std::nullopt;
  for (;;) {
    TClimbedPeak next = at;
    for (int32_t j = at.Y - 1; j <= at.Y + 1; ++j)
      for (int32_t i = at.X - 1; i <= at.X + 1; ++i) {
        double v = 0;
        if ((i != at.X || j != at.Y) && view.Inside(i, j) && view.Window(i, j, radius, window, v) && v > next.Value)
          next = {i, j, v};
      }
    if (next.X == at.X && next.Y == at.Y) return at;
    if (std::abs(next.X - x) > reach || std::abs(next.Y - y) > reach) return std::nullopt;
    at = next;
  }
}

std::optional<TClimbedPeak> BoxObjectPeak(std::span<const float> plane, int32_t width, int32_t height,
                                          const TWorkRect& box, int32_t x, int32_t y, TClimbWindow window,
                                          double background, double least, int32_t reach) {
  const std::optional<TClimbedPeak> climbed = ClimbToPeak(plane, width, height, x, y, window, reach);
  if (climbed && climbed->Value - background >= least) return climbed;
  if (width < 1 || height < 1 || plane.size() < size_t(width) * size_t(height)) return climbed;
  // The box's outer pixels, within the image.
  const TPlaneView view{plane, width, height};
  const int32_t x1 = std::max(box.x1, 0), x2 = std::min(box.x2, width - 1);
  const int32_t y1 = std::max(box.y1, 0), y2 = std::min(box.y2, height - 1);
  std::optional<TClimbedPeak> edge;
  const auto offer = [&](int32_t i, int32_t j) {
    double v = 0;
    if (view.Window(i, j, 1, window, v) && (!edge || v > edge->Value)) edge = TClimbedPeak{i, j, v};
  };
  for (int32_t i = x1; i <= x2; ++i) {
    offer(i, y1);
    if (y2 > y1) offer(i, y2);
  }
  for (int32_t j = y1 + 1; j < y2; ++j) {
    offer(x1, j);
    if (x2 > x1) offer(x2, j);
  }
  if (!edge || !(edge->Value - background >= least)) return climbed;
  const std::optional<TClimbedPeak> outside = ClimbToPeak(plane, width, height, edge->X, edge->Y, window, reach);
  return outside ? outside : climbed;
}

void ClimbToPeakPixel(std::span<const float> plane, int32_t width, int32_t height, int32_t reach, int32_t& x,
                      int32_t& y) {
  if (width < 1 || height < 1 || plane.size() < size_t(width) * size_t(height)) return;
  const TPlaneView view{plane, width, height};
  int32_t bx = x, by = y;
  float best = view.Inside(x, y) ? view.At(x, y) : BlankPixel;
  const auto offer = [&](int32_t i, int32_t j) {
    if (!view.Inside(i, j) || !IsValidPixel(view.At(i, j))) return false;
    if (IsValidPixel(best) && !(view.At(i, j) > best)) return false;
    bx = i;
    by = j;
    best = view.At(i, j);
    return true;
  };
  for (int32_t j = y - 1; j <= y + 1; ++j)
    for (int32_t i = x - 1; i <= x + 1; ++i) offer(i, j);
  for (int32_t step = 0; step < reach; ++step) {
    const int32_t cx = bx, cy = by;
    for (int32_t j = cy - 1; j <= cy + 1; ++j)
      for (int32_t i = cx - 1; i <= cx + 1; ++i) offer(i, j);
    if (bx == cx && by == cy) break;
  }
  x = bx;
  y = by;
}

double WindowMean(std::span<const float> plane, int32_t width, int32_t height, int32_t x, int32_t y, int32_t radius) {
  double value = BlankPixel;
  if (width >= 1 && height >= 1 && plane.size() >= size_t(width) * size_t(height))
    TPlaneView{plane, width, height}.Window(x, y, std::max(radius, 0), TClimbWindow::Mean, value);
  return value;
}

}  // namespace astrelon
