// The shift vectors of the speckle accumulation: the list for small and large
// ellipses, its bounds, and the sort by ellipse distance.
#include <algorithm>
#include <cstdlib>
#include <set>

#include <gtest/gtest.h>

#include "frequency/speckle/speckle_vectors.h"

namespace astrelon {
namespace {

std::vector<std::pair<int, int>> List(const TShiftVectors& v, int from, int to) {
  std::vector<std::pair<int, int>> out;
  for (int u = from; u <= to; ++u) out.emplace_back(v.Dx[size_t(u)], v.Dy[size_t(u)]);
  return out;
}

TEST(SpeckleVectors, UnitEllipseHoldsTheStartAndTheShortVectors) {
  const TShiftVectors v = BuildShiftVectors(1, 1);
  EXPECT_EQ(v.Regular, 3);
  EXPECT_EQ(v.Total, 8);
  const std::vector<std::pair<int, int>> expected{{1, 0}, {0, 1}, {0, -1}, {2, 0}, {0, 2}, {0, -2}, {1, 1}, {1, -1}};
  EXPECT_EQ(List(v, 1, 8), expected);
  // Half axes below 1 are raised to 1.
  const TShiftVectors small = BuildShiftVectors(0.3f, 0.0f);
  EXPECT_EQ(List(small, 1, 8), expected);
}

TEST(SpeckleVectors, EveryEllipseGivesAHalfPlaneOfDistinctVectorsWithinTheCapacity) {
  const std::pair<float, float> axes[] = {{2, 2},   {3.5f, 2},  {5, 5},    {6, 9},   {8.2f, 8.2f}, {12, 3},
                                          {20, 20}, {40, 40},   {40, 5},   {100, 1}, {257, 257},   {1e6f, 1e6f}};
  for (auto [rx, ry] : axes) {
    const TShiftVectors v = BuildShiftVectors(rx, ry);
    ASSERT_LE(v.Total, TShiftVectors::Capacity) << rx << " " << ry;
    EXPECT_GE(v.Regular, 3);
    std::set<std::pair<int, int>> seen;
    for (int u = 1; u <= v.Total; ++u) {
      EXPECT_GE(v.Dx[size_t(u)], 0);
      EXPECT_TRUE(seen.insert({v.Dx[size_t(u)], v.Dy[size_t(u)]}).second) << rx << " " << ry << " u " << u;
    }
    for (auto s : {std::pair{2, 0}, {0, 2}, {0, -2}, {1, 1}, {1, -1}}) EXPECT_TRUE(seen.count(s)) << rx;
    // Vectors past the regular ones are short ones only.
    for (int u = v.Regular + 1; u <= v.Total; ++u)
      EXPECT_LE(std::abs(v.Dx[size_t(u)]) + std::abs(v.Dy[size_t(u)]), 2);
  }
  // A large ellipse is scaled to about 245 vectors.
  const TShiftVectors big = BuildShiftVectors(40, 40);
  EXPECT_GE(big.Total, 235);
  EXPECT_LE(big.Total, 249);
  EXPECT_LT(big.Rx, 40.0f);
  // Inside the unscaled ellipse a 5 × 5 ellipse holds every lattice vector of
  // the half plane with x + y > 1 (and its mirror).
  const TShiftVectors five = BuildShiftVectors(5, 5);
  int inside = 0;
  for (int y = 0; y <= 5; ++y)
    for (int x = 0; x <= 5; ++x)
      if (x + y > 1 && x * x + y * y <= 25) inside += y > 0 ? 2 : 1;
  EXPECT_EQ(five.Regular, 3 + inside);
  EXPECT_EQ(five.Total, five.Regular);
}

TEST(SpeckleVectors, SortKeepsTheUnitVectorsAndOrdersTheRestByEllipseDistance) {
  for (auto [rx, ry] : {std::pair{8.0f, 5.0f}, {40.0f, 40.0f}, {3.0f, 7.0f}}) {
    TShiftVectors v = BuildShiftVectors(rx, ry);
    const TShiftVectors before = v;
    SortShiftVectors(v);
    EXPECT_EQ(List(v, 1, 3), List(before, 1, 3));
    std::multiset<std::pair<int, int>> a, b;
    for (int u = 1; u <= v.Total; ++u) {
      a.insert({v.Dx[size_t(u)], v.Dy[size_t(u)]});
      b.insert({before.Dx[size_t(u)], before.Dy[size_t(u)]});
    }
    EXPECT_EQ(a, b);
    auto key = [&](int u) {
      const float ex = v.Dx[size_t(u)] / v.Rx, ey = v.Dy[size_t(u)] / v.Ry;
      return ex * ex + ey * ey;
    };
    for (int u = 5; u <= v.Total; ++u) EXPECT_LE(key(u - 1), key(u)) << u;
    // Equal keys keep their order, so sorting again changes nothing.
    TShiftVectors again = v;
    SortShiftVectors(again);
    EXPECT_EQ(List(again, 1, again.Total), List(v, 1, v.Total));
  }
  // (0, 1) and (0, -1) have equal keys: their order in the list decides.
  TShiftVectors v = BuildShiftVectors(4, 4);
  SortShiftVectors(v);
  const auto sorted = List(v, 4, v.Total);
  const auto p = std::find(sorted.begin(), sorted.end(), std::pair{0, 2});
  ASSERT_NE(p, sorted.end());
  EXPECT_EQ(*(p + 1), (std::pair{0, -2}));
}

TEST(SpeckleVectors, HalfAxesFollowTheEvenTransformLengthsAndTheSeeing) {
  const THalfAxes a = SpeckleHalfAxes(100, 61, 50);
  EXPECT_FLOAT_EQ(a.Rx, 101.0f / 50);
  EXPECT_FLOAT_EQ(a.Ry, 63.0f / 50);  // 61 made even: 62
  const THalfAxes b = SpeckleHalfAxes(256, 256, 1);  // seeing below 2 counts as 2
  EXPECT_FLOAT_EQ(b.Rx, 257.0f / 2);
}

}  // namespace
}  // namespace astrelon
