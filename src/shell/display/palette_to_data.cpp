// The display palette of a grey image written into RGB planes.
#include "shell/display/palette_to_data.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "shell/display/isophotes.h"
#include "shell/display/user_palette.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

struct TRgb {
  double R, G, B;
};

TRgb ColourOf(int type, double v, std::span<const uint32_t> palette) {
  constexpr double pi = std::numbers::pi;
  switch (type) {
    case DtGradient: {
      const double t = (65535.0 - v) * pi;
      return {v < 11900 ? 0.0 : std::cos(t / 40448 - 1) * 32767 + 32767, 32767 - std::cos(t / 34304) * 32767,
              v <= 32768 ? std::cos(t / 37888 + 0.2) * 32767 + 32767 : 0.0};
    }
    case DtRed: return {v, 0, 0};
    case DtGreen: return {0, v, 0};
    case DtBlue: return {0, 0, v};
    case DtFourGradients: {
      const double t = pi * v / 32768;
      return {std::sin(t - 1) * 32767 + 32767, 32767 - std::cos(t - 1.5) * 32767, std::cos(t) * 32767 + 32767};
    }
    default: {  // own palette
      const double i = std::nearbyint(std::clamp(v, 0.0, 65535.0));
      const uint32_t c = palette[std::min(size_t(i), palette.size() - 1)];
      return {double((c >> 16) & 255) * 256, double((c >> 8) & 255) * 256, double(c & 255) * 256};
    }
  }
}

}  // namespace

void ApplyPaletteToData(int slot) {
  if (slot < 1 || slot > MaxImageSlots || !Store.InUse[slot]) return;
  TImageSlot& im = Store.Image[slot];
  if (im.IsColor) return;
  const size_t count = im.PixelCount();
  if (count == 0 || im.Planes[1].size() < count) return;
  TDisplayRecord& d = Store.Display[slot];
  const int type = d.DisplayType;
  if (type == DtIsophotes) {
    DrawIsophotesOnPlane(im.Plane(1), im.Width, im.Height);
    UpdateMinMax(slot);
    d.Changed = 1;
    return;
  }
  if (type < DtGradient || type > DtOwnPalette) return;
  if (type == DtOwnPalette && !UserPaletteUsable()) return;  // shown grey: nothing to bake

  std::span<float> p1 = im.Plane(1);
  if (type == DtFourGradients) {
    for (float& v : p1) {
      if (!IsValidPixel(v)) continue;
      double x = double(v) * 4;
      if (x >= 65536) x -= 65536 * std::floor(x / 65536);
      v = float(x);
    }
  }
  im.AllocatePlanes(3);
  std::span<float> p2 = im.Plane(2), p3 = im.Plane(3);
  const std::span<const uint32_t> palette = UserPalette();
  for (size_t i = 0; i < count; ++i) {
    const float v = p1[i];
    if (!IsValidPixel(v)) {
      p2[i] = p3[i] = BlankPixel;
      continue;
    }
    const TRgb c = ColourOf(type, v, palette);
    p1[i] = float(c.R);
    p2[i] = float(c.G);
    p3[i] = float(c.B);
  }
  im.IsColor = 1;
  im.PlaneCount = 3;
  im.ColorModel = CmRgb;
  d.DisplayType = DtColorRgb;
  UpdateMinMax(slot);
  d.Changed = 1;
}

}  // namespace astrelon
