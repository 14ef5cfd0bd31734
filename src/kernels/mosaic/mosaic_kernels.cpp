#include "kernels/mosaic/mosaic_kernels.h"

#include <array>
#include <cmath>

#include "kernels/mosaic/colour_fill_rows.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// A plane of a slot with its width, for reads at (x, y).
struct TPlaneView {
  float* Data;
  size_t Width;
  float& operator()(int32_t x, int32_t y) const { return Data[size_t(y) * Width + size_t(x)]; }
};

bool HasPlanes(int slot, int count) {
  if (!SlotInUse(slot)) return false;
  const TImageSlot& im = Store.Image[size_t(slot)];
  for (int p = 1; p <= count; ++p)
    if (im.Planes[size_t(p)].size() < im.PixelCount()) return false;
  return im.Width > 0 && im.Height > 0;
}

// Green at the non-green site (x, y) of the frame from its green neighbours.
float BorderGreen(const TPlaneView& g, int32_t w, int32_t h, int32_t x, int32_t y) {
  const auto at = [&](int32_t xx, int32_t yy) { return xx >= 0 && xx < w && yy >= 0 && yy < h ? g(xx, yy) : 0.0f; };
  const float l = at(x - 1, y), rt = at(x + 1, y), u = at(x, y - 1), d = at(x, y + 1);
  if (y == 0 || y == h - 1) {
    const float v = y == 0 ? d : u;
    if (x == 0) return (rt + v) / 2;
    if (x == w - 1) return (l + v) / 2;
    return std::abs((rt + l) / 2 - v) < std::abs(rt - l) ? v : (l + rt) / 2;
  }
  if (x == 0 || x == w - 1) {
    const float side = x == 0 ? rt : l;
    return std::abs((d + u) / 2 - side) <= std::abs(d - u) ? side : (d + u) / 2;
  }
  return std::abs(d - u) < std::abs(rt - l) ? (d + u) / 2 : (rt + l) / 2;
}

// Red or blue (plane c) at (x, y) from the colour differences of its 3 x 3
// neighbours of that colour.
float BorderColour(const TPlaneView& c, const TPlaneView& g, int32_t w, int32_t h, int32_t x, int32_t y,
                   int32_t colour) {
  const float centre = g(x, y);
  double s = 0, sw = 0;
  for (int32_t yy = std::max(0, y - 1); yy <= std::min(h - 1, y + 1); ++yy)
    for (int32_t xx = std::max(0, x - 1); xx <= std::min(w - 1, x + 1); ++xx) {
      if (MosaicCellColor(MosaicPattern, xx, yy) != colour) continue;
      const double dg = double(centre) - double(g(xx, yy));
      const double wt = 1.0 / (dg * dg + 1.0);
      s += wt * (double(c(xx, yy)) - double(g(xx, yy)));
      sw += wt;
    }
  return sw > 0 ? float(double(centre) + s / sw) : centre;
}

}  // namespace

void InterpolateMosaicBorder(int slot, int32_t margin) {
  if (!HasPlanes(slot, 3) || margin < 0) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t w = im.Width, h = im.Height;
  const TPlaneView r{im.Planes[1].data(), size_t(w)}, g{im.Planes[2].data(), size_t(w)},
      b{im.Planes[3].data(), size_t(w)};
  // Green: in the rows m+1 .. h-m-2 the sites from the first one at or after
  // column m+1 over (w rounded down to even) - 2(m+1) columns are inside.
  const int32_t innerColumns = (w & ~1) - 2 * (margin + 1);
  for (int32_t y = 0; y < h; ++y) {
    const int32_t first = MosaicCellColor(MosaicPattern, 0, y) == McGreen ? 1 : 0;
    const bool innerRow = y >= margin + 1 && y <= h - margin - 2 && innerColumns > 0;
    const int32_t innerFrom = margin + 1 + ((margin + 1 - first) & 1);
    for (int32_t x = first; x < w; x += 2) {
      if (innerRow && x == innerFrom) {  // past the inside sites (innerFrom has the sites' parity)
        x = innerFrom + innerColumns - 2;
        continue;
      }
      g(x, y) = BorderGreen(g, w, h, x, y);
    }
  }
  // Red and blue: the rows m .. h-m-1 and columns m .. w-m-1 are inside.
  for (int32_t y = 0; y < h; ++y) {
    const bool innerRow = y >= margin && y <= h - margin - 1;
    for (int32_t x = 0; x < w; ++x) {
      if (innerRow && x >= margin && x <= w - margin - 1) {
        x = w - margin - 1;
        continue;
      }
      const int32_t own = MosaicCellColor(MosaicPattern, x, y);
      if (own != McRed) r(x, y) = BorderColour(r, g, w, h, x, y, McRed);
      if (own != McBlue) b(x, y) = BorderColour(b, g, w, h, x, y, McBlue);
    }
  }
}

