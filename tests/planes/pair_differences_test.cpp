#include "store/planes/pair_differences.h"

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "simd_paths.h"
#include "store/image_slot.h"
#include "store/planes/plane_routines.h"

namespace astrelon {
namespace {

using test::PathGuard;
using test::TPath;

// The iteration written plainly: one sequential sum per round.
TClipResult PlainIteration(const std::vector<float>& v, int64_t pairs, int gap, TClipRule rule) {
  std::vector<float> q;
  for (int64_t k = 0; k < pairs; ++k) {
    const float a = v[size_t(k * gap)], b = v[size_t(k * gap + gap)];
    if (IsValidPixel(a) && IsValidPixel(b)) q.push_back((a - b) * (a - b));
  }
  double sum = 0;
  for (float x : q) sum += x;
  double current = q.empty() ? 0.0 : sum / double(q.size()), previous = current;
  for (int round = 0; round < 10; ++round) {
    previous = current;
    const double limit = 4.5 * previous;
    sum = 0;
    int64_t n = 0;
    for (float x : q)
      if (double(x) < limit) {
        sum += x;
        ++n;
      }
    current = n > 0 ? sum / double(n) : (rule.KeepPreviousWhenEmpty ? previous : 0.0);
    if (rule.FloorEachRound && current < 0.0001) current = 0.0001;
    if (previous / std::max(current, 0.0001) < 1.1) break;
  }
  return {previous, current};
}

// Noise of sigma `quiet`, with sigma `loud` on the stretches the estimate samples
// its split point from (and optional blanks and outliers).
std::vector<float> NoisyRun(size_t n, float quiet, float loud, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> g(0.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = 100.0f + quiet * g(rng);
  const int64_t pairs = int64_t(n) - 1;
  for (int64_t c = 0; c < 32; ++c) {
    const int64_t start = c * (pairs - 1024) / 31;
    for (int64_t k = start; k <= start + 1024; ++k) v[size_t(k)] = 100.0f + loud * g(rng);
  }
  for (size_t i = 3; i < n; i += 101) v[i] = BlankPixel;
  for (size_t i = 50; i < n; i += 977) v[i] = 5000.0f;
  return v;
}

void ExpectAllPathsMatchThePlainIteration(const std::vector<float>& v, int gap, TClipRule rule, const char* what) {
  const int64_t pairs = gap == 1 ? int64_t(v.size()) - 1 : int64_t(v.size()) / 2 - 1;
  const TClipResult plain = PlainIteration(v, pairs, gap, rule);
  const TClipResult scalar = ClippedMeanSquare(v, pairs, gap, rule, false);
  EXPECT_NEAR(scalar.Current, plain.Current, 1e-12 * plain.Current) << what;
  EXPECT_NEAR(scalar.Previous, plain.Previous, 1e-12 * plain.Previous) << what;
  for (TPath path : test::VectorPaths()) {
    PathGuard guard(path);
    const TClipResult r = ClippedMeanSquare(v, pairs, gap, rule, true);
    EXPECT_EQ(std::bit_cast<uint64_t>(r.Current), std::bit_cast<uint64_t>(scalar.Current))
        << what << " " << test::PathName(path);
    EXPECT_EQ(std::bit_cast<uint64_t>(r.Previous), std::bit_cast<uint64_t>(scalar.Previous))
        << what << " " << test::PathName(path);
  }
}

constexpr TClipRule ClippedRule{true, true};
constexpr TClipRule PlaneRule{false, false};

TEST(PairDifferences, LargeRunsMatchThePlainIteration) {
  const std::vector<float> even = NoisyRun(400'001, 3.0f, 3.0f, 1);
  ExpectAllPathsMatchThePlainIteration(even, 1, ClippedRule, "even noise, neighbours");
  ExpectAllPathsMatchThePlainIteration(even, 2, PlaneRule, "even noise, two apart");
}

TEST(PairDifferences, MisleadingSampleStillGivesTheSameFigures) {
  // Loud samples: the rounds fall below the predicted split point and split anew.
  const std::vector<float> loud = NoisyRun(300'000, 1.0f, 100.0f, 2);
  ExpectAllPathsMatchThePlainIteration(loud, 1, ClippedRule, "loud sample");
  ExpectAllPathsMatchThePlainIteration(loud, 2, PlaneRule, "loud sample, two apart");
  // Quiet samples: nearly every pair lies above the split point and the buffer overflows.
  const std::vector<float> quiet = NoisyRun(300'000, 100.0f, 0.01f, 3);
  ExpectAllPathsMatchThePlainIteration(quiet, 1, ClippedRule, "quiet sample");
}

TEST(PairDifferences, SmallAndOddRuns) {
  for (size_t n : {7, 16, 17, 18, 33, 35, 1000, 4097}) {
    const std::vector<float> v = NoisyRun(std::max<size_t>(n, 1100), 2.0f, 2.0f, unsigned(n));
    const std::vector<float> run(v.begin(), v.begin() + std::ptrdiff_t(n));
    ExpectAllPathsMatchThePlainIteration(run, 1, ClippedRule, "small");
    if (n >= 12) ExpectAllPathsMatchThePlainIteration(run, 2, PlaneRule, "small, two apart");
  }
}

TEST(PairDifferences, SquareJustBelowTheLimitCounts) {
  // Ten pairs (each difference twice) whose mean square m makes 4.5 m = 16 + 9e-8,
  // a limit that rounds to the float 16: the two squares of 16 lie below it and
  // stay in, so the first round keeps every pair and the estimate stops at once.
  const float x[5] = {0x1.045b8ep-1f, 0x1.98e11cp-1f, 0x1.5200cap-1f, 0x1.55c9d4p-1f, 4.0f};
  std::vector<float> run;
  double sum = 0;
  for (float d : x) {
    run.insert(run.end(), {0.0f, d});
    sum += 2.0 * double(d * d);
  }
  run.push_back(0.0f);
  const double mean = sum / 10.0;
  ASSERT_GT(4.5 * mean, 16.0);
  ASSERT_EQ(float(4.5 * mean), 16.0f);
  const float expected = float(std::sqrt(mean * mean / (0.0001 + mean)) / 1.1);  // about 1.714
  for (TPath path : test::AvailablePaths()) {
    PathGuard guard(path);
    const TClipResult r = ClippedMeanSquare(run, 10, 1, ClippedRule, path != TPath::Scalar);
    EXPECT_EQ(r.Previous, mean) << test::PathName(path);
    EXPECT_EQ(r.Current, mean) << test::PathName(path);
    EXPECT_FLOAT_EQ(EstimateNoiseClipped(run, path != TPath::Scalar), expected) << test::PathName(path);
  }
}

TEST(PairDifferences, RejectsPairsBeyondTheRun) {
  const std::vector<float> v(10, 1.0f);
  EXPECT_THROW(ClippedMeanSquare(v, 10, 1, ClippedRule, true), std::invalid_argument);
  EXPECT_THROW(ClippedMeanSquare(v, 5, 2, ClippedRule, true), std::invalid_argument);
  EXPECT_THROW(ClippedMeanSquare(v, 3, 3, ClippedRule, true), std::invalid_argument);
}

}  // namespace
}  // namespace astrelon
