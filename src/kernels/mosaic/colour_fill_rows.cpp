#include "kernels/mosaic/colour_fill_rows.h"

#include "kernels/mosaic/site_lanes.h"
#include "platform/simd_support.h"

// The vector helpers are always inlined: no vector crosses a call.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using simd::TVec4f;
using simd::TVec8f;

using simd::AbsLanes;
using simd::Every2;
using simd::StoreEvery2;

// The samples of one colour at the lanes' sites: weighted sum, weights and the
// largest value with its weight (of equal largest values the later one).
template <class V>
struct TLaneSamples {
  V Sum = simd::Splat<V>(0.0f), Weights = simd::Splat<V>(0.0f);
  V Largest = simd::Splat<V>(-1e9f), LargestWeight = simd::Splat<V>(0.0f);

  template <class B>
  [[gnu::always_inline]] void Add(V d, V w, B taken) {
    const V zero = simd::Splat<V>(0.0f);
    Sum += taken ? w * d : zero;
    Weights += taken ? w : zero;
    const auto larger = taken & (d >= Largest);
    Largest = larger ? d : Largest;
    LargestWeight = larger ? w : LargestWeight;
  }
  // The weighted mean; a largest value above 1.5 times it is left out; `none`
  // without samples.
  [[gnu::always_inline]] V Mean(float none) const {
    const V mean = Sum / Weights;
    const V rest = Weights - LargestWeight;
    const V without = (Sum - Largest * LargestWeight) / rest;
    const auto drop = (simd::Splat<V>(1.5f) * mean < Largest) & (rest > 0.0f);
    const V kept = drop ? without : mean;
    return Weights > 0.0f ? kept : simd::Splat<V>(none);
  }
};

template <class V, bool Ratio>
struct TLaneFill {
  const TColourFillRow& Row;
  size_t Width;

  [[gnu::always_inline]] V M(int32_t x, int32_t y) const { return Every2<V>(Row.M + size_t(y) * Width + size_t(x)); }
  [[gnu::always_inline]] V G(int32_t x, int32_t y) const { return Every2<V>(Row.G + size_t(y) * Width + size_t(x)); }

  // The sample at (x, y) with weight f / (|G(nb) - G| + extra + epsilon)^2.
  [[gnu::always_inline]] void Add(TLaneSamples<V>& s, V gc, int32_t x, int32_t y, float f, V extra) const {
    const V gn = G(x, y);
    const V den = AbsLanes(gn - gc) + extra + Row.Epsilon;
    const V wt = simd::Splat<V>(f) / (den * den);
    if constexpr (Ratio) {
      const V below = gn - Row.Offset;
      s.Add((M(x, y) - Row.Offset) / below, wt, below > 0.0f);
    } else {
      s.Add(M(x, y) - gn, wt, simd::Splat<V>(0.0f) == simd::Splat<V>(0.0f));
    }
  }
  [[gnu::always_inline]] void Store(float* plane, int32_t x, int32_t y, V gc, const TLaneSamples<V>& s) const {
    if (!plane) return;
    V v;
    if constexpr (Ratio)
      v = (gc - Row.Offset) * s.Mean(1.0f) + Row.Offset;
    else
      v = gc + s.Mean(0.0f);
    StoreEvery2(plane + size_t(y) * Width + size_t(x), v);
  }

