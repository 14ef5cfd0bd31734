#pragma once
// The windows of one MinBlur step near and away from the image's edges
// (the rule is described in min_blur_step.h).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "kernels/background/min_blur_step.h"

namespace astrelon {

// The reach of a pair of opposite neighbours whose nearer end lies e pixels
// from the edge it points to, in a step of reach r: e rounded down to a
// multiple of four, at least 1, at most r. Four neighbouring pixels so share
// one window, and the pair stays centred. On the border (e = 0) the pair at
// reach 1 leaves the image and does not count.
constexpr int32_t CentredReach(int32_t e, int32_t r) { return std::min(r, std::max(1, e & ~int32_t(3))); }

// The windows of one step of reach r. A pixel's window keeps every pair of
// opposite neighbours at the full reach where both ends lie inside the image;
// only a pair that would leave it shrinks (CentredReach of the distance to the
// edge along that pair's direction, for the diagonals of the distance to the
// nearer edge). So a pixel near the top edge still reaches r to the left and
// right, and a star near an edge is eaten by neighbours along the edge.
class TStepWindows {
public:
  // A step of |reach| (no further than `deepest`, the distance of the
  // plane's middle to its nearer edge), rejecting when reach < 0.
  TStepWindows(int32_t reach, int32_t deepest, float scale);
  int32_t Reach() const { return reach_; }
  bool Rejecting() const { return rejecting_; }
  // From this distance to the left and right edges on, the pixels of a row
  // share one window: the horizontal pair at full reach, the diagonals as far
  // as the row allows.
  int32_t Inner() const { return reach_ == 1 ? 1 : (reach_ + 3) & ~int32_t(3); }
  // Whether a pair at distance e from its edge is shrunk.
  bool Shrunk(int32_t e) const { return CentredReach(e, reach_) < reach_; }
  // The pairs' reaches of a pixel ex and ey pixels from the nearer edges.
  int32_t Horizontal(int32_t ex) const { return CentredReach(ex, reach_); }
  int32_t Vertical(int32_t ey) const { return CentredReach(ey, reach_); }
  int32_t Diagonal(int32_t ex, int32_t ey) const {
    return diagonal_[size_t(std::min({ex, ey, int32_t(diagonal_.size()) - 1}))];
  }
  // The window with its pairs at reaches h, v and d; the centre weighs as in the full window.
  TMinBlurStencil Window(int32_t h, int32_t v, int32_t d) const;
  const TMinBlurStencil& Full() const { return full_[size_t(reach_)]; }

private:
  int32_t reach_;
  bool rejecting_;
  std::vector<TMinBlurStencil> full_;  // indexed by reach 1..reach_
  std::vector<int32_t> diagonal_;      // indexed by the distance to the nearer edge
};

}  // namespace astrelon
