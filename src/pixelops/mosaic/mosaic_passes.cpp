#include "pixelops/mosaic/mosaic_passes.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/pascal_format.h"
#include "core/settings.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/interpolation_kernels.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

// Bands of rows over the cores, for passes over `pixels` values.
template <typename F>
void ForRowBands(int32_t rows, int64_t pixels, F&& fn) {
  ForEachBand(rows, BandThreads(pixels, int64_t(1) << 18, Options.Multicore != 0),
              [&](int64_t first, int64_t last) { fn(int32_t(first), int32_t(last)); });
}

// Largest window of the blank fill: radius 5.
constexpr int32_t MaxFillRadius = 5;
constexpr size_t MaxFillValues = (2 * MaxFillRadius + 1) * (2 * MaxFillRadius + 1);

// Values of the working mosaic stay within +-1e18, the largest value the
// program's statistics take as a pixel: the interpolation methods square and
// multiply differences of neighbours in float, which must not overflow.
constexpr double MosaicValueLimit = 1e18;
float MosaicValue(double v) { return float(std::clamp(v, -MosaicValueLimit, MosaicValueLimit)); }

// The blank pixel (x, y) of colour c: the median of the valid values of that
// colour in the smallest window that has any, less Bias; 0 when none within 5.
float FilledBlank(std::span<const float> src, int32_t w, int32_t h, int32_t x, int32_t y, const TMosaicCells& cells,
                  const TMosaicBalance& b) {
  const int32_t c = MosaicCellColor(cells, x, y);
  std::array<float, MaxFillValues> found;
  for (int32_t r = c == McGreen && b.NearGreens ? 1 : 2; r <= MaxFillRadius; ++r) {
    size_t n = 0;
    for (int32_t yy = std::max(0, y - r); yy <= std::min(h - 1, y + r); ++yy)
      for (int32_t xx = std::max(0, x - r); xx <= std::min(w - 1, x + r); ++xx) {
        const float v = src[size_t(yy) * size_t(w) + size_t(xx)];
        if (MosaicCellColor(cells, xx, yy) == c && IsValidPixel(v)) found[n++] = v;
      }
    if (n > 0) return MosaicValue(double(Percentile(std::span<float>(found.data(), n), 0.5)) - b.Bias);
  }
  return 0.0f;
}

// The multipliers of a row's two column parities in the working-mosaic pass.
std::array<double, 2> RowMultipliers(const TMosaicCells& cells, int32_t y, const TMosaicBalance& b) {
  std::array<double, 2> m{};
  for (int32_t x = 0; x < 2; ++x) {
    const int32_t c = MosaicCellColor(cells, x, y);
    m[size_t(x)] = c == McRed ? b.Rmul : c == McBlue ? b.Bmul : (y & 1) == 0 ? b.G1mul : 1.0;
  }
  return m;
}

}  // namespace

void PrepareWorkingMosaic(std::span<const float> src, std::span<float> dst, int32_t w, int32_t h,
                          const TMosaicCells& cells, const TMosaicBalance& balance) {
  if (w <= 0 || h <= 0 || src.size() < size_t(w) * size_t(h) || dst.size() < size_t(w) * size_t(h)) return;
  ForRowBands(h, int64_t(w) * h, [&](int32_t first, int32_t last) {
    for (int32_t y = first; y < last; ++y) {
      const float* s = src.data() + size_t(y) * size_t(w);
      float* d = dst.data() + size_t(y) * size_t(w);
      const std::array<double, 2> m = RowMultipliers(cells, y, balance);
      for (int32_t x = 0; x < w; ++x) {
        const float v = s[x];
        float t = IsValidPixel(v) ? MosaicValue(double(v) - balance.Bias) : FilledBlank(src, w, h, x, y, cells, balance);
        if (balance.Multiply) t = MosaicValue(double(t) * m[size_t(x & 1)]);
        d[x] = t;
      }
    }
  });
}

std::vector<int32_t> SizeRatioOffsets(int32_t n, double ratio) {
  std::vector<int32_t> offsets(size_t(std::max(n, 0)));
  const double half = double(n) / 2.0;
  for (int32_t x = 0; x < n; ++x) {
    int32_t shift = Round32((double(x) - half) * ratio - double(x) + half);
    if (int64_t(x) + shift < 0) shift = -x;
    if (int64_t(x) + shift > n - 1) shift = n - 1 - x;
    offsets[size_t(x)] = shift;
  }
  return offsets;
}

void FilterGreenLattice(std::span<const float> m, std::span<float> r1, std::span<float> r2, int32_t w, int32_t h,
                        bool greenFirst) {
  const size_t n = size_t(w) * size_t(h);
  if (w < 5 || h < 5 || m.size() < n || r1.size() < n || r2.size() < n) return;
  const size_t W = size_t(w);
  // Rows 2, 4, ... up to h - 3: the band index k stands for row 2 + 2k.
  const int32_t rows = (h - 3 - 2) / 2 + 1;
  ForRowBands(rows, int64_t(n) / 2, [&](int32_t first, int32_t last) {
    for (int32_t k = first; k < last; ++k) {
      const size_t y = size_t(2 + 2 * k);
      for (int32_t x = greenFirst ? 2 : 3; x <= w - 3; x += 2) {
        const size_t i = y * W + size_t(x);
        const double up = m[i - 2 * W], down = m[i + 2 * W], centre = m[i];
        const double d1 = m[i - W - 1], d2 = m[i - W + 1], d3 = m[i + W - 1], d4 = m[i + W + 1];
        const double a = (up + down + 2.0 * centre) / 4.0;
        const double b = (d1 + d2 + d3 + d4) / 4.0;
        const double va = (up * up + down * down + 2.0 * centre * centre) / 4.0 - a * a;
        const double vb = (d1 * d1 + d2 * d2 + d3 * d3 + d4 * d4) / 4.0 - b * b;
        const double t = 0.1 * (a + b) - std::sqrt(0.1 + std::max(va, vb));
        if (!(t > 0)) continue;
        const double d = std::clamp(a - b, -t, t);
        r2[i] = float(double(r2[i]) - d);
        r1[i] = r2[i];
      }
    }
  });
}

