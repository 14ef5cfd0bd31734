// The hi-f two-times enlargement as a whole: sizes, the source minimum, the
// clamped strength, the user's interpolation kind, an abort, the same bits on
// one thread and all cores; the correction passes and the direction-map
// smoothing; the back-projection's soft threshold.
#include "filters/enlargement/upscale_x2_hif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "../filters/filter_images.h"
#include "filters/enlargement/edge_corrections.h"
#include "filters/enlargement/sinc_low_pass.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon::test {
namespace {

class HiFEnlargementTest : public KernelTest {};

float Textured(int p, int x, int y) {
  const uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(p) * 83492791u;
  return 100.0f + 20.0f * float(p) + 40.0f * std::sin(0.6f * float(x) + 0.2f * float(y)) +
         (x > y + 5 ? 150.0f : 0.0f) + float(h % 17);
}

TEST_F(HiFEnlargementTest, EnlargesAboveTheSourceMinimumWithTheClampedStrength) {
  struct TCase {
    THiFVariant Variant;
    int Planes;
    int32_t Strength, Kept;
  };
  for (const TCase& c : {TCase{THiFVariant::Tri, 1, 0, 1}, TCase{THiFVariant::Tri, 3, 11, 10},
                         TCase{THiFVariant::Sinc, 1, 4, 4}, TCase{THiFVariant::Sinc, 3, 11, 10}}) {
    MakeImage(1, 48, 40, c.Planes, Textured);
    MakeResult(1, 2);
    const float low = Store.Image[1].MinValue;
    SetToolMode(IkLanczos3);
    ASSERT_TRUE(UpscaleX2HiF(1, 2, true, c.Variant, c.Strength));
    EXPECT_EQ(Settings.InterpolationKind, IkLanczos3);
    EXPECT_EQ(LastX2Strength, c.Kept);
    const TImageSlot& r = Store.Image[2];
    ASSERT_EQ(r.Width, 96);
    ASSERT_EQ(r.Height, 80);
    ASSERT_EQ(r.PlaneCount, c.Planes);
    size_t blanks = 0;
    for (int p = 1; p <= c.Planes; ++p)
      for (float v : r.Planes[size_t(p)]) {
        if (!IsValidPixel(v)) {
          ++blanks;
          continue;
        }
        ASSERT_GE(v, low);
      }
    // Only the half-pixel shift of the tri base leaves a blank frame.
    EXPECT_LE(blanks, size_t(c.Planes) * 3 * (96 + 80));
  }
  SetToolMode(IkBicubic);
}

TEST_F(HiFEnlargementTest, OneThreadAndAllCoresGiveTheSameBitsAndAnAbortStops) {
  for (THiFVariant v : {THiFVariant::Tri, THiFVariant::Sinc}) {
    MakeImage(1, 150, 120, 3, Textured);
    MakeResult(1, 2);
    Options.Multicore = 0;
    ASSERT_TRUE(UpscaleX2HiF(1, 2, true, v, 5));
    MakeResult(1, 3);
    Options.Multicore = 1;
    ASSERT_TRUE(UpscaleX2HiF(1, 3, true, v, 5));
    for (int p = 1; p <= 3; ++p) EXPECT_EQ(PlaneValues(2, p), PlaneValues(3, p));

    // A poll that says no stops the run, as does the abort flag it leaves alone.
    MakeResult(1, 2);
    EXPECT_FALSE(UpscaleX2HiF(1, 2, true, v, 5, [](int percent) { return percent < 50; }));
    MakeResult(1, 2);
    AbortRequested = 1;
    int calls = 0;
    EXPECT_FALSE(UpscaleX2HiF(1, 2, true, v, 5, [&](int) { return ++calls > 0; }));
    EXPECT_EQ(AbortRequested, 1);
    AbortRequested = 0;
  }
}

TEST_F(HiFEnlargementTest, AChannelSelectionDoesNotPartThePlanes) {
  MakeImage(1, 40, 32, 3, Textured);
  MakeResult(1, 2);
  ASSERT_TRUE(UpscaleX2HiF(1, 2, true, THiFVariant::Tri, 4));
  MakeResult(1, 3);
  Store.Display[3].ChannelSelection = 2;
  ASSERT_TRUE(UpscaleX2HiF(1, 3, true, THiFVariant::Tri, 4));
  EXPECT_EQ(Store.Display[3].ChannelSelection, 2);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(PlaneValues(2, p), PlaneValues(3, p)) << p;
}

TEST_F(HiFEnlargementTest, TheSincModelKeepsLevelsAndShortensItsWindowAwayFromTheEdge) {
  // A step at x = 20 of a 40-pixel line, a blank at 30.
  std::vector<float> line(40);
  for (int x = 0; x < 40; ++x) line[size_t(x)] = x < 20 ? 10.0f : 90.0f;
  line[30] = BlankPixel;
  std::vector<float> out(40, -5.0f);
  SincLowPassLine(line.data(), 40, out.data());
  // Six or more away from the step inside the dSinc reach: the short bicubic
  // window sees only the flat side.
  for (int x : {5, 10, 13}) EXPECT_FLOAT_EQ(out[size_t(x)], 10.0f) << x;
  for (int x : {25, 33}) EXPECT_FLOAT_EQ(out[size_t(x)], 90.0f) << x;
  // Next to the step the long window smooths it.
  EXPECT_GT(out[19], 10.5f);
  EXPECT_LT(out[20], 89.5f);
  // A blank is filled from its valid neighbours.
  EXPECT_FLOAT_EQ(out[30], 90.0f);

  // A plane: the levels of a uniform plane stay, blanks included.
  std::vector<float> plane(size_t(30 * 20), 7.0f);
  plane[size_t(5 * 30 + 5)] = BlankPixel;
  SincLowPass(plane, 30, 20);
  for (float v : plane) ASSERT_NEAR(v, 7.0f, 1e-5f);
}

// A source and an enlargement whose 2 x 2 blocks have the source's mean
// within `offset` (the upper-left member moved by it).
void BlockImages(TImageSlot& source, TImageSlot& result, float offset) {
  source = {};
  source.Width = 20;
  source.Height = 16;
  source.AllocatePlanes(1);
  result = {};
  result.Width = 40;
  result.Height = 32;
  result.AllocatePlanes(1);
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(0, 200);
  for (float& v : source.Planes[1]) v = u(rng);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 40; ++x) {
      const float s = source.At(1, x / 2, y / 2);
      const float d = (x % 2 == 0 && y % 2 == 0) ? offset : 0.0f;
      // +-3 inside the block, summing to 0, so that neighbours differ.
      result.At(1, x, y) = s + d + ((x + y) % 2 == 0 ? 3.0f : -3.0f);
    }
}

