// The multipoint shift grid: size, the raised-cosine table, the weights of
// marks seen from a node, bands and threads.
#include <cmath>
#include <numbers>
#include <random>

#include "core/settings.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "registration/combination/batch_combination_inputs.h"
#include "registration/matching/shift_grid_builder.h"
#include "registration/matching/similarity_fit.h"
#include "registration/matching/star_assignment.h"
#include "registration/matching/star_marks.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

// Runs `fill` (which returns grid nodes) on the scalar path, the four-wide and
// the eight-wide vector path (where the processor has it); all must agree to
// the bit. The scalar path's nodes.
template <typename F>
std::vector<float> SameOnEveryPath(F fill) {
  const bool savedSse2 = Sse2Enabled, savedAvx2 = Avx2Enabled;
  Sse2Enabled = false;
  const std::vector<float> scalar = fill();
  Sse2Enabled = true;
  Avx2Enabled = false;
  EXPECT_EQ(fill(), scalar) << "four-wide";
  Avx2Enabled = true;
  if (CpuHasAvx2()) {
    EXPECT_EQ(fill(), scalar) << "eight-wide";
  }
  Sse2Enabled = savedSse2;
  Avx2Enabled = savedAvx2;
  return scalar;
}

std::array<double, 2> Node(const TShiftGrid& g, int gx, int gy) {
  const size_t i = 2 * (size_t(gy) * size_t(g.NodesPerRow) + size_t(gx));
  return {g.Nodes[i], g.Nodes[i + 1]};
}

TEST(ShiftGrid, SizeAndRaisedCosineTable) {
  TShiftGrid g;
  AllocateShiftGrid(g, 1000, 800);
  EXPECT_EQ(g.NodesPerRow, 252);
  EXPECT_EQ(g.Nodes.size(), size_t(2 * 252 * 202));
  const auto& t = RaisedCosineTable();
  EXPECT_EQ(t[0], 0.0f);
  EXPECT_EQ(t[255], 1.0f);
  EXPECT_NEAR(t[128], std::pow(0.5 - 0.5 * std::cos(std::numbers::pi * 128 / 255), 2), 1e-7);
  for (int i = 1; i < 256; ++i) EXPECT_GT(t[size_t(i)], t[size_t(i - 1)]);
}

TEST(ShiftGrid, FartherMarkBehindANearerOneIsShadowed) {
  TShiftGrid g;
  AllocateShiftGrid(g, 40, 40);
  // Seen from node (0, 0) both lie to the right, one twice as far.
  const TGridMark marks[] = {{40, 0, 1, 2}, {80, 0, 5, 7}};
  FillShiftGridRows(marks, g, 0, 0, false);
  const auto n = Node(g, 0, 0);
  EXPECT_DOUBLE_EQ(n[0], 1.0);
  EXPECT_DOUBLE_EQ(n[1], 2.0);
}

TEST(ShiftGrid, NodeOnAMarkTakesItsResidual) {
  TShiftGrid g;
  AllocateShiftGrid(g, 600, 600);
  const TGridMark marks[] = {{8, 4, 1.5, -2.5}, {400, 420, 10, 10}, {300, 20, -8, 3}};
  FillShiftGridRows(marks, g, 0, 3, false);
  const auto n = Node(g, 2, 1);  // pixel (8, 4): r2 = 1, weight 1e6
  EXPECT_NEAR(n[0], 1.5, 1e-4);
  EXPECT_NEAR(n[1], -2.5, 1e-4);
  // No marks: every node (0, 0).
  FillShiftGridRows({}, g, 0, 151, false);
  for (float v : g.Nodes) ASSERT_EQ(v, 0.0f);
}

