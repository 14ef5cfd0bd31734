#pragma once
// Grey test planes put into slots (the plain pass the plane benchmarks measure
// against is PlainSlotPass, plain_loops.h).
#include "store/image_store.h"

namespace astrelon::bench {

// Makes `slot` a one-plane width x height image holding `plane`.
inline void PutGreyPlane(int slot, int width, int height, const TPlane& plane) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = width;
  im.Height = height;
  im.PlaneCount = 1;
  im.Planes[1] = plane;
  Store.InUse[size_t(slot)] = 1;
}

}  // namespace astrelon::bench
