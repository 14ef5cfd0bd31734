#include "pixelops/stamping/line_arrow.h"

#include <algorithm>
#include <cmath>

#include "pixelops/stamping/thick_line.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

int32_t RoundI(double v) { return int32_t(std::nearbyint(v)); }

// The box along one axis: a short margin behind the tail, a longer one beyond the tip.
void BoxAxis(int32_t a0, int32_t a1, double length, int32_t& low, int32_t& high) {
  if (a0 <= a1) {
    low = a0 - RoundI(0.04 * length) - 2;
    high = a1 + RoundI(0.2 * length) + 4;
  } else {
    low = a1 - RoundI(0.2 * length) - 4;
    high = a0 + RoundI(0.04 * length) + 2;
  }
}

}  // namespace

TArrowMask MakeArrowMask(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t clipW, int32_t clipH) {
  TArrowMask a;
  const double dx = double(x1) - x0, dy = double(y1) - y0;
  const double L = std::hypot(dx, dy);
  if (!(L > 5) || L > 1e5) return a;
  int32_t right = 0, bottom = 0;
  BoxAxis(x0, x1, L, a.Left, right);
  BoxAxis(y0, y1, L, a.Top, bottom);
  if (clipW > 0 && clipH > 0) {
    a.Left = std::max(a.Left, 0), a.Top = std::max(a.Top, 0);
    right = std::min(right, clipW - 1), bottom = std::min(bottom, clipH - 1);
    if (right < a.Left || bottom < a.Top) return {};
  }
  a.Mask = TByteMask(2 * (right - a.Left + 1), 2 * (bottom - a.Top + 1));
  const auto mx = [&](double x) { return 2 * (x - a.Left); };
  const auto my = [&](double y) { return 2 * (y - a.Top); };

  const double width = std::min(9.0, std::sqrt(0.1 * L) + 3.6);
  const double d = width / 2;
  const double head = std::sqrt(L) / 3 + 6;
  const double bx = x1 - dx * head / L, by = y1 - dy * head / L;
  const double ux = dy * head / (3 * L), uy = -dx * head / (3 * L);
  const double c1x = bx + ux, c1y = by + uy, c2x = bx - ux, c2y = by - uy;

  DrawThickLine(a.Mask, mx(x0), my(y0), d, my(by), mx(bx));
  FillTriangle(a.Mask, mx(x1), my(y1), mx(c1x), my(c1y), mx(c2x), my(c2y));
  DrawThickLine(a.Mask, mx(x1), my(y1), d, my(c1y), mx(c1x));
  DrawThickLine(a.Mask, mx(c1x), my(c1y), d, my(c2y), mx(c2x));
  DrawThickLine(a.Mask, mx(c2x), my(c2y), d, my(y1), mx(x1));
  return a;
}

void DrawLineArrow(int slot, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const TStampInk& ink) {
  if (!SlotInUse(slot)) return;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const TArrowMask a = MakeArrowMask(x0, y0, x1, y1, im.Width, im.Height);
  if (a.Mask.Width < 1) return;
  StampBitmapIntoImage(slot, a.Left, a.Top, 1.0, false, false, false, a.Mask, 2, ink);
}

}  // namespace astrelon
