#include "shell/pixel_menu/display_shift.h"

#include "store/image_store.h"

namespace astrelon {

void ShiftDisplayRange(int slot, double d) {
  if (slot < 0 || slot >= SlotArraySize) return;
  TDisplayRecord& r = Store.Display[size_t(slot)];
  r.Black = float(double(r.Black) + d);
  r.White = float(double(r.White) + d);
  for (TCurvePoint& c : r.CurvePoints) c.X = float(double(c.X) + d);
}

}  // namespace astrelon
