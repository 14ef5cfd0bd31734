#pragma once
// The middle one of 25 values by a fixed network of compare-exchange steps,
// eight pixels at a time: a 32-input odd-even merge sort whose padding inputs
// (+infinity) and whose steps that cannot reach the middle output are dropped
// when the program is compiled.
#include <array>
#include <cstdint>
#include <utility>

#include "platform/simd_support.h"

namespace astrelon {

namespace median25 {

// One step on two registers: the smaller value goes to A, the larger to B;
// Keep says which of the two results later steps read (1 A, 2 B, 3 both).
struct TStep {
  uint8_t A = 0, B = 0, Keep = 0;
};

constexpr int Inputs = 25;
constexpr int Width = 32;

struct TNetwork {
  std::array<TStep, 256> Steps{};
  int Count = 0;
  int Result = 0;  // the register that ends up holding the 13th smallest
};

constexpr TNetwork Build() {
  // Batcher's odd-even merge sort on 32 positions.
  std::array<std::pair<int, int>, 256> all{};
  int n = 0;
  for (int p = 1; p < Width; p <<= 1)
    for (int k = p; k >= 1; k >>= 1)
      for (int j = k % p; j + k < Width; j += 2 * k)
        for (int i = 0; i < k && i + j + k < Width; ++i)
          if ((i + j) / (2 * p) == (i + j + k) / (2 * p)) all[size_t(n++)] = {i + j, i + j + k};
  // Positions holding the padding: a step between a value and the padding only
  // renames where the value is (no code); one between two paddings does nothing.
  std::array<int, Width> reg{};
  std::array<bool, Width> pad{};
  for (int q = 0; q < Width; ++q) reg[size_t(q)] = q, pad[size_t(q)] = q >= Inputs;
  std::array<TStep, 256> forward{};
  int m = 0;
  for (int s = 0; s < n; ++s) {
    const auto [a, b] = all[size_t(s)];
    if (pad[size_t(a)] && !pad[size_t(b)]) {
      std::swap(reg[size_t(a)], reg[size_t(b)]);
      pad[size_t(a)] = false;
      pad[size_t(b)] = true;
    } else if (!pad[size_t(a)] && !pad[size_t(b)]) {
      forward[size_t(m++)] = {uint8_t(reg[size_t(a)]), uint8_t(reg[size_t(b)]), 3};
    }
  }
  // Backwards from the middle output: only steps whose results are read stay.
  TNetwork net;
  net.Result = reg[size_t(Inputs / 2)];
  std::array<bool, Width> needed{};
  needed[size_t(net.Result)] = true;
  std::array<TStep, 256> kept{};
  int c = 0;
  for (int s = m - 1; s >= 0; --s) {
    TStep st = forward[size_t(s)];
    const uint8_t keep = uint8_t((needed[st.A] ? 1 : 0) | (needed[st.B] ? 2 : 0));
    if (keep == 0) continue;
    st.Keep = keep;
    needed[st.A] = needed[st.B] = true;
    kept[size_t(c++)] = st;
  }
  for (int s = 0; s < c; ++s) net.Steps[size_t(s)] = kept[size_t(c - 1 - s)];
  net.Count = c;
  return net;
}

inline constexpr TNetwork Network = Build();

// The scalar twin on 25 values in place; returns the middle one.
inline float MiddleOf25(std::array<float, Width>& v) {
  for (int s = 0; s < Network.Count; ++s) {
    const TStep st = Network.Steps[size_t(s)];
    const float a = v[st.A], b = v[st.B];
    if (st.Keep & 1) v[st.A] = a < b ? a : b;
    if (st.Keep & 2) v[st.B] = a > b ? a : b;
  }
  return v[size_t(Network.Result)];
}

#if ASTRELON_HAVE_AVX2
template <size_t S>
ASTRELON_AVX2 inline void Step8(__m256 (&v)[Width]) {
  constexpr TStep st = Network.Steps[S];
  const __m256 a = v[st.A], b = v[st.B];
  if constexpr ((st.Keep & 1) != 0) v[st.A] = _mm256_min_ps(a, b);
  if constexpr ((st.Keep & 2) != 0) v[st.B] = _mm256_max_ps(a, b);
}

template <size_t... S>
ASTRELON_AVX2 inline __m256 Middle8(__m256 (&v)[Width], std::index_sequence<S...>) {
  (Step8<S>(v), ...);
  return v[size_t(Network.Result)];
}

// The middle of the 25 values of each of eight lanes (v[0..24] hold them; the
// rest are scratch). NaN-free input gives the same values as the scalar twin.
ASTRELON_AVX2 inline __m256 MiddleOf25x8(__m256 (&v)[Width]) {
  return Middle8(v, std::make_index_sequence<size_t(Network.Count)>{});
}
#endif

}  // namespace median25

}  // namespace astrelon
