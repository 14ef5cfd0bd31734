#include "registration/combination/edge_distance_mask.h"

#include <algorithm>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_slot.h"

namespace astrelon {

// The border is never relaxed, so the two raster sweeps (down and right,
// then up and left) give each interior pixel the smallest start(q) + |x - qx| +
// |y - qy| over every pixel q but the corners, except that a pixel of the
// bottom row or the right column counts only when it lies below and right of
// it (start values: 0 blank, 1 valid on the border with borderIsEdge, else
// 100). That splits into a city-block distance that separates, along the
// rows and then along the columns, over the pixels but the bottom row and
// right column, and the two border lines' nearest pixel below and right.
// Every value stays at most 100 (min with its own start value), so bytes hold
// the distances.
std::vector<uint8_t> EdgeDistanceMask(std::span<const float> plane, int32_t width, int32_t height, bool borderIsEdge) {
  const size_t w = size_t(std::max(width, 0)), h = size_t(std::max(height, 0));
  std::vector<uint8_t> m(w * h);
  if (plane.size() < w * h) return m;
  const bool multi = Options.Multicore != 0;
  auto startRow = [&](size_t y, uint8_t* out) {
    const float* in = plane.data() + y * w;
    for (size_t x = 0; x < w; ++x) out[x] = IsValidPixel(in[x]) ? MosaicMaskCap : 0;
    if (!borderIsEdge) return;
    if (y == 0 || y + 1 == h) {
      for (size_t x = 0; x < w; ++x) out[x] = std::min<uint8_t>(out[x], 1);
    } else {
      out[0] = std::min<uint8_t>(out[0], 1);
      out[w - 1] = std::min<uint8_t>(out[w - 1], 1);
    }
  };
  if (w < 3 || h < 3) {
    for (size_t y = 0; y < h; ++y) startRow(y, m.data() + y * w);
    return m;
  }
  // Rows: the start values into the mask, the distances along the row into g
  // (the corners, the right column and the bottom row reach nothing here).
  std::vector<uint8_t> g(w * h);
  ForEachBand(int64_t(h), BandThreads(int64_t(h), 16, multi), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      uint8_t* start = m.data() + size_t(y) * w;
      uint8_t* d = g.data() + size_t(y) * w;
      startRow(size_t(y), start);
      if (size_t(y) + 1 == h) {
        std::fill_n(d, w, MosaicMaskCap);
        continue;
      }
      std::copy_n(start, w, d);
      d[w - 1] = MosaicMaskCap;
      if (y == 0) d[0] = MosaicMaskCap;
      for (size_t x = 1; x < w; ++x) d[x] = std::min<uint8_t>(d[x], uint8_t(d[x - 1] + 1));
      for (size_t x = w - 1; x-- > 0;) d[x] = std::min<uint8_t>(d[x], uint8_t(d[x + 1] + 1));
    }
  });
  // The bottom row's and the right column's nearest pixel at or after each
  // column and row (distance along the line).
  std::vector<int32_t> bottom(w, MosaicMaskCap), right(h, MosaicMaskCap);
  for (size_t x = w - 2; x >= 1; --x)
    bottom[x] = std::min<int32_t>(m[(h - 1) * w + x], x + 2 < w ? bottom[x + 1] + 1 : MosaicMaskCap);
  for (size_t y = h - 2; y >= 1; --y)
    right[y] = std::min<int32_t>(m[y * w + w - 1], y + 2 < h ? right[y + 1] + 1 : MosaicMaskCap);
  // Columns of the interior, on bands of columns: down and up through g, then
  // the interior rows with the border lines' pixels into the mask.
  const int64_t inner = int64_t(w) - 2;
  ForEachBand(inner, BandThreads(inner, 16, multi), [&](int64_t c0, int64_t c1) {
    const size_t x0 = size_t(c0) + 1, n = size_t(c1 - c0);
    for (size_t y = 1; y + 1 < h; ++y) {
      uint8_t* d = g.data() + y * w + x0;
      const uint8_t* up = d - w;
      for (size_t x = 0; x < n; ++x) d[x] = std::min<uint8_t>(d[x], uint8_t(up[x] + 1));
    }
    for (size_t y = h - 2; y >= 1; --y) {
      uint8_t* d = g.data() + y * w + x0;
      if (y + 2 < h) {
        const uint8_t* down = d + w;
        for (size_t x = 0; x < n; ++x) d[x] = std::min<uint8_t>(d[x], uint8_t(down[x] + 1));
      }
      uint8_t* out = m.data() + y * w + x0;
      const int32_t below = int32_t(h - 1 - y), fromRight = right[y] + int32_t(w - 1 - x0);
      for (size_t x = 0; x < n; ++x)
        out[x] = uint8_t(std::min({int32_t(d[x]), bottom[x0 + x] + below, fromRight - int32_t(x)}));
    }
  });
  return m;
}

}  // namespace astrelon
