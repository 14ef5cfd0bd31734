#pragma once
// Sorting networks for a fixed number of values, built at compile time from
// Batcher's odd-even merge sort: a fixed list of compare-exchange steps that
// sorts any input, so that many sorts run side by side in the lanes of a
// vector. A network may be cut down to the steps that one output position
// needs (a median). The same list run on plain floats gives the bits of the
// vector lanes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace astrelon {

struct TComparator {
  uint8_t A = 0, B = 0;  // A < B: the smaller value goes to A
};

namespace sorting_network_detail {

constexpr int PowerOfTwoAtLeast(int n) {
  int p = 1;
  while (p < n) p *= 2;
  return p;
}

// Calls add(a, b) for the comparators of the odd-even merge sort of n values
// (the network of the next power of two, without the comparators that reach
// beyond n: padding values would sort last and never move).
template <class F>
constexpr void ForEachBatcherComparator(int n, F&& add) {
  const int size = PowerOfTwoAtLeast(n);
  for (int p = 1; p < size; p *= 2)
    for (int k = p; k >= 1; k /= 2)
      for (int j = k % p; j + k < size; j += 2 * k)
        for (int i = 0; i < k && i + j + k < size; ++i)
          if ((i + j) / (2 * p) == (i + j + k) / (2 * p) && i + j + k < n) add(i + j, i + j + k);
}

constexpr int BatcherCount(int n) {
  int count = 0;
  ForEachBatcherComparator(n, [&](int, int) { ++count; });
  return count;
}

template <int N>
struct TNetworkBuffer {
  std::array<TComparator, size_t(BatcherCount(N))> List{};
  int Count = 0;
};

// The network for N values; with Output >= 0 only the comparators on which
// position Output depends, found backwards from the end.
template <int N, int Output>
constexpr TNetworkBuffer<N> BuildNetwork() {
  TNetworkBuffer<N> all;
  ForEachBatcherComparator(N, [&](int a, int b) { all.List[size_t(all.Count++)] = {uint8_t(a), uint8_t(b)}; });
  if constexpr (Output < 0) {
    return all;
  } else {
    std::array<bool, size_t(N)> needed{};
    std::array<bool, size_t(BatcherCount(N))> keep{};
    needed[size_t(Output)] = true;
    for (int k = all.Count - 1; k >= 0; --k) {
      const TComparator c = all.List[size_t(k)];
      if (needed[c.A] || needed[c.B]) {
        keep[size_t(k)] = true;
        needed[c.A] = needed[c.B] = true;
      }
    }
    TNetworkBuffer<N> cut;
    for (int k = 0; k < all.Count; ++k)
      if (keep[size_t(k)]) cut.List[size_t(cut.Count++)] = all.List[size_t(k)];
    return cut;
  }
}

template <int N, int Output>
struct TNetwork {
  static constexpr TNetworkBuffer<N> Buffer = BuildNetwork<N, Output>();
  static constexpr int Count = Buffer.Count;
};

// Two independent comparisons (not one shared with a blend), so that the
// compiler emits a minimum and a maximum instruction.
template <class V>
[[gnu::always_inline]] inline void CompareExchange(V& a, V& b) {
  const V lo = a < b ? a : b;
  const V hi = a > b ? a : b;
  a = lo;
  b = hi;
}

template <int N, int Output, class V, size_t... I>
[[gnu::always_inline]] inline void RunNetwork(V* v, std::index_sequence<I...>) {
  constexpr const auto& list = TNetwork<N, Output>::Buffer.List;
  (CompareExchange(v[list[I].A], v[list[I].B]), ...);
}

}  // namespace sorting_network_detail

// Sorts v[0..N-1] ascending (Output < 0), or puts the value of sorted position
// Output into v[Output]. V is float or a GCC vector of floats (lane by lane).
template <int N, int Output, class V>
[[gnu::always_inline]] inline void SortNetwork(V* v) {
  sorting_network_detail::RunNetwork<N, Output>(
      v, std::make_index_sequence<size_t(sorting_network_detail::TNetwork<N, Output>::Count)>{});
}

// The same as a loop over the steps, for large networks whose unrolled code
// would be slow to compile and too big for the instruction cache.
template <int N, int Output, class V>
[[gnu::always_inline]] inline void SortNetworkLoop(V* v) {
  constexpr const auto& net = sorting_network_detail::TNetwork<N, Output>::Buffer;
  for (int k = 0; k < net.Count; ++k)
    sorting_network_detail::CompareExchange(v[net.List[size_t(k)].A], v[net.List[size_t(k)].B]);
}

// Number of compare-exchange steps of the network (for tests).
template <int N, int Output>
constexpr int SortNetworkSize() {
  return sorting_network_detail::TNetwork<N, Output>::Count;
}

}  // namespace astrelon
