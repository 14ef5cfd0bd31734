#include "shell/slots/fresh_image.h"

#include "store/image_store.h"

namespace astrelon {

bool MakeFreshImage(int slot, int32_t width, int32_t height, int planes, float fill) {
  if (!ValidSlot(slot) || Store.InUse[size_t(slot)] || width < 1 || height < 1 || (planes != 1 && planes != 3))
    return false;
  TImageSlot& im = Store.Image[size_t(slot)];
  im = TImageSlot{};
  Store.Display[size_t(slot)] = TDisplayRecord{};
  im.Width = width;
  im.Height = height;
  im.PlaneCount = planes;
  im.IsColor = planes == 3;
  for (int p = 1; p <= planes; ++p) im.Planes[size_t(p)].assign(im.PixelCount(), fill);
  Store.InUse[size_t(slot)] = 1;
  return true;
}

}  // namespace astrelon
