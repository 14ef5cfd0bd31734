// The similarity fit of star marks, the frame weight from quality values, and
// the correspondence search of star matching on stored marks.
#include "registration/matching/similarity_fit.h"

#include <cmath>
#include <numbers>
#include <random>
#include <sstream>

#include "registration/combination/batch_combination_inputs.h"
#include "registration/matching/frame_weight.h"
#include "registration/matching/star_assignment.h"
#include "registration/matching/star_marks.h"
#include "store/planes/value_statistics.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr int Target = 3, Frame = 4;

class StarFit : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    ResetStarMatching();
  }
  void TearDown() override {
    ResetStarMatching();
    StoreTest::TearDown();
  }
  // Current marks in the target slot, reference marks stored (the frame slot has no window).
  static void Install(const std::vector<TFloatPoint>& cur, const std::vector<TFloatPoint>& ref) {
    std::vector<TMarkPair> pairs;
    for (size_t k = 0; k < cur.size(); ++k) pairs.push_back({cur[k].X, cur[k].Y, ref[k].X, ref[k].Y});
    InstallMarkPairs(pairs, Frame, Target);
  }
};

TEST_F(StarFit, QuarterTurnOfTwoMarks) {
  Install({{0, 0}, {10, 0}}, {{0, 0}, {0, 10}});
  FitMarksToReference(Target, Frame);
  EXPECT_DOUBLE_EQ(GlobalFit.A, 0);
  EXPECT_DOUBLE_EQ(GlobalFit.B, 1);
  EXPECT_DOUBLE_EQ(GlobalFit.Tx, 0);
  EXPECT_DOUBLE_EQ(GlobalFit.Ty, 0);
  EXPECT_EQ(BatchFittedTransform.B, 1);
  EXPECT_EQ(BatchFittedTransform.Ox, 0);
}

TEST_F(StarFit, MarksCloseToTheirCentreKeepRotationAndScale) {
  // Every mark within 2.8 pixels of the centroid: only the shift follows.
  GlobalFit = {.A = 0.5, .B = 0.25};
  Install({{10, 10}, {12, 11}, {11, 12}}, {{20, 30}, {22, 31}, {21, 32}});
  FitMarksToReference(Target, Frame);
  EXPECT_EQ(GlobalFit.A, 0.5);
  EXPECT_EQ(GlobalFit.B, 0.25);
  double x = 0, y = 0;
  GlobalFit.Map(11, 11, x, y);  // the centroid maps onto the reference centroid
  EXPECT_NEAR(x, 21, 1e-12);
  EXPECT_NEAR(y, 31, 1e-12);
  // A single reference star (all partners on its centroid) leaves them too.
  GlobalFit = {.A = 1.0, .B = 0.0};
  Install({{0, 0}, {40, 0}, {0, 40}}, {{7, 9}, {7, 9}, {7, 9}});
  FitMarksToReference(Target, Frame);
  EXPECT_EQ(GlobalFit.A, 1.0);
  EXPECT_EQ(GlobalFit.B, 0.0);
  EXPECT_TRUE(std::isfinite(GlobalFit.Tx) && std::isfinite(GlobalFit.Ty));
}

// 20 marks under a random similarity with noise: the fit is the least-squares
// solution that numpy finds for x' = a x - b y + tx, y' = b x + a y + ty.
TEST_F(StarFit, NoisyMarksMatchTheLeastSquaresSolution) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> pos(0, 1000), angle(-3, 3), noise(-0.7, 0.7);
  const double phi = angle(rng), s = 0.9 + 0.2 * (angle(rng) + 3) / 6;
  const double a = s * std::cos(phi), b = s * std::sin(phi), tx = 37.5, ty = -12.25;
  std::vector<TFloatPoint> cur, ref;
  std::ostringstream xs;
  xs.precision(9);  // enough to give back the same float
  for (int k = 0; k < 20; ++k) {
    const double x = pos(rng), y = pos(rng);
    cur.push_back({float(x), float(y)});
    ref.push_back({float(a * x - b * y + tx + noise(rng)), float(b * x + a * y + ty + noise(rng))});
    xs << cur.back().X << "," << cur.back().Y << "," << ref.back().X << "," << ref.back().Y << ";";
  }
  Install(cur, ref);
  FitMarksToReference(Target, Frame);
  std::ostringstream script;
  script.precision(17);
  script << "import numpy as np\n"
         << "m = np.array([[float(v) for v in r.split(',')] for r in '" << xs.str()
         << "'.strip(';').split(';')], dtype=np.float32).astype(np.float64)\n"
         << "x, y, u, v = m.T\n"
         << "A = np.zeros((40, 4)); A[0::2] = np.c_[x, -y, np.ones(20), np.zeros(20)]\n"
         << "A[1::2] = np.c_[y, x, np.zeros(20), np.ones(20)]\n"
         << "rhs = np.empty(40); rhs[0::2] = u; rhs[1::2] = v\n"
         << "p = np.linalg.lstsq(A, rhs, rcond=None)[0]\n"
         << "got = np.array([" << GlobalFit.A << ", " << GlobalFit.B << ", " << GlobalFit.Tx << ", " << GlobalFit.Ty
         << "])\n"
         << "assert np.all(np.abs(p - got) <= 1e-9 * np.maximum(1, np.abs(p))), (p, got)\n";
  EXPECT_TRUE(RunPython(script.str()));
}