TEST_F(HiFEnlargementTest, CorrectionsLeaveBlocksOnTheirMeanAndPullOthersTowardIt) {
  std::mt19937 rng(9);
  std::vector<uint8_t> map(size_t(40 * 32));
  for (uint8_t& b : map) b = uint8_t(rng() % 256);
  for (THiFVariant v : {THiFVariant::Tri, THiFVariant::Sinc}) {
    struct TCase {
      float Offset;  // the block mean is the source's + Offset / 4
      bool Changes;
    };
    for (const TCase& c : {TCase{3.9f, false}, TCase{-3.9f, false}, TCase{40.0f, true}}) {
      TImageSlot source, result;
      BlockImages(source, result, c.Offset);
      const TPlane before = result.Planes[1];
      ASSERT_TRUE(CorrectEdges(source, result, map, v, 200.0, {}));
      if (!c.Changes) {
        EXPECT_EQ(result.Planes[1], before);
        continue;
      }
      // Raised blocks come down, never below the neighbours' mean less the offsets.
      double moved = 0;
      for (size_t i = 0; i < before.size(); ++i) moved += before[i] - result.Planes[1][i];
      EXPECT_GT(moved, 0.0);
    }
  }
}

TEST_F(HiFEnlargementTest, SmoothingTakesTheHeaviestClassOfTheNeighbourhood) {
  // A 4 x 3 map: weights in bits 3..7, classes in bits 0..2.
  std::vector<uint8_t> map = {
      DirectionByte(2, 5), DirectionByte(2, 5), DirectionByte(6, 1), 0,
      DirectionByte(6, 4), DirectionByte(6, 4), DirectionByte(1, 0), 0,
      DirectionByte(3, 9), DirectionByte(1, 2), 0,                  0,
  };
  const std::vector<uint8_t> old = map;
  SmoothDirectionMap(map, 4, 3);
  // Cell (1, 1): class 2 sums 10, 6 sums 9, 3 sums 9: class 2, its weight kept.
  EXPECT_EQ(map[5], DirectionByte(2, 4));
  // Cell (2, 1): classes 2 and 6 both sum 5, 1 sums 2: the lower class wins.
  EXPECT_EQ(map[6], DirectionByte(2, 0));
  // The frame stays.
  for (size_t i : {0, 1, 2, 3, 4, 7, 8, 9, 10, 11}) EXPECT_EQ(map[i], old[i]) << i;

  // All-zero sums leave the cell, and a tie takes the lower class.
  std::vector<uint8_t> tie(9, DirectionByte(5, 0));
  tie[0] = DirectionByte(7, 3);
  tie[8] = DirectionByte(4, 3);
  SmoothDirectionMap(tie, 3, 3);
  EXPECT_EQ(tie[4], DirectionByte(4, 0));
  std::vector<uint8_t> empty(9, DirectionByte(5, 0));
  SmoothDirectionMap(empty, 3, 3);
  EXPECT_EQ(empty[4], DirectionByte(5, 0));
}

TEST_F(HiFEnlargementTest, TheTriSharpeningSumsTo0852AndTheBackProjectionSoftThresholds) {
  const THiFSharpening tri = HiFSharpening(THiFVariant::Tri);
  EXPECT_NEAR(1 + 4 * tri.Direct + 4 * tri.Diagonal + 4 * tri.Straight2 + 8 * tri.Knight, 0.852, 1e-12);

  MakeGrey(1, 5, 1, [](int x, int) { return 100.0f + float(x); });
  const std::vector<float> errors = {3.0f, -3.0f, 0.5f, -2.0f, BlankPixel};
  MakeGrey(2, 5, 1, [&](int x, int) { return errors[size_t(x)]; });
  SubtractSoftThresholded(1, 2, 1.0f);
  EXPECT_EQ(PlaneValues(1, 1), (std::vector<float>{98.0f, 103.0f, 102.0f, 104.0f, 104.0f}));
}

}  // namespace
}  // namespace astrelon::test
