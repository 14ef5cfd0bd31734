#include "shell/stamps/stamp_blend.h"

#include <cmath>

#include "shell/undo/undo_store.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

float StampWeight(int32_t d2, int32_t radiusSquared) {
  const double q = double(d2) / double(radiusSquared);
  return float(1.0 - q * q);
}

int32_t StampRadius(int32_t radiusSquared) {
  return int32_t(std::nearbyint(std::sqrt(double(std::max(radiusSquared, 0)))));
}

std::vector<TStampRow> StampDisc(int32_t radiusSquared) {
  std::vector<TStampRow> rows;
  const int32_t r = StampRadius(radiusSquared);
  for (int32_t dy = -r; dy <= r; ++dy) {
    int32_t half = -1;
    for (int32_t dx = 0; dx <= r; ++dx)
      if (dx * dx + dy * dy < radiusSquared) half = dx;
    if (half < 0) continue;
    TStampRow row{dy, half, std::vector<float>(size_t(2 * half + 1))};
    for (int32_t dx = -half; dx <= half; ++dx)
      row.Weights[size_t(dx + half)] = StampWeight(dx * dx + dy * dy, radiusSquared);
    rows.push_back(std::move(row));
  }
  return rows;
}

void ApplyStamp(int slot, int32_t x, int32_t y, TStampMode mode, const TStarCutout& cutout, int32_t radiusSquared) {
  if (!cutout.Analysed || !ValidSlot(slot) || !Store.InUse[size_t(slot)] || radiusSquared < 1) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Width < 1 || im.Height < 1) return;
  const int32_t r = StampRadius(radiusSquared);
  PushUndo(slot, x - r, x + r, y - r, y + r);
  const int32_t last = im.IsColor && cutout.PlaneCount == 3 ? 3 : 1;
  const float minimum = cutout.MinValue;
  const auto disc = StampDisc(radiusSquared);
  for (int p = FirstChannel(slot); p <= last; NextChannel(slot, p)) {
    if (im.Planes[size_t(p)].size() < im.PixelCount()) continue;
    for (const TStampRow& row : disc) {
      const int32_t ty = y + row.Dy, cy = 15 + row.Dy;
      if (ty < 0 || ty >= im.Height || cy < 0 || cy >= StarCutoutSize) continue;
      auto target = im.Row(p, ty);
      for (int32_t dx = -row.HalfWidth; dx <= row.HalfWidth; ++dx) {
        const int32_t tx = x + dx, cx = 15 + dx;
        if (tx < 0 || tx >= im.Width || cx < 0 || cx >= StarCutoutSize) continue;
        const float s = cutout.At(p, cx, cy);
        if (!(s > -1e9f)) continue;
        const float w = row.Weights[size_t(dx + row.HalfWidth)];
        BlendStampPixel(target[size_t(tx)], s, (s - minimum) * w, w, mode);
      }
    }
  }
  im.DataChanged = 1;
}

}  // namespace astrelon
