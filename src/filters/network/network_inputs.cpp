#include "filters/network/network_inputs.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "store/image_store.h"

namespace astrelon {

const TInputOffset DiscOffsets[37] = {
    {0, 0},                                                                        // 0 the centre
    {-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1},          // 1..8
    {-1, -2}, {0, -2}, {1, -2}, {-2, -1}, {2, -1}, {-2, 0}, {2, 0}, {-2, 1},       // 9..16
    {2, 1},   {-1, 2}, {0, 2},  {1, 2},                                            // 17..20
    {-1, -3}, {0, -3}, {1, -3}, {-2, -2}, {2, -2}, {-3, -1}, {3, -1}, {-3, 0},     // 21..28
    {3, 0},   {-3, 1}, {3, 1},  {-2, 2},  {2, 2},  {-1, 3},  {0, 3},  {1, 3},      // 29..36
};

const TInputOffset SquareOffsets[21] = {
    {-1, -2}, {0, -2}, {1, -2},                     // 0..2
    {-2, -1}, {-1, -1}, {0, -1}, {1, -1}, {2, -1},  // 3..7
    {-2, 0},  {-1, 0},  {0, 0},  {1, 0},  {2, 0},   // 8..12
    {-2, 1},  {-1, 1},  {0, 1},  {1, 1},  {2, 1},   // 13..17
    {-1, 2},  {0, 2},   {1, 2},                     // 18..20
};

namespace {

// The regions of the upper band, rows dy = -6..-2, columns dx = -5..5; the
// lower band is its mirror image with every number raised by 2.
constexpr int8_t UpperBand[5][11] = {
    {0, 0, 0, 57, 57, 57, 57, 57, 0, 0, 0},
    {0, 49, 49, 53, 53, 53, 53, 53, 50, 50, 0},
    {49, 49, 41, 41, 45, 45, 45, 42, 42, 50, 50},
    {49, 41, 37, 37, 0, 0, 0, 38, 38, 42, 50},
    {0, 41, 37, 0, 0, 0, 0, 0, 38, 42, 0},
};
// The left band, columns dx = -6..-4, rows dy = -2..2; the right band is its
// mirror image with every number raised by 2.
constexpr int8_t LeftBand[5][3] = {
    {58, 54, 0}, {58, 54, 46}, {58, 54, 46}, {58, 54, 46}, {58, 54, 0},
};

// The bands meet at dy = +-2, where the left and right bands hold the
// positions that the upper and lower bands leave out.
constexpr int32_t RegionOf(int32_t dx, int32_t dy) {
  if (dy <= -2 && dy >= -6 && dx >= -5 && dx <= 5 && UpperBand[dy + 6][dx + 5]) return UpperBand[dy + 6][dx + 5];
  if (dy >= 2 && dy <= 6 && dx >= -5 && dx <= 5 && UpperBand[6 - dy][dx + 5]) return UpperBand[6 - dy][dx + 5] + 2;
  if (dy >= -2 && dy <= 2 && dx <= -4 && dx >= -6) return LeftBand[dy + 2][dx + 6];
  if (dy >= -2 && dy <= 2 && dx >= 4 && dx <= 6) {
    const int32_t r = LeftBand[dy + 2][6 - dx];
    return r ? r + 2 : 0;
  }
  return 0;
}

// The positions of every region, gathered once.
struct TRegionTable {
  std::array<std::array<TInputOffset, 16>, 24> At{};
  std::array<int32_t, 24> Count{};
  TRegionTable() {
    for (int32_t dy = -6; dy <= 6; ++dy)
      for (int32_t dx = -6; dx <= 6; ++dx)
        if (const int32_t r = RegionOf(dx, dy); r > 0) {
          const size_t k = size_t(r - 37);
          At[k][size_t(Count[k]++)] = {int8_t(dx), int8_t(dy)};
        }
  }
};

const TRegionTable& Regions() {
  static const TRegionTable table;
  return table;
}

// The input of one value: its deviation from the offset, limited to +-limit
// when clipping.
float Normalised(double value, double offset, double scale, bool clip, double limit) {
  double d = value - offset;
  if (clip && std::abs(d) > limit) d = d < 0 ? -limit : limit;
  return float(d / scale);
}

}  // namespace

int32_t RegionAt(int32_t dx, int32_t dy) { return RegionOf(dx, dy); }

void EvalNetworkAt(const TImageSlot& im, int plane, int32_t x, int32_t y, int32_t N, double offset, double scale,
                   bool clip, float fill, TNetworkPass& pass) {
  float* in = pass.X.data();
  const int32_t w = im.Width, h = im.Height;
  const float* p = im.Planes[size_t(plane)].data();
  auto inside = [&](int32_t dx, int32_t dy) { return x + dx >= 0 && x + dx < w && y + dy >= 0 && y + dy < h; };
  auto at = [&](int32_t dx, int32_t dy) { return p[size_t(y + dy) * size_t(w) + size_t(x + dx)]; };

  if (N == 20) {
    for (int32_t i = 0; i <= 20; ++i) {
      const TInputOffset o = SquareOffsets[i];
      const float v = inside(o.Dx, o.Dy) ? at(o.Dx, o.Dy) : BlankPixel;
      in[i] = IsValidPixel(v) ? float((double(v) - offset) / scale) : 0.0f;
    }
    return;
  }
  const int32_t top = std::clamp(N, 0, NetworkMaxInputs - 1);
  std::fill(in, in + top + 1, fill);
  double limit = 0;
  if (N > 5) {
    const int32_t disc = std::min(top, 36);
    if (clip) {
      double m = 0;
      for (int32_t i = 0; i <= std::min(disc, 8); ++i) {
        const TInputOffset o = DiscOffsets[i];
        if (!inside(o.Dx, o.Dy)) continue;
        const float v = at(o.Dx, o.Dy);
        if (!IsValidPixel(v)) continue;
        in[i] = float((double(v) - offset) / scale);
        const double d = std::abs(double(v) - offset);
        m = std::max(m, o.Dx != 0 && o.Dy != 0 ? 1.41 * d : d);
      }
      limit = 1.8 * m;
    }
    for (int32_t i = clip ? 9 : 0; i <= disc; ++i) {
      const TInputOffset o = DiscOffsets[i];
      if (!inside(o.Dx, o.Dy)) continue;
      const float v = at(o.Dx, o.Dy);
      if (IsValidPixel(v)) in[i] = Normalised(v, offset, scale, clip, limit);
    }
  }
  if (N == 40 || N < 5) {
    const int32_t first = N == 40 ? 37 : 0;
    for (int32_t k = 0; k < 3 && first + k <= top; ++k) {
      const int q = im.PlaneCount >= 3 ? k + 1 : 1;
      const float v = im.Planes[size_t(q)][size_t(y) * size_t(w) + size_t(x)];
      if (IsValidPixel(v)) in[first + k] = float((double(v) - offset) / scale);
    }
    if (N > 4) in[N] = float(plane - 2);
  }
  if (N == 60) {
    const TRegionTable& regions = Regions();
    for (size_t r = 0; r < 24; ++r) {
      double sum = 0;
      int32_t count = 0;
      for (int32_t k = 0; k < regions.Count[r]; ++k) {
        const TInputOffset o = regions.At[r][size_t(k)];
        if (!inside(o.Dx, o.Dy)) continue;
        const float v = at(o.Dx, o.Dy);
        if (!IsValidPixel(v)) continue;
        sum += v;
        ++count;
      }
      if (count > 0) in[37 + r] = Normalised(sum / count, offset, scale, clip, limit);
    }
  }
}

void EvalNetworkAt(int slot, int plane, int32_t x, int32_t y, int32_t N, double offset, double scale, bool clip,
                   float fill) {
  EvalNetworkAt(Store.Image[size_t(slot)], plane, x, y, N, offset, scale, clip, fill, NetworkPass);
}

}  // namespace astrelon
