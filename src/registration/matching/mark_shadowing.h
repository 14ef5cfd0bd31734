#pragma once
// The angular shadowing of multipoint alignment: seen from a node of the shift
// grid, a mark that lies behind a nearer one in about the same direction
// counts less, and not at all when it lies straight behind it at a much
// larger distance.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

// Entry i = (0.5 - 0.5 cos(pi i / 255))^2: 0 for the same direction, 1 at a right angle.
const std::array<float, 256>& RaisedCosineTable();

// The marks seen from one node, kept in order of distance from node to node.
class TMarkShadowing {
public:
  explicit TMarkShadowing(size_t marks);
  // Every pair of marks closer than a right angle in direction shadows the
  // farther one (the one of higher index on equal distances): its weight w is
  // multiplied by the table's factor f for their angle, eased toward 1 when
  // the two distances are alike: by (t / r2_far) (f - 1) + 1 while t =
  // 3 (r2_far - r2_near) stays within r2_far. r2 and theta are each mark's
  // squared distance and direction (-pi .. pi). Uses the eight-wide or the
  // four-wide vector path when allowed, which give exactly the scalar
  // result.
  void Apply(std::span<const float> r2, std::span<const double> theta, std::span<float> w);

private:
  std::vector<int32_t> order_;
  std::vector<float> sortedR2_, sortedTheta_;
};

}  // namespace astrelon