// Marks within 100 pixels of every node are evaluated exactly at every node:
// the grid equals the weighting written out directly.
TEST(ShiftGrid, NearMarksFollowTheWeightingExactly) {
  const TGridMark marks[] = {{10.5, 12, 1, 0}, {30, 8, 0, 1}, {20, 35.25, -1, 2}, {5, 30, 0.5, 0.5}};
  TShiftGrid g;
  AllocateShiftGrid(g, 40, 40);
  SameOnEveryPath([&] {
    FillShiftGridRows(marks, g, 0, 11, false);
    return g.Nodes;
  });
  const auto& table = RaisedCosineTable();
  const double pi = std::numbers::pi;
  for (int gy = 0; gy < 12; ++gy)
    for (int gx = 0; gx < 12; ++gx) {
      double r2[4], th[4], w[4];
      for (int k = 0; k < 4; ++k) {
        const double dx = marks[k].X - 4 * gx, dy = marks[k].Y - 4 * gy;
        r2[k] = dx * dx + dy * dy + 1;
        th[k] = std::atan2(dy, dx);
        w[k] = 1e6 / r2[k];
      }
      for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j) {
          double d = std::fabs(th[i] - th[j]);
          if (d > pi) d = std::fabs(d - 2 * pi);
          if (d >= pi / 2) continue;
          const double f = table[size_t(std::nearbyint(d * 255 / (pi / 2)))];
          const int far = r2[i] > r2[j] ? i : j, near = far == i ? j : i;
          const double t = (r2[far] - r2[near]) * 3;
          w[far] *= t <= r2[far] ? t / r2[far] * (f - 1) + 1 : f;
        }
      double sw = 0, sx = 0, sy = 0;
      for (int k = 0; k < 4; ++k) {
        sw += w[k];
        sx += w[k] * marks[k].Rx;
        sy += w[k] * marks[k].Ry;
      }
      const auto n = Node(g, gx, gy);
      EXPECT_NEAR(n[0], sx / sw, 2e-5) << gx << "," << gy;
      EXPECT_NEAR(n[1], sy / sw, 2e-5) << gx << "," << gy;
    }
}

class ShiftGridRuns : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    ResetStarMatching();
    saved_ = Options;
    // Target 1000 x 800 with 40 marks; the frame shows them turned slightly and
    // with local shifts that no similarity explains.
    MakeImage(1, 1000, 800, {std::vector<float>(800000, 0.0f)});
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> pos(0, 1), wobble(-1.5f, 1.5f);
    std::vector<TMarkPair> pairs;
    for (int k = 0; k < 40; ++k) {
      const float x = 1000 * pos(rng), y = 800 * pos(rng);
      pairs.push_back({x, y, 0.999f * x - 0.02f * y + 5 + wobble(rng), 0.02f * x + 0.999f * y - 3 + wobble(rng)});
    }
    BatchMarkPairs = {pairs};
    ApplyShiftListMarks(0, 2, 1);
    FitMarksToReference(1, 2);
  }
  void TearDown() override {
    Options = saved_;
    BatchMarkPairs.clear();
    BatchShiftGrid = {};
    ResetStarMatching();
    StoreTest::TearDown();
  }
  TProgramOptions saved_;
};

TEST_F(ShiftGridRuns, BandsThreadsAndVectorPathsGiveTheWholeGrid) {
  Options.Multicore = 0;
  const TShiftGrid whole = BuildShiftGrid(1, 2, 0, 799);
  EXPECT_EQ(whole.NodesPerRow, 252);
  Options.Multicore = 1;
  EXPECT_EQ(SameOnEveryPath([] { return BuildShiftGrid(1, 2, 0, 799).Nodes; }), whole.Nodes);  // bit for bit
  // Two bands: each holds the node rows its image rows read, at their own index.
  for (auto [first, last] : {std::pair{0, 399}, std::pair{400, 799}, std::pair{397, 402}}) {
    const TShiftGrid band = BuildShiftGrid(1, 2, first, last);
    for (int r = first; r <= last; ++r)
      for (int c = 0; c < 1000; c += 7) {
        double bx, by, wx, wy;
        GridShift(band, c, r, bx, by);
        GridShift(whole, c, r, wx, wy);
        ASSERT_EQ(bx, wx) << c << "," << r;
        ASSERT_EQ(by, wy) << c << "," << r;
      }
  }
  // The grid corrects the residuals: at a mark the fit plus the grid lands on its partner.
  const TMarkPair& p = BatchMarkPairs[0][5];
  const int c = int(std::nearbyint(p.Xa / 4)) * 4, r = int(std::nearbyint(p.Ya / 4)) * 4;
  double dx, dy, x, y;
  GridShift(whole, c, r, dx, dy);
  GlobalFit.Map(c, r, x, y);
  EXPECT_NEAR(x + dx - (p.Xb + (c - p.Xa) * 0.999f), 0, 1.0);
  // One image against itself: no local shift.
  EXPECT_EQ(BuildShiftGrid(1, 1, 0, 799).NodesPerRow, 0);
}

}  // namespace
}  // namespace astrelon::test
