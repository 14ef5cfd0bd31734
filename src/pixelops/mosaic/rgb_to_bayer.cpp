#include "pixelops/mosaic/rgb_to_bayer.h"

#include "kernels/colour/color_to_mono.h"
#include "store/image_store.h"

namespace astrelon {

bool MakeBayerPattern(int source, int destination) {
  if (!SlotInUse(source) || source == destination) return false;
  const TImageSlot& s = Store.Image[size_t(source)];
  if (!s.IsColor || s.PlaneCount != 3 || s.ColorModel != CmRgb) return false;
  if (!ConvertColorToMono(source, destination, false)) return false;
  TImageSlot& d = Store.Image[size_t(destination)];
  for (int32_t y = 0; y < d.Height; ++y) {
    const int even = (y % 2 == 0) ? 1 : 2;  // plane at even x: red on even rows, green on odd
    const int odd = (y % 2 == 0) ? 2 : 3;   // plane at odd x: green on even rows, blue on odd
    const auto a = s.Row(even, y);
    const auto b = s.Row(odd, y);
    const auto out = d.Row(1, y);
    for (int32_t x = 0; x < d.Width; ++x) out[size_t(x)] = (x % 2 == 0 ? a : b)[size_t(x)];
  }
  return true;
}

}  // namespace astrelon
