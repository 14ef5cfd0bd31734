#include "registration/stacking/sorting_network.h"

#include <algorithm>

namespace astrelon {

std::vector<TCompareExchange> SortingNetwork(int32_t n) {
  // Batcher's merge network for the next power of two with the steps that
  // touch a position beyond n left out: those positions would hold +infinity,
  // which no step ever moves down.
  std::vector<TCompareExchange> steps;
  for (int32_t p = 1; p < n; p *= 2)
    for (int32_t k = p; k >= 1; k /= 2)
      for (int32_t j = k % p; j + k < n; j += 2 * k)
        for (int32_t i = 0; i < k && i + j + k < n; ++i)
          if ((i + j) / (2 * p) == (i + j + k) / (2 * p)) steps.emplace_back(int16_t(i + j), int16_t(i + j + k));
  return steps;
}

std::vector<TCompareExchange> NetworkForPositions(std::span<const TCompareExchange> network,
                                                  std::span<const int32_t> positions) {
  int32_t size = 0;
  for (const auto& [a, b] : network) size = std::max<int32_t>(size, b + 1);
  for (int32_t p : positions) size = std::max(size, p + 1);
  std::vector<uint8_t> needed(size_t(size), 0);
  for (int32_t p : positions) needed[size_t(p)] = 1;
  std::vector<TCompareExchange> kept;
  for (size_t s = network.size(); s-- > 0;) {
    const auto [a, b] = network[s];
    if (!needed[size_t(a)] && !needed[size_t(b)]) continue;
    needed[size_t(a)] = needed[size_t(b)] = 1;
    kept.push_back(network[s]);
  }
  std::reverse(kept.begin(), kept.end());
  return kept;
}

}  // namespace astrelon
