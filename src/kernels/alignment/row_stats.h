#pragma once
// The statistics of a row that the box search needs (TRowStats), gathered in
// float lanes (two per double lane of the loops around them).
#include <algorithm>
#include <limits>

#include "kernels/alignment/box_search.h"
#include "kernels/alignment/double_lanes.h"
#include "store/image_slot.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace lanes {

// Float lanes of the row statistics beside L double lanes.
template <int L>
using TStatLanes = F<L == 1 ? 1 : 2 * L>;

// The statistics of a row gathered lane by lane.
template <class V>
struct TStatsAccumulator {
  static constexpr float Inf = std::numeric_limits<float>::infinity();
  V Max = simd::Splat<V>(-Inf), Blank = simd::Splat<V>(0.0f);

  [[gnu::always_inline]] void Add(V v) {
    Max = simd::LaneMax(Max, v > BlankLimit ? v : -Inf);
    Blank = v > BlankLimit ? Blank : 1.0f;
  }
  // The lanes folded into one.
  [[gnu::always_inline]] void Fold(TStatsAccumulator<float>& one) const {
    one.Max = std::max(one.Max, MaxOfLanes(Max));
    one.Blank = std::max(one.Blank, MaxOfLanes(Blank));
  }
  [[gnu::always_inline]] TRowStats Stats() const {
    TRowStats st;
    st.Max = MaxOfLanes(Max);
    st.Blank = MaxOfLanes(Blank) > 0;
    return st;
  }
};

}  // namespace lanes
}  // namespace astrelon

#pragma GCC diagnostic pop
