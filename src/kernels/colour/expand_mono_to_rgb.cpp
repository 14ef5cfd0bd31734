#include "kernels/colour/expand_mono_to_rgb.h"

#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

bool ExpandMonoToRgb(int slot) {
  if (!SlotInUse(slot)) return false;
  TImageSlot& s = Store.Image[size_t(slot)];
  if (s.IsColor || s.PlaneCount != 1 || s.Planes[1].size() < s.PixelCount()) return false;
  // Both copies are made before the slot changes, so that a failed allocation leaves it grey.
  TPlane second(s.Planes[1].begin(), s.Planes[1].begin() + std::ptrdiff_t(s.PixelCount()));
  TPlane third(second);
  s.Planes[2] = std::move(second);
  s.Planes[3] = std::move(third);
  for (int p : {2, 3}) {
    s.PlaneMax[size_t(p)] = s.PlaneMax[1];
    s.PlaneMin[size_t(p)] = s.PlaneMin[1];
  }
  s.IsColor = 1;
  s.PlaneCount = 3;
  s.ColorModel = CmRgb;
  SetHeader3Axis(slot);
  Store.Display[size_t(slot)].DisplayType = DtColorRgb;
  return true;
}

}  // namespace astrelon
