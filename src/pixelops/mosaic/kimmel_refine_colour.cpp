#include "pixelops/mosaic/kimmel_refine_colour.h"

#include <algorithm>
#include <array>
#include <vector>

#include "kernels/mosaic/mosaic_settings.h"
#include "kernels/mosaic/site_lanes.h"
#include "platform/simd_support.h"

// The vector helpers are always inlined: no vector crosses a call.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using simd::TVec4d;
using simd::TVec4f;

// Sites of one column parity of a row: pointers such that [x] gives the centre
// green, the four neighbours' green and colour (two opposite pairs) and the
// place written for the site at column x.
struct TSiteRow {
  const float* Centre = nullptr;
  std::array<const float*, 4> Green{}, Colour{};
  float* Out = nullptr;
  const uint8_t* Counts = nullptr;
  int32_t Pass = 1;
};

// The colour-difference fill: green plus the neighbours' colour differences
// weighted by 1 / (0.1 + green difference^2 + the pair's colour difference^2).
template <class V>
[[gnu::always_inline]] inline V Fill(V gc, const V (&gn)[4], const V (&cn)[4]) {
  const V t0 = cn[0] - cn[1], t1 = cn[2] - cn[3];
  const V pair[2] = {t0 * t0, t1 * t1};
  V sum = simd::Splat<V>(0.0), weights = simd::Splat<V>(0.0);
  for (int k = 0; k < 4; ++k) {
    const V dg = gc - gn[k];
    const V w = simd::Splat<V>(1.0) / (simd::Splat<V>(0.1) + dg * dg + pair[k / 2]);
    sum += w * (cn[k] - gn[k]);
    weights += w;
  }
  return gc + sum / weights;
}

// Sites x, x + 2, ... up to `last`, LaneCount<V> at a time while they fit; the
// first column not done.
template <class V>
[[gnu::always_inline]] inline int32_t Sites(const TSiteRow& r, int32_t x, int32_t last) {
  constexpr int32_t L = simd::LaneCount<V>;
  for (; x + 2 * (L - 1) <= last; x += 2 * L) {
    bool any = false;
    for (int32_t l = 0; l < L; ++l) any |= r.Counts[x + 2 * l] >= r.Pass;
    if (!any) continue;
    V gn[4], cn[4];
    for (size_t k = 0; k < 4; ++k) {
      gn[k] = simd::Every2Widened<V>(r.Green[k] + x);
      cn[k] = simd::Every2Widened<V>(r.Colour[k] + x);
    }
    const V v = Fill(simd::Every2Widened<V>(r.Centre + x), gn, cn);
    if constexpr (L == 1) {
      if (r.Counts[x] >= r.Pass) r.Out[x] = float(v);
    } else {
      const TVec4f f = __builtin_convertvector(v, TVec4f);
      for (int32_t l = 0; l < L; ++l)
        if (r.Counts[x + 2 * l] >= r.Pass) r.Out[x + 2 * l] = f[l];
    }
  }
  return x;
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int32_t SitesAvx2(const TSiteRow& r, int32_t x, int32_t last) { return Sites<TVec4d>(r, x, last); }
#endif

// The sites of parity `parity` from column 2 (or 3) to W - 3.
void RowSites(const TSiteRow& r, int32_t parity, int32_t w, bool vector) {
  int32_t x = 2 + parity;
  // The vector loads read one value past their last lane.
  if (vector) {
#if ASTRELON_HAVE_AVX2
    if (UseAvx2(true)) x = SitesAvx2(r, x, w - 4);
#endif
  }
  Sites<double>(r, x, w - 3);
}

}  // namespace

void RefineKimmelColour(const TKimmelColourPass& p, bool vector) {
  const int32_t w = p.W;
  const ptrdiff_t W = w;
  const std::array<ptrdiff_t, 4> diagonal{-W - 1, W + 1, -W + 1, W - 1};
  const std::array<ptrdiff_t, 4> direct{-W, W, -1, 1};
  // Row y's colour with the opposite colour's new values, one column to the right.
  std::vector<float> shifted(size_t(w) + 1);
  auto siteRow = [&](int32_t y, const std::array<ptrdiff_t, 4>& nb, float* out) {
    TSiteRow r;
    const ptrdiff_t row = ptrdiff_t(y) * W;
    r.Centre = p.G + row;
    for (size_t k = 0; k < 4; ++k) {
      r.Green[k] = p.G + row + nb[k];
      r.Colour[k] = p.C + row + nb[k];
    }
    r.Out = out;
    r.Counts = p.PixelCounts + row;
    r.Pass = p.Pass;
    return r;
  };
  for (int32_t y = 2; y <= p.H - 3; ++y) {
    if (p.RowCounts[y] < p.Pass) continue;
    float* c = p.C + ptrdiff_t(y) * W;
    const int32_t colour0 = MosaicCellColor(MosaicPattern, 0, y), colour1 = MosaicCellColor(MosaicPattern, 1, y);
    if ((colour0 == McGreen) == (colour1 == McGreen)) {
      // Not one green and one other colour: site by site.
      for (int32_t x = 2; x <= w - 3; ++x) {
        const int32_t colour = x & 1 ? colour1 : colour0;
        if (colour == p.Colour) continue;
        const TSiteRow r = siteRow(y, colour == McGreen ? direct : diagonal, c);
        Sites<double>(r, x, x);
      }
      continue;
    }
    const int32_t greenParity = colour0 == McGreen ? 0 : 1;
    const int32_t other = greenParity == 0 ? colour1 : colour0;
    if (other == p.Colour) {
      // The green sites read only the rows above and below and the plane's own
      // sites beside them: none of the values this row writes.
      RowSites(siteRow(y, direct, c), greenParity, w, vector);
      continue;
    }
    // The opposite colour's sites read only the plane's own sites of the rows
    // above and below; the green sites then read their left neighbour new and
    // their right neighbour as it was.
    std::copy_n(c, size_t(w), shifted.begin() + 1);
    RowSites(siteRow(y, diagonal, shifted.data() + 1), 1 - greenParity, w, vector);
    TSiteRow r = siteRow(y, direct, shifted.data() + 1);
    r.Colour[2] = shifted.data();
    RowSites(r, greenParity, w, vector);
    std::copy_n(shifted.begin() + 1, size_t(w), c);
  }
}

}  // namespace astrelon