void HalfSizeMosaic(std::span<const float> m, int32_t w, int32_t h, const TMosaicCells& cells, std::span<float> r,
                    std::span<float> g, std::span<float> b) {
  const int32_t hw = w / 2, hh = h / 2;
  const size_t n = size_t(hw) * size_t(hh);
  if (hw < 1 || hh < 1 || m.size() < size_t(w) * size_t(h) || r.size() < n || g.size() < n || b.size() < n) return;
  // Offsets of the red, first green, second green and blue cell within the 2 x 2
  // block; each starts at the (0,0) cell.
  size_t red = 0, green1 = 0, green2 = 0, blue = 0;
  const size_t W = size_t(w);
  const std::array<std::pair<size_t, size_t>, 3> others{{{1, 1}, {2, W}, {3, W + 1}}};
  for (const auto& [cell, offset] : others) {
    const int32_t c = cells[cell];
    if (c == McGreen) (cell == 1 ? green1 : green2) = offset;
    if (c == McRed) red = offset;
    if (c == McBlue) blue = offset;
  }
  ForRowBands(hh, int64_t(w) * h, [&](int32_t first, int32_t last) {
    for (int32_t j = first; j < last; ++j) {
      const float* block = m.data() + size_t(2 * j) * W;
      const size_t out = size_t(j) * size_t(hw);
      for (int32_t i = 0; i < hw; ++i, block += 2) {
        r[out + size_t(i)] = block[red];
        g[out + size_t(i)] = float((double(block[green1]) + double(block[green2])) / 2.0);
        b[out + size_t(i)] = block[blue];
      }
    }
  });
}

void ScalePlaneAboutCentre(int slot, int plane, double ratio) {
  if (!SlotInUse(slot) || plane < 1 || plane > 3) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t w = im.Width, h = im.Height;
  const size_t n = im.PixelCount();
  if (w < 1 || h < 1 || im.Planes[size_t(plane)].size() < n) return;
  // Bicubic, whatever the program-wide kind; each pass samples the plane as it
  // stands before the pass.
  const TSamplingKind kind = SamplingKindOf(IkBicubic);
  TPlaneView view = PlaneView(slot, plane);
  const auto sample = [&](float x, float y) { return SamplePoint(view, kind, x, y); };
  const double cx = double(w) / 2.0, cy = double(h) / 2.0;
  TPlane out(n);
  // Rows: the new value at x comes from (x - w/2) / ratio + w/2 of the same row.
  ForRowBands(h, int64_t(n), [&](int32_t first, int32_t last) {
    for (int32_t y = first; y < last; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const double xs = (double(x) - cx) / ratio + cx;
        out[size_t(y) * size_t(w) + size_t(x)] =
            xs > -0.1 && xs < double(w) - 0.9 ? sample(float(xs), float(y)) : BlankPixel;
      }
  });
  std::swap(im.Planes[size_t(plane)], out);
  view = PlaneView(slot, plane);
  // Columns, from the rows' result.
  ForRowBands(h, int64_t(n), [&](int32_t first, int32_t last) {
    for (int32_t y = first; y < last; ++y) {
      const double ys = (double(y) - cy) / ratio + cy;
      const bool inside = ys > -0.1 && ys < double(h) - 0.9;
      for (int32_t x = 0; x < w; ++x)
        out[size_t(y) * size_t(w) + size_t(x)] = inside ? sample(float(x), float(ys)) : BlankPixel;
    }
  });
  std::swap(im.Planes[size_t(plane)], out);
}

void CorrectMosaicInPlace(std::span<float> plane, int32_t w, int32_t h, const TMosaicCells& cells,
                          const TMosaicBalance& balance) {
  if (w <= 0 || h <= 0 || plane.size() < size_t(w) * size_t(h)) return;
  const auto factor = [&](int32_t x, int32_t y) {
    const int32_t c = MosaicCellColor(cells, x, y);
    if (c == McRed || c == McMagenta || c == McYellow) return balance.Rmul;
    if (c == McBlue || c == McCyan) return balance.Bmul;
    return (y & 1) == 0 ? balance.G1mul : 1.0;
  };
  ForRowBands(h, int64_t(w) * h, [&](int32_t first, int32_t last) {
    for (int32_t y = first; y < last; ++y) {
      float* row = plane.data() + size_t(y) * size_t(w);
      const std::array<double, 2> m{factor(0, y), factor(1, y)};
      for (int32_t x = 0; x < w; ++x)
        if (IsValidPixel(row[x])) row[x] = MosaicValue(double(MosaicValue(double(row[x]) - balance.Bias)) * m[size_t(x & 1)]);
    }
  });
}

}  // namespace astrelon