namespace {

// FillRedBlueWeighted (Ratio false) and FillRedBlueAstro (Ratio true).
template <bool Ratio>
void FillRedBlue(int source, int destination, int32_t first, int32_t step, float epsilon, float offset) {
  TColourFillRow row;
  if (step < 1 || !ColourFillRowOf(source, destination, epsilon, offset, Ratio, row)) return;
  for (int32_t y = first + 2; y <= row.H - 3; y += step) FillRedBlueRow(row, MosaicPattern, y);
}

}  // namespace

bool ColourFillRowOf(int source, int destination, float epsilon, float offset, bool ratio, TColourFillRow& row) {
  if (!HasPlanes(source, 1) || !HasPlanes(destination, 3)) return false;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const int32_t w = dst.Width, h = dst.Height;
  if (src.Width != w || src.Height != h) return false;
  row = {src.Planes[1].data(), dst.Planes[2].data(), dst.Planes[1].data(), dst.Planes[3].data(), w, h, epsilon,
         offset, ratio};
  return true;
}

void FillRedBlueWeighted(int source, int destination, int32_t first, int32_t step, float epsilon) {
  FillRedBlue<false>(source, destination, first, step, epsilon, 0.0f);
}

void FillRedBlueAstro(int source, int destination, int32_t first, int32_t step, float epsilon, float offset) {
  FillRedBlue<true>(source, destination, first, step, epsilon, offset);
}

void InterpolateCheckerboardPixels(std::span<float> plane, int32_t width, int32_t height, int32_t firstPhase,
                                   int32_t rowStride) {
  if (width < 1 || height < 1 || rowStride < width) return;
  if (plane.size() < size_t(height - 1) * size_t(rowStride) + size_t(width)) return;
  const auto at = [&](int32_t x, int32_t y) -> float {
    return x >= 0 && x < width && y >= 0 && y < height ? plane[size_t(y) * size_t(rowStride) + size_t(x)]
                                                       : BlankPixel;
  };
  for (int32_t y = 0; y < height; ++y) {
    const bool edgeRow = y == 0 || y == height - 1;
    for (int32_t x = (firstPhase + y) & 1; x < width; x += 2) {
      float v = BlankPixel;
      if (edgeRow && (x == 0 || x == width - 1)) {
        const float across = at(x == 0 ? 1 : x - 1, y), upDown = at(x, y == 0 ? 1 : y - 1);
        if (IsValidPixel(across) && IsValidPixel(upDown))
          v = (across + upDown) / 2;
        else if (IsValidPixel(across))
          v = across;
        else if (IsValidPixel(upDown))
          v = upDown;
      } else {
        float sum = 0;
        int32_t n = 0;
        for (const float nb : {at(x - 1, y), at(x + 1, y), at(x, y - 1), at(x, y + 1)})
          if (IsValidPixel(nb)) {
            sum += nb;
            ++n;
          }
        if (n > 0) v = sum / float(n);
      }
      plane[size_t(y) * size_t(rowStride) + size_t(x)] = v;
    }
  }
}

}  // namespace astrelon