  // A red or blue site: the other colour from the four diagonal neighbours.
  [[gnu::always_inline]] void Diagonal(int32_t x, int32_t y, float* plane) const {
    const V gc = G(x, y), zero = simd::Splat<V>(0.0f);
    TLaneSamples<V> s;
    Add(s, gc, x - 1, y - 1, 1.0f, zero);
    Add(s, gc, x + 1, y - 1, 1.0f, zero);
    Add(s, gc, x - 1, y + 1, 1.0f, zero);
    Add(s, gc, x + 1, y + 1, 1.0f, zero);
    Store(plane, x, y, gc, s);
  }
  // A green site: the row's colour left and right and two rows up and down past
  // the green between; the column's colour above and below and two columns aside.
  [[gnu::always_inline]] void Green(int32_t x, int32_t y, float* rowPlane, float* columnPlane) const {
    const V gc = G(x, y), zero = simd::Splat<V>(0.0f);
    TLaneSamples<V> row;
    Add(row, gc, x - 1, y, 1.0f, zero);
    Add(row, gc, x + 1, y, 1.0f, zero);
    for (const int32_t dy : {-2, 2}) {
      const V between = AbsLanes(G(x, y + dy / 2) - gc);
      Add(row, gc, x - 1, y + dy, 0.5f, between);
      Add(row, gc, x + 1, y + dy, 0.5f, between);
    }
    Store(rowPlane, x, y, gc, row);
    TLaneSamples<V> column;
    Add(column, gc, x, y - 1, 1.0f, zero);
    Add(column, gc, x, y + 1, 1.0f, zero);
    for (const int32_t dx : {-2, 2}) {
      const V between = AbsLanes(G(x + dx / 2, y) - gc);
      Add(column, gc, x + dx, y - 1, 0.5f, between);
      Add(column, gc, x + dx, y + 1, 0.5f, between);
    }
    Store(columnPlane, x, y, gc, column);
  }
};

// The planes of red and blue for a colour, none for the others.
float* PlaneOf(const TColourFillRow& row, int32_t colour) {
  return colour == McRed ? row.R : colour == McBlue ? row.B : nullptr;
}

// The sites of column parity `parity` from x on, LaneCount<V> at a time while
// they fit (reads stay inside the row's neighbourhood); the first column not done.
template <class V, bool Ratio>
[[gnu::always_inline]] inline int32_t Sites(const TColourFillRow& row, const TMosaicCells& cells, int32_t y,
                                            int32_t parity, int32_t x, int32_t last) {
  constexpr int32_t L = simd::LaneCount<V>;
  const TLaneFill<V, Ratio> fill{row, size_t(row.W)};
  const int32_t own = MosaicCellColor(cells, parity, y);
  if (own != McGreen) {
    float* plane = PlaneOf(row, own == McRed ? McBlue : own == McBlue ? McRed : -1);
    for (; x + 2 * (L - 1) <= last; x += 2 * L) fill.Diagonal(x, y, plane);
  } else {
    float* rowPlane = PlaneOf(row, MosaicCellColor(cells, parity + 1, y));
    float* columnPlane = PlaneOf(row, MosaicCellColor(cells, parity, y + 1));
    for (; x + 2 * (L - 1) <= last; x += 2 * L) fill.Green(x, y, rowPlane, columnPlane);
  }
  return x;
}

#if ASTRELON_HAVE_AVX2
template <bool Ratio>
ASTRELON_AVX2 int32_t SitesAvx2(const TColourFillRow& row, const TMosaicCells& cells, int32_t y, int32_t parity,
                                int32_t x, int32_t last) {
  return Sites<TVec8f, Ratio>(row, cells, y, parity, x, last);
}
#endif

template <bool Ratio>
void Row(const TColourFillRow& row, const TMosaicCells& cells, int32_t y, bool vector) {
  for (int32_t parity = 0; parity < 2; ++parity) {
    int32_t x = 2 + parity;
    // The vector loads read one value past their last lane.
    if (vector) {
#if ASTRELON_HAVE_AVX2
      if (UseAvx2(true)) {
        x = SitesAvx2<Ratio>(row, cells, y, parity, x, row.W - 4);
      } else
#endif
        x = Sites<TVec4f, Ratio>(row, cells, y, parity, x, row.W - 4);
    }
    Sites<float, Ratio>(row, cells, y, parity, x, row.W - 3);
  }
}

}  // namespace

void FillRedBlueRow(const TColourFillRow& row, const TMosaicCells& cells, int32_t y, bool vector) {
  if (row.Ratio)
    Row<true>(row, cells, y, vector);
  else
    Row<false>(row, cells, y, vector);
}

}  // namespace astrelon

