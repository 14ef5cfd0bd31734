#include "pixelops/mosaic/mosaic_linear_rows.h"

#include <bit>

#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "store/image_slot.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using simd::TVec4f;
using simd::TVec4i;
using simd::TVec8f;
typedef int32_t TVec8i __attribute__((vector_size(32)));

template <class V>
struct TMaskOf;
template <>
struct TMaskOf<float> {
  using Type = int32_t;
};
template <>
struct TMaskOf<TVec4f> {
  using Type = TVec4i;
};
template <>
struct TMaskOf<TVec8f> {
  using Type = TVec8i;
};
template <class V>
using Mask = typename TMaskOf<V>::Type;

// v where the mask is set, +0 elsewhere.
template <class V>
[[gnu::always_inline]] inline V Keep(V v, Mask<V> m) {
  if constexpr (std::is_same_v<V, float>)
    return std::bit_cast<float>(std::bit_cast<int32_t>(v) & m);
  else
    return (V)((Mask<V>)v & m);
}

// The tap weights and masks of lanes starting at an odd column.
template <class V>
struct TLaneTaps {
  std::array<ptrdiff_t, 9> Offset{};
  std::array<V, 9> Weight{};
  std::array<Mask<V>, 9> Used{};
};

template <class V>
[[gnu::always_inline]] inline TLaneTaps<V> LaneTaps(const TLinearRowTaps& t, int32_t w, int32_t parity) {
  TLaneTaps<V> lanes;
  for (int32_t i = 0; i < t.Taps; ++i) {
    lanes.Offset[size_t(i)] = ptrdiff_t(t.Dy[size_t(i)]) * w + t.Dx[size_t(i)];
    for (int32_t l = 0; l < simd::LaneCount<V>; ++l) {
      const size_t p = size_t((parity + l) & 1);
      const float wt = t.Weight[size_t(i)][p];
      const int32_t used = t.Used[size_t(i)][p] ? -1 : 0;
      if constexpr (simd::LaneCount<V> == 1) {
        lanes.Weight[size_t(i)] = wt;
        lanes.Used[size_t(i)] = used;
      } else {
        lanes.Weight[size_t(i)][l] = wt;
        lanes.Used[size_t(i)][l] = used;
      }
    }
  }
  return lanes;
}

// The sums of LaneCount<V> pixels from column x (of the lanes' parity) on.
template <class V>
[[gnu::always_inline]] inline void Pixels(const float* row, int32_t taps, const TLaneTaps<V>& lanes, int32_t x,
                                          float* out) {
  V sum = simd::Splat<V>(0.0f);
  for (int32_t i = 0; i < taps; ++i)
    sum += Keep(lanes.Weight[size_t(i)] * simd::LoadLanes<V>(row + lanes.Offset[size_t(i)] + x), lanes.Used[size_t(i)]);
  simd::StoreLanes(out + x - 1, sum);
}

// Columns 1 .. w - 2 in vectors of V from column 1, the rest one at a time;
// returns the first column not done.
template <class V>
[[gnu::always_inline]] inline int32_t VectorColumns(const float* row, int32_t w, const TLinearRowTaps& t, float* out) {
  constexpr int32_t L = simd::LaneCount<V>;
  const TLaneTaps<V> lanes = LaneTaps<V>(t, w, 1);
  int32_t x = 1;
  for (; x + L - 1 <= w - 2; x += L) Pixels(row, t.Taps, lanes, x, out);
  return x;
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int32_t VectorColumnsAvx2(const float* row, int32_t w, const TLinearRowTaps& t, float* out) {
  return VectorColumns<TVec8f>(row, w, t, out);
}
#endif

}  // namespace

void LinearMosaicRow(const float* row, int32_t w, const TLinearRowTaps& taps, float* out, bool vector) {
  int32_t x = 1;
  if (vector) {
#if ASTRELON_HAVE_AVX2
    if (UseAvx2(true)) x = VectorColumnsAvx2(row, w, taps, out);
    else
#endif
      x = VectorColumns<TVec4f>(row, w, taps, out);
  }
  const std::array<TLaneTaps<float>, 2> single{LaneTaps<float>(taps, w, 0), LaneTaps<float>(taps, w, 1)};
  for (; x <= w - 2; ++x) Pixels(row, taps.Taps, single[size_t(x & 1)], x, out);
  for (int32_t p = 0; p < 2; ++p)
    if (taps.Blank[size_t(p)])
      for (int32_t xb = p == 0 ? 2 : 1; xb <= w - 2; xb += 2) out[xb - 1] = BlankPixel;
}

}  // namespace astrelon

#pragma GCC diagnostic pop
