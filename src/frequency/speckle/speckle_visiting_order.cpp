#include "frequency/speckle/speckle_visiting_order.h"

#include <algorithm>

namespace astrelon {

std::vector<TSpeckleVisit> SpeckleVisits(int32_t half, int32_t height) {
  std::vector<TSpeckleVisit> visits;
  const int32_t mid = height / 2;
  int32_t i = 1, ring = 0;
  do {
    if (i < half) {
      const int32_t k = std::min(ring, mid);
      visits.push_back({true, i, mid - k, mid + std::max(0, std::min(k, mid - 1)), mid, false});
    }
    ++ring;
    if (ring <= mid) visits.push_back({false, ring, 0, std::min(i, half - 1), mid, mid + ring < height});
    ++i;
  } while (i < half || ring < mid);
  return visits;
}

std::vector<std::pair<int32_t, int32_t>> SpeckleVisitingOrder(int32_t half, int32_t height) {
  std::vector<std::pair<int32_t, int32_t>> order;
  order.reserve(size_t(half) * size_t(height));
  for (const TSpeckleVisit& v : SpeckleVisits(half, height))
    v.ForEach([&](int32_t x, int32_t y) { order.emplace_back(x, y); });
  return order;
}

}  // namespace astrelon
