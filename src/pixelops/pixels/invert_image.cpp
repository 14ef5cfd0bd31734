#include "pixelops/pixels/invert_image.h"

#include <algorithm>

#include "core/run_state.h"
#include "platform/parallel_bands.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/slot_holds.h"

namespace astrelon {

bool InvertImage(int slot) {
  if (!SlotInUse(slot) || SlotHeldByWorkers(slot)) return false;
  TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Width < 1 || im.Height < 1) return false;
  const TDisplayRecord& d = Store.Display[size_t(slot)];
  const float black = d.Black, white = d.White;
  const bool yuv = im.IsColor && im.ColorModel == CmYuv;
  // The working rectangle, kept inside the image.
  const int x1 = std::clamp(WorkRect.x1, 0, im.Width - 1), x2 = std::clamp(WorkRect.x2, 0, im.Width - 1);
  const int y1 = std::clamp(WorkRect.y1, 0, im.Height - 1), y2 = std::clamp(WorkRect.y2, 0, im.Height - 1);
  if (x2 < x1 || y2 < y1) return false;
  const int rows = y2 - y1 + 1;
  const int threads = BandThreads(int64_t(rows) * (x2 - x1 + 1), 1 << 18, UseWorkerThreads != 0);
  for (int p = FirstChannel(slot); p <= im.PlaneCount && p <= 3; NextChannel(slot, p)) {
    if (im.Planes[size_t(p)].size() < im.PixelCount()) continue;
    const bool negate = yuv && p > 1;
    ForEachBand(rows, threads, [&](int64_t first, int64_t last) {
      for (int64_t r = first; r < last; ++r) {
        float* row = im.Row(p, y1 + int(r)).data();
        for (int x = x1; x <= x2; ++x) {
          const float v = row[x];
          if (!IsValidPixel(v)) continue;
          row[x] = negate ? -v : white - v + black;
        }
      }
    });
  }
  return true;
}

}  // namespace astrelon
