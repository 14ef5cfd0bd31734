#include "pixelops/mosaic/mosaic_linear_rows.h"

#include <cstdint>

#include "platform/lane_polynomials.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "store/image_slot.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using simd::TVec4f;
using simd::TVec8f;
template <class V>
using Mask = simd::Int<V>;

// v where the mask is set, +0 elsewhere.
template <class V>
[[gnu::always_inline]] inline V Keep(V v, Mask<V> m) {
  return simd::FloatOf<V>(simd::BitsOf(v) & m);
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
[[gnu::always_inline]] inline void Sums(const float* row, int32_t taps, const TLaneTaps<V>& lanes, int32_t x, V& sum) {
  sum = simd::Splat<V>(0.0f);
  for (int32_t i = 0; i < taps; ++i)
    sum += Keep(lanes.Weight[size_t(i)] * simd::LoadLanes<V>(row + lanes.Offset[size_t(i)] + x), lanes.Used[size_t(i)]);
}
template <class V>
[[gnu::always_inline]] inline void Pixels(const float* row, int32_t taps, const TLaneTaps<V>& lanes, int32_t x,
                                          float* out) {
  V sum;
  Sums(row, taps, lanes, x, sum);
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
// The same eight at a time. The three result planes are far larger than the
// caches: the whole cache lines of a row are written past them (streaming
// stores spare reading each line before it is written), a line's two halves
// one after the other; the partial lines at the row's ends take plain stores.
ASTRELON_AVX2 int32_t VectorColumnsAvx2(const float* row, int32_t w, const TLinearRowTaps& t, float* out) {
  constexpr uintptr_t Line = 64;
  const int32_t end = w - 1;  // one past the last column
  int32_t x = 1;
  const TLaneTaps<TVec8f> lanes = LaneTaps<TVec8f>(t, w, 1);
  const auto at = [&](int32_t c) { return reinterpret_cast<uintptr_t>(out + c - 1); };
  if (end - x >= 48) {
    // Eight at a time up to the first whole line; the parity stays that of column 1
    // only in steps of eight, so single columns fill the gap.
    const int32_t first = x + int32_t(((Line - at(x) % Line) % Line) / sizeof(float));
    const std::array<TLaneTaps<float>, 2> single{LaneTaps<float>(t, w, 0), LaneTaps<float>(t, w, 1)};
    for (; x < first; ++x) Pixels(row, t.Taps, single[size_t(x & 1)], x, out);
    const TLaneTaps<TVec8f> aligned = LaneTaps<TVec8f>(t, w, x & 1);
    for (; x + 16 <= end; x += 16) {
      TVec8f a, b;
      Sums(row, t.Taps, aligned, x, a);
      Sums(row, t.Taps, aligned, x + 8, b);
      _mm256_stream_ps(out + x - 1, (__m256)a);
      _mm256_stream_ps(out + x + 7, (__m256)b);
    }
    for (; x + 8 <= end; x += 8) Pixels(row, t.Taps, aligned, x, out);
    return x;
  }
  for (; x + 8 <= end; x += 8) Pixels(row, t.Taps, lanes, x, out);
  return x;
}
#endif

}  // namespace

void FinishStreamedRows() {
#if ASTRELON_HAVE_SSE2
  _mm_sfence();
#endif
}

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
