#include "store/display/bitmap_tools.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace astrelon {

TBitmapView ViewOf(TDisplayBitmap& bitmap) {
  TBitmapView v;
  v.Pixels = bitmap.Pixels.data();
  v.Width = bitmap.Width;
  v.Height = bitmap.Height;
  v.Stride = bitmap.Stride;
  v.BytesPerPixel = bitmap.BytesPerPixel();
  if (bitmap.Format == TBitmapFormat::Indexed8) v.ColourTable = &bitmap.ColourTable;
  return v;
}

bool IsGreyBitmap(const TBitmapView& bitmap) {
  if (bitmap.Height < 2 || bitmap.Width < 1 || !bitmap.Pixels) return false;
  for (int32_t y = 0; y < bitmap.Height; ++y)
    for (int32_t x = 0; x < bitmap.Width; ++x) {
      const uint8_t* p = bitmap.Pixel(x, y);
      uint32_t b, g, r;
      if (bitmap.BytesPerPixel == 1) {
        if (!bitmap.ColourTable) continue;
        const uint32_t c = (*bitmap.ColourTable)[*p];  // 0x00RRGGBB
        b = c & 0xFF, g = (c >> 8) & 0xFF, r = (c >> 16) & 0xFF;
      } else {
        b = p[0], g = p[1], r = p[2];
      }
      if (b != g || r != g) return true;
    }
  return false;
}

TColor MixColors(TColor a, TColor b) {
  return RgbColor((RedOf(a) + RedOf(b)) / 2, (GreenOf(a) + GreenOf(b)) / 2, (BlueOf(a) + BlueOf(b)) / 2);
}

void DrawSmoothDisc(const TBitmapView& bitmap, bool lighten, TColor colour, float x, float y, float size) {
  if (!bitmap.Pixels || bitmap.Width < 1 || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(size)) return;
  const int bpp = bitmap.BytesPerPixel;
  const int channels = std::min(bpp - 1, 2) + 1;
  // Channel 0 is blue, 1 green, 2 red; an 8-bit picture takes red.
  const uint32_t ink[3] = {bpp == 1 ? RedOf(colour) : BlueOf(colour), GreenOf(colour), RedOf(colour)};
  const float r = (size + 1.0f) / 2.0f;
  auto clampTrunc = [](float v, int32_t hi) { return int32_t(std::clamp(std::trunc(v), -1.0f, float(hi) + 1.0f)); };
  const int32_t x0 = std::max(clampTrunc(x - r, bitmap.Width), 0);
  const int32_t x1 = std::min(clampTrunc(x + r, bitmap.Width), bitmap.Width - 1);
  const int32_t y0 = std::max(clampTrunc(y - r, bitmap.Height), 0);
  const int32_t y1 = std::min(clampTrunc(y + r, bitmap.Height), bitmap.Height - 1);
  for (int32_t row = y0; row <= y1; ++row)
    for (int32_t col = x0; col <= x1; ++col) {
      const float dx = float(col) - x, dy = float(row) - y;
      float a = r * r - (dx * dx + dy * dy);
      if (a < 0) continue;
      if (a >= 1) a = 1;
      uint8_t* p = bitmap.Pixel(col, row);
      for (int c = 0; c < channels; ++c) {
        const int v = int(std::clamp(std::nearbyint(float(ink[c]) * a), 0.0f, 255.0f));
        if (lighten) p[c] = uint8_t(std::max<int>(p[c], v));
        else if (p[c] > 255 - v) p[c] = uint8_t(255 - v);
      }
    }
}

void RecolorBitmap(const TBitmapView& bitmap, TColor colour) {
  const int bpp = bitmap.BytesPerPixel;
  if ((bpp != 3 && bpp != 4) || !bitmap.Pixels || bitmap.Height < 1) return;
  const int32_t quarter = bitmap.Width / 4;
  const uint8_t* corner = bitmap.Pixel(0, bitmap.Height - 1);
  const uint8_t clear[3] = {corner[0], corner[1], corner[2]};
  const uint8_t face[3] = {uint8_t(BlueOf(colour)), uint8_t(GreenOf(colour)), uint8_t(RedOf(colour))};
  auto isClear = [&](const uint8_t* p) { return std::memcmp(p, clear, 3) == 0; };
  for (int32_t y = 0; y < bitmap.Height; ++y) {
    for (int32_t x = 0; x < quarter; ++x) {
      uint8_t* p = bitmap.Pixel(x, y);
      if (isClear(p)) {
        std::memcpy(p, face, 3);
        continue;
      }
      std::memcpy(bitmap.Pixel(x + 3 * quarter, y), p, size_t(bpp));
      for (int c = 0; c < 3; ++c) p[c] = uint8_t((2 * p[c]) * 3 / 7);
      // A darkened glyph pixel must not turn transparent.
      if (isClear(p)) p[0] = p[0] > 0 ? uint8_t(p[0] - 1) : uint8_t(p[0] + 1);
    }
    for (int32_t x = 0; x < quarter; ++x) {
      const uint8_t* p = bitmap.Pixel(x, y);
      uint8_t* q = bitmap.Pixel(x + quarter, y);
      if (isClear(p)) {
        std::memcpy(q, face, 3);
      } else {
        for (int c = 0; c < 3; ++c) q[c] = uint8_t(std::min((2 * face[c] + p[c]) / 3, 255));
      }
    }
    std::memcpy(bitmap.Pixel(2 * quarter, y), bitmap.Pixel(0, y), size_t(quarter) * size_t(bpp));
  }
}

}  // namespace astrelon
