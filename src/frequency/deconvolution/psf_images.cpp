#include "frequency/deconvolution/psf_images.h"

#include "core/settings.h"
#include "shell/slots/fresh_image.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

double PsfBlackLevel(int slot, int plane) {
  if (!Options.PsfScale || !SlotInUse(slot)) return 0.0;
  const double level = GetBorderPercentile(slot, plane, 0.5);
  return IsValidPixel(float(level)) ? level : 0.0;
}

bool PsfGridFromImage(int slot, TPsfGrid& grid) {
  if (!SlotInUse(slot)) return false;
  const TImageSlot& im = Store.Image[slot];
  if (im.Width < 1 || im.Height < 1 || im.Planes[1].size() < im.PixelCount()) return false;
  const double scale = im.MaxValue > 0 ? 255.0 / im.MaxValue : 1.0;
  const double black = PsfBlackLevel(slot, 1);
  const int32_t cx = (im.Width - 1) / 2, cy = (im.Height - 1) / 2;
  for (int32_t x = 0; x < PsfGridSide; ++x)
    for (int32_t y = 0; y < PsfGridSide; ++y) {
      const int64_t ix = int64_t(cx) + x - PsfGridCentre, iy = int64_t(cy) + y - PsfGridCentre;
      float v = 0.0f;
      if (ix >= 0 && iy >= 0 && ix < im.Width && iy < im.Height) {
        const float s = im.At(1, int(ix), int(iy));
        if (IsValidPixel(s)) v = float((s - black) * scale);
      }
      grid[PsfCell(x, y)] = v;
    }
  return true;
}

int PsfGridToNewSlot(const TPsfGrid& grid, const std::string& name) {
  const int slot = FindFreeSlot();
  if (!MakeFreshImage(slot, PsfGridSide, PsfGridSide, 1, 0.0f)) return -1;
  TImageSlot& im = Store.Image[slot];
  for (int32_t y = 0; y < PsfGridSide; ++y)
    for (int32_t x = 0; x < PsfGridSide; ++x) im.At(1, x, y) = grid[PsfCell(x, y)];
  Store.FileName[slot] = name;
  MakeDefaultHeader(slot);
  ResetDisplayRange(slot, 0.0f);
  ComputeHistogram(slot, false, false);
  return slot;
}

}  // namespace astrelon
