#include "frequency/wavelet/wavelet_row_loops.h"

#include "platform/vector_lanes.h"
#include "store/image_slot.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using simd::LaneCount;
using simd::LoadLanes;
using simd::Splat;
using simd::StoreLanes;
using simd::TVec4f;

// Lanes that hold valid values (a bool for a plain float).
template <class V>
[[gnu::always_inline]] inline auto Valid(V v) {
  return v > Splat<V>(BlankLimit);
}

template <class V>
bool AllValidRun(const float* v, int32_t n) {
  constexpr int K = LaneCount<V>;
  auto ok = Valid(Splat<V>(0.0f));
  int32_t x = 0;
  for (; x + K <= n; x += K) ok = ok & Valid(LoadLanes<V>(v + x));
  bool all = true;
  if constexpr (K == 1) {
    all = ok;
  } else {
    for (int k = 0; k < K; ++k) all = all && ok[k] != 0;
  }
  for (; x < n; ++x) all = all && IsValidPixel(v[x]);
  return all;
}

template <class V>
void EvenColumns(const float* a, const float* h, const float* b, float* out, int32_t n) {
  constexpr int K = LaneCount<V>;
  int32_t x = 0;
  for (; x + K <= n; x += K) {
    const V va = LoadLanes<V>(a + x), vh = LoadLanes<V>(h + x), vb = LoadLanes<V>(b + x);
    StoreLanes(out + x, ((va + Splat<V>(6.0f) * vh) + vb) * Splat<V>(0.125f));
  }
  for (; x < n; ++x) out[x] = ((a[x] + 6.0f * h[x]) + b[x]) * 0.125f;
}

template <class V>
void OddColumns(const float* h, const float* b, float* out, int32_t n) {
  constexpr int K = LaneCount<V>;
  int32_t x = 0;
  for (; x + K <= n; x += K) StoreLanes(out + x, (LoadLanes<V>(h + x) + LoadLanes<V>(b + x)) * Splat<V>(0.5f));
  for (; x < n; ++x) out[x] = (h[x] + b[x]) * 0.5f;
}

// The detail step on one value or lane group.
template <class V>
[[gnu::always_inline]] inline V Step(V d, V e, TDetailStep step, float gain) {
  if (step == TDetailStep::Store) return e;
  const V sum = step == TDetailStep::Add ? d * Splat<V>(gain) + e : d - e;
  return V(Valid(d) & Valid(e) ? sum : d);
}

template <class V>
void RowInterior(const float* s, int32_t n, const float* d, float* out, TDetailStep step, float gain) {
  constexpr int K = LaneCount<V>;
  int32_t i = 1;
  // Lanes i .. i+K-1 read s[i-1] .. s[i+K], all inside the row.
  for (; i + K < n; i += K) {
    const V vm = LoadLanes<V>(s + i - 1), v0 = LoadLanes<V>(s + i), vp = LoadLanes<V>(s + i + 1);
    const V even = ((vm + Splat<V>(6.0f) * v0) + vp) * Splat<V>(0.125f);
    const V odd = (v0 + vp) * Splat<V>(0.5f);
    const int32_t o = 2 * i;
    if constexpr (K == 1) {
      out[o] = Step<float>(d ? d[o] : 0.0f, even, step, gain);
      out[o + 1] = Step<float>(d ? d[o + 1] : 0.0f, odd, step, gain);
    } else {
      const V lo = __builtin_shufflevector(even, odd, 0, 4, 1, 5), hi = __builtin_shufflevector(even, odd, 2, 6, 3, 7);
      const V d0 = d ? LoadLanes<V>(d + o) : V{}, d1 = d ? LoadLanes<V>(d + o + K) : V{};
      StoreLanes(out + o, Step<V>(d0, lo, step, gain));
      StoreLanes(out + o + K, Step<V>(d1, hi, step, gain));
    }
  }
  for (; i + 1 < n; ++i) {
    const int32_t o = 2 * i;
    out[o] = Step<float>(d ? d[o] : 0.0f, ((s[i - 1] + 6.0f * s[i]) + s[i + 1]) * 0.125f, step, gain);
    out[o + 1] = Step<float>(d ? d[o + 1] : 0.0f, (s[i] + s[i + 1]) * 0.5f, step, gain);
  }
}

template <class V>
void Combine(const float* d, const float* e, float* out, int32_t n, TDetailStep step, float gain) {
  constexpr int K = LaneCount<V>;
  int32_t x = 0;
  for (; x + K <= n; x += K)
    StoreLanes(out + x, Step<V>(d ? LoadLanes<V>(d + x) : V{}, LoadLanes<V>(e + x), step, gain));
  for (; x < n; ++x) out[x] = Step<float>(d ? d[x] : 0.0f, e[x], step, gain);
}

}  // namespace

bool AllValid(const float* v, int32_t n, bool vector) {
  return vector ? AllValidRun<TVec4f>(v, n) : AllValidRun<float>(v, n);
}

void ExpandEvenColumns(const float* a, const float* h, const float* b, float* out, int32_t n, bool vector) {
  if (vector)
    EvenColumns<TVec4f>(a, h, b, out, n);
  else
    EvenColumns<float>(a, h, b, out, n);
}

void ExpandOddColumns(const float* h, const float* b, float* out, int32_t n, bool vector) {
  if (vector)
    OddColumns<TVec4f>(h, b, out, n);
  else
    OddColumns<float>(h, b, out, n);
}

void ExpandRowInterior(const float* s, int32_t n, const float* d, float* out, TDetailStep step, float gain,
                       bool vector) {
  if (vector)
    RowInterior<TVec4f>(s, n, d, out, step, gain);
  else
    RowInterior<float>(s, n, d, out, step, gain);
}

void CombineWithDetail(const float* d, const float* e, float* out, int32_t n, TDetailStep step, float gain,
                       bool vector) {
  if (vector)
    Combine<TVec4f>(d, e, out, n, step, gain);
  else
    Combine<float>(d, e, out, n, step, gain);
}

}  // namespace astrelon
