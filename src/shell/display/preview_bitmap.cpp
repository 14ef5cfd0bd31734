// Preview pictures: a straight black-to-white mapping, sampled down to the box.
#include "shell/display/preview_bitmap.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr double BoxAspect = 280.0 / 186.0;

inline uint8_t PreviewByte(float v, double black, double factor) {
  if (!IsValidPixel(v)) return 0;
  const double t = (double(v) - black) * factor;
  if (!(t > 0)) return 0;
  return uint8_t(std::nearbyint(std::min(t, 255.0)));
}

// Source positions for each picture position, accumulated and rounded.
std::vector<int32_t> PreviewSamples(int32_t imageSide, int32_t bitmapSide) {
  std::vector<int32_t> pos(static_cast<size_t>(bitmapSide));
  const double step = double(imageSide) / bitmapSide;
  double acc = 0;
  for (int32_t i = 0; i < bitmapSide; ++i) {
    pos[size_t(i)] = int32_t(std::clamp(std::nearbyint(acc), 0.0, double(imageSide - 1)));
    acc += step;
  }
  return pos;
}

}  // namespace

bool FillPreviewBitmap(int slot, TDisplayBitmap& bitmap, bool fit) {
  if (slot < 0 || slot >= SlotArraySize || !Store.InUse[slot]) return false;
  const TImageSlot& im = Store.Image[slot];
  const size_t count = im.PixelCount();
  if (count == 0 || im.Planes[1].size() < count) return false;
  const bool colour = im.IsColor && im.PlaneCount >= 3 && im.Planes[2].size() >= count && im.Planes[3].size() >= count;
  int32_t w = im.Width, h = im.Height;
  if (fit) {
    if (double(im.Width) / im.Height <= BoxAspect) {
      h = PreviewBoxHeight;
      w = int32_t(std::max<int64_t>(int64_t(im.Width) * PreviewBoxHeight / im.Height, 1));
    } else {
      w = PreviewBoxWidth;
      h = int32_t(std::max<int64_t>(int64_t(im.Height) * PreviewBoxWidth / im.Width, 1));
    }
  }
  bitmap.Resize(w, h, colour ? TBitmapFormat::Bgr24 : TBitmapFormat::Indexed8);
  const TDisplayRecord& d = Store.Display[slot];
  const double black = d.Black;
  const double span = double(d.White) - double(d.Black);
  const double factor = 255.0 / (span > 0 ? span : 0.001);
  const std::vector<int32_t> xs = PreviewSamples(im.Width, w);
  const std::vector<int32_t> ys = PreviewSamples(im.Height, h);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* out = bitmap.Row(y).data();
    const int32_t sy = ys[size_t(y)];
    if (colour) {
      const auto r = im.Row(1, sy), g = im.Row(2, sy), b = im.Row(3, sy);
      for (int32_t x = 0; x < w; ++x) {
        const size_t sx = size_t(xs[size_t(x)]);
        out[3 * x] = PreviewByte(b[sx], black, factor);
        out[3 * x + 1] = PreviewByte(g[sx], black, factor);
        out[3 * x + 2] = PreviewByte(r[sx], black, factor);
      }
    } else {
      const auto row = im.Row(1, sy);
      for (int32_t x = 0; x < w; ++x) out[x] = PreviewByte(row[size_t(xs[size_t(x)])], black, factor);
    }
  }
  if (!colour) ReadBmpColourTable(bitmap, DisplayColourTables()[1]);
  return true;
}

TPreviewPlacement PreviewPlacement(int32_t width, int32_t height) {
  TPreviewPlacement p;
  if (width <= 0 || height <= 0) return p;
  if (double(width) / height > BoxAspect) {
    p.Width = PreviewBoxWidth;
    p.Height = int32_t(int64_t(height) * PreviewBoxWidth / width);
    p.Left = 3;
    p.Top = 120 - p.Height / 2;
  } else {
    p.Height = PreviewBoxHeight;
    p.Width = int32_t(int64_t(width) * PreviewBoxHeight / height);
    p.Top = 27;
    p.Left = 143 - p.Width / 2;
  }
  return p;
}

}  // namespace astrelon