TEST_F(StarFit, FrameWeightFromTheSpreadOfQualities) {
  auto weight = [](std::vector<float> values, bool accumulate = false) {
    StartFrameStatistics(int32_t(values.size()));
    for (float v : values) AddFrameStatistic(v);
    return BildgewichtAusStatistik(accumulate);
  };
  EXPECT_EQ(weight({}), 1.0f);
  EXPECT_EQ(weight({7, 7, 7, 7}), 1.0f);
  EXPECT_EQ(weight({0, 0, 2e-11f, 0}), 1.0f);  // mean at most 1e-10
  EXPECT_EQ(weight({-5, -1, -3}), 1.0f);
  // n = 5, mean 12, sigma 4: level (0.95 + log10 5) * 4 / 12 of the mean; 20 lies beyond it.
  const double limit = OutlierClipFactor(5, 0.95, 4.57) * 4;
  EXPECT_NEAR(weight({10, 10, 10, 10, 20}), limit / 8, 1e-6);
  // The list takes no more values than it has room for.
  StartFrameStatistics(2);
  for (float v : {1.f, 2.f, 3.f}) AddFrameStatistic(v);
  EXPECT_EQ(FrameStatisticCount(), 2);
  // Accumulated levels average over the run and then rule every frame.
  const double first = OutlierClipFactor(5, 0.95, 4.57) * 4 / 12;
  weight({10, 10, 10, 10, 20}, true);
  const double second = OutlierClipFactor(4, 0.95, 4.57) * std::sqrt(75.0) / 105;
  weight({100, 100, 100, 120}, true);
  const double level = (first + second) / 2;
  EXPECT_NEAR(weight({10, 10, 10, 10, 20}), std::min(1.0, level * 12 / 8), 1e-6);
}

// Stored reference marks turned by 10 degrees and listed in another order:
// the correspondence search pairs each mark with its own star.
TEST_F(StarFit, TurnedAndPermutedMarksPairCorrectly) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> pos(50, 950);
  const double phi = 10 * std::numbers::pi / 180, c = std::cos(phi), s = std::sin(phi);
  std::vector<TFloatPoint> ref, cur(12);
  for (int j = 0; j < 12; ++j) ref.push_back({float(pos(rng)), float(pos(rng))});
  const int order[12] = {3, 7, 0, 11, 5, 1, 9, 2, 10, 4, 8, 6};
  for (int k = 0; k < 12; ++k) {
    const TFloatPoint& p = ref[size_t(order[k])];
    cur[size_t(k)] = {float(c * (p.X - 500) - s * (p.Y - 500) + 520), float(s * (p.X - 500) + c * (p.Y - 500) + 470)};
  }
  TMarkList& own = WindowMarks[Target];
  own.Reserve(12);
  own.Count = 12;
  std::copy(cur.begin(), cur.end(), own.Points.begin());
  ReferenceMarks.Stored.Reserve(12);
  ReferenceMarks.Stored.Count = 12;
  std::copy(ref.begin(), ref.end(), ReferenceMarks.Stored.Points.begin());
  float weight = 1;
  for (bool correlation : {false, true}) {
    ASSERT_EQ(SterneZuordnen(Target, Frame, 12, 12, {.CrossCorrelation = correlation}, weight),
              TStarMatchResult::Matched);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(ReferenceMarks.PairIndex[size_t(k)], order[k]) << k;
    // The fit maps the current marks back onto the reference: a turn by -10 degrees.
    EXPECT_NEAR(GlobalFit.A, c, 1e-6);
    EXPECT_NEAR(GlobalFit.B, -s, 1e-6);
    EXPECT_NEAR(StarMatchRun.ResidualMean, 0, 1e-3);
    EXPECT_NEAR(StarMatchRun.CandA, c, 1e-5);
    EXPECT_NEAR(StarMatchRun.CandB, -s, 1e-5);  // the candidate maps the reference onto the image
  }
  const std::vector<TMarkPair> pairs = MatchedMarkPairs(Target, Frame);
  ASSERT_EQ(pairs.size(), 12u);
  EXPECT_EQ(pairs[0].Xa, ref[3].X);
  EXPECT_EQ(pairs[0].Xb, cur[0].X);
  EXPECT_EQ(weight, 1.0f);
  AcceptMatchedFrame();
  EXPECT_EQ(StarMatchRun.PrevA, StarMatchRun.CandA);
  EXPECT_NEAR(StarMatchRun.ResidualSum, 0.3, 1e-3);
}

TEST_F(StarFit, OneReferenceMarkPairsEveryMarkWithIt) {
  TMarkList& own = WindowMarks[Target];
  own.Reserve(3);
  own.Count = 3;
  own.Points[0] = {10, 10};
  own.Points[1] = {30, 12};
  own.Points[2] = {18, 40};
  ReferenceMarks.Stored.Reserve(1);
  ReferenceMarks.Stored.Count = 1;
  ReferenceMarks.Stored.Points[0] = {100, 200};
  float weight = 1;
  ASSERT_EQ(SterneZuordnen(Target, Frame, 3, 1, {}, weight), TStarMatchResult::Matched);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(ReferenceMarks.PairIndex[size_t(k)], 0);
  EXPECT_EQ(GlobalFit.A, 1.0);
  EXPECT_EQ(GlobalFit.B, 0.0);
  double x = 0, y = 0;
  GlobalFit.Map(58.0 / 3, 62.0 / 3, x, y);
  EXPECT_NEAR(x, 100, 1e-9);
  EXPECT_NEAR(y, 200, 1e-9);
  EXPECT_TRUE(std::isfinite(weight) && std::isfinite(StarMatchRun.CandA) && std::isfinite(StarMatchRun.CandB));
  // No marks on one side: nothing happens.
  EXPECT_EQ(SterneZuordnen(Target, Frame, 0, 1, {}, weight), TStarMatchResult::NoMarks);
  EXPECT_EQ(SterneZuordnen(Target, Frame, 3, 0, {}, weight), TStarMatchResult::NoMarks);
}

}  // namespace
}  // namespace astrelon::test
