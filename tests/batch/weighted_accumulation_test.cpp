// The weighted accumulations of the batch: the drop sampler, the double-size
// target, the colour-mosaic target and their normalisation.
#include <cmath>
#include <cstring>

#include "batch/accumulate/bayer_special.h"
#include "batch/accumulate/double_size.h"
#include "batch/accumulate/drizzle_normalise.h"
#include "batch/accumulate/footprint_sample.h"
#include "batch/accumulate/frame_alignment.h"
#include "batch/accumulate/weighted_target.h"
#include "core/settings.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "platform/processor_features.h"
#include "registration/combination/batch_combination_inputs.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr float B = BlankPixel;

TEST(FootprintSampleTest, DropWeights) {
  const std::vector<float> plane = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  struct Case {
    double y, x;
    double value, weight;
  } cases[] = {
      {1, 1, 5, 1},                                   // a whole position: the pixel itself
      {0.5, 0.5, (1 + 2 + 4 + 5) / 36.0, 1 / 9.0},    // midway: each pixel 1/36
      {0, 0.3, 0.5, 0.5},                             // only the nearer column, 1 - 0.3 / 0.6
      {0, 0.7, 2 * 0.5, 0.5},                         // only the farther column, (0.7 - 0.4) / 0.6
      {2, 2.5, 9 / 6.0, 1 / 6.0},                     // beyond the last column: only the inside one
      {0, 0.4, 1 * (1 - 0.4 / 0.6), 1 - 0.4 / 0.6},  // 0.4 exactly: the next column has weight 0
  };
  for (const Case& c : cases) {
    double w = -1;
    EXPECT_NEAR(FootprintSample(plane.data(), 3, 3, c.y, c.x, w), c.value, 1e-12) << c.y << " " << c.x;
    EXPECT_NEAR(w, c.weight, 1e-12) << c.y << " " << c.x;
  }
  const std::vector<float> blank(9, B);
  double w = -1;
  EXPECT_EQ(FootprintSample(blank.data(), 3, 3, 0.5, 0.5, w), double(B));
  EXPECT_EQ(w, 0.0);
}

class AccumulationTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    savedOptions_ = Options;
    savedMosaic_ = MosaicSettings;
  }
  void TearDown() override {
    for (TWeightedTarget* t : {&BayerTarget, &SwarpTarget}) {
      t->ReleaseWeights();
      *t = TWeightedTarget();
    }
    BatchShiftGrid = TShiftGrid();
    BatchFittedTransform = TFittedTransform();
    Options = savedOptions_;
    MosaicSettings = savedMosaic_;
    StoreMosaicPattern();
    StoreTest::TearDown();
  }
  static TAlignPoints Shift(float dx, float dy) {
    TAlignPoints p;
    p.A1x = p.A1y = 10;
    p.B1x = 10 + dx;
    p.B1y = 10 + dy;
    p.count = 1;
    return p;
  }

private:
  TProgramOptions savedOptions_;
  TMosaicSettings savedMosaic_;
};

TEST_F(AccumulationTest, InterpolierterPixelwertReadsASlot) {
  MakeImage(3, 2, 2, {{1, 2, 3, 4}});
  EXPECT_DOUBLE_EQ(InterpolierterPixelwert(3, 1, 1, 0), 3.0);
  EXPECT_DOUBLE_EQ(SampleWeight, 1.0);
  EXPECT_EQ(InterpolierterPixelwert(3, 2, 0, 0), double(B));  // no such plane
  EXPECT_EQ(SampleWeight, 0.0);
  EXPECT_EQ(InterpolierterPixelwert(4, 1, 0, 0), double(B));  // no image
}

TEST_F(AccumulationTest, DoubleSizeTarget) {
  // 4 x 3 frame, one bright pixel at (1, 1), a blank corner at (3, 2).
  std::vector<float> first(12, 0.0f), second(12, 0.0f);
  first[1 * 4 + 1] = 100;
  first[2 * 4 + 3] = B;
  second[1 * 4 + 2] = 100;  // the sky moved by one pixel to the right
  MakeImage(1, 4, 3, {first});
  MakeImage(2, 4, 3, {second});
  ASSERT_TRUE(PrepareDoubleSizeTarget(1));
  const int slot = SwarpTarget.Slot;
  ASSERT_TRUE(SlotInUse(slot));
  const TImageSlot& t = Store.Image[size_t(slot)];
  ASSERT_EQ(t.Width, 7);
  ASSERT_EQ(t.Height, 5);
  const std::vector<float>& w = SwarpTarget.Weights[0];
  auto at = [&](int i, int j) { return size_t(j) * 7 + size_t(i); };
  EXPECT_FLOAT_EQ(t.Planes[1][at(2, 2)], 100);  // even (i, j): the frame pixel with weight 1
  EXPECT_FLOAT_EQ(w[at(2, 2)], 1);
  EXPECT_FLOAT_EQ(w[at(3, 2)], 1 / 3.0f);  // a midpoint along a row
  EXPECT_FLOAT_EQ(t.Planes[1][at(3, 2)], 100 / 6.0f);
  EXPECT_FLOAT_EQ(w[at(3, 3)], 1 / 9.0f);  // between four pixels
  EXPECT_FLOAT_EQ(w[at(6, 4)], 0);         // only the blank pixel: unreached
  EXPECT_FLOAT_EQ(t.Planes[1][at(6, 4)], 0);

  // The second frame with its shift: the bright pixel lands on the same target pixel.
  AddToDoubleSizeTarget(2, FrameAlignment(Shift(1, 0), 1));
  EXPECT_FLOAT_EQ(t.Planes[1][at(2, 2)], 200);
  EXPECT_FLOAT_EQ(w[at(2, 2)], 2);
  EXPECT_FLOAT_EQ(w[at(6, 4)], 0);  // beyond the second frame: still unreached
  // Without the shift it would land at twice its position.
  AddToDoubleSizeTarget(2, FrameAlignment(Shift(0, 0), 1));
  EXPECT_FLOAT_EQ(t.Planes[1][at(4, 2)], 100);

  DrizzleNormieren(SwarpTarget);  // one weight plane for a grey target
  EXPECT_TRUE(SwarpTarget.Weights[0].empty());
  EXPECT_FLOAT_EQ(t.Planes[1][at(6, 4)], 0);  // a pixel without weight keeps its value
  EXPECT_NEAR(t.Planes[1][at(2, 2)], 200.0f / 3, 1e-3);
  for (const float v : t.Planes[1]) EXPECT_TRUE(std::isfinite(v));
}

TEST_F(AccumulationTest, NormalisationFillsAShortfallFromSimilarNeighbours) {
  // A flat plane of 10 (sums 10 x weights), one pixel with a small weight,
  // one with none, one whose guide differs.
  MakeImage(5, 5, 5, {std::vector<float>(25, 10.0f)});
  TWeightedTarget t;
  t.Slot = 5;
  t.Weights[0].assign(25, 1.0f);
  TImageSlot& im = Store.Image[5];
  t.Weights[0][12] = 0.2f;
  im.Planes[1][12] = 2.0f;
  t.Weights[0][7] = 0.0f;  // no weight, a guide that is blank
  im.Planes[1][7] = 0.0f;
  t.Weights[0][0] = 0.0f;  // a border pixel without weight
  im.Planes[1][0] = 3.0f;
  DrizzleNormieren(t);
  EXPECT_NEAR(im.Planes[1][12], 10.0f, 1e-4);  // (S + D B / A) / expected
  EXPECT_FLOAT_EQ(im.Planes[1][7], 0.0f);      // invalid guide and no weight: kept
  EXPECT_FLOAT_EQ(im.Planes[1][0], 3.0f);
  EXPECT_FLOAT_EQ(im.Planes[1][24], 10.0f);
  for (const float v : im.Planes[1]) EXPECT_TRUE(std::isfinite(v));
  EXPECT_TRUE(t.Weights[0].empty());
}

// A colour-mosaic frame (RGGB) of a field whose colours vary smoothly, the
// sky moved by (dx, dy).
std::vector<float> MosaicFrame(int w, int h, double dx, double dy, bool smooth) {
  std::vector<float> v(size_t(w) * h);
  const float colour[3] = {100, 200, 50};
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      const int c = MosaicCellColor(MosaicPattern, i, j);
      const double x = i + dx, y = j + dy;
      v[size_t(j) * w + i] = float(colour[c] + (smooth ? 20 * std::sin(x * 0.05) + 10 * std::cos(y * 0.07) : 0));
    }
  return v;
}

TEST_F(AccumulationTest, BayerSpecialGivesTheFieldsColoursTimesTheGreenWeight) {
  MosaicSettings = TMosaicSettings();
  StoreMosaicPattern();
  struct Case {
    const char* name;
    int count;
  } cases[] = {{"shifts", 1}, {"rotation", 2}, {"multipoint", 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    constexpr int w = 40, h = 30;
    MakeImage(1, w, h, {MosaicFrame(w, h, 0, 0, false)});
    ASSERT_TRUE(PrepareBayerSpecialTarget(1));
    const int slot = BayerTarget.Slot;
    BayerSpezialAddieren(1, FrameAlignment(Shift(0, 0), 1), false);
    TAlignPoints p = Shift(0.5f, 0.25f);
    if (c.count == 2) {
      // A second pair turned by 1 degree about the first.
      p.A2x = 30;
      p.A2y = 10;
      p.B2x = float(p.B1x + 20 * std::cos(M_PI / 180));
      p.B2y = float(p.B1y + 20 * std::sin(M_PI / 180));
    }
    if (c.count == 3) {
      BatchFittedTransform = TFittedTransform{0.5, 0.25, 1, 0, 0, 0};
      BatchShiftGrid.NodesPerRow = w / 4 + 2;
      BatchShiftGrid.Nodes.assign(size_t(BatchShiftGrid.NodesPerRow) * (h / 4 + 2) * 2, 0.3f);
    }
    for (int k = 0; k < 3; ++k) BayerSpezialAddieren(1, FrameAlignment(p, c.count), false);
    float m = 1;
    for (const float v : BayerTarget.Weights[1]) m = std::max(m, v);
    DrizzleNormieren(BayerTarget);
    const TImageSlot& t = Store.Image[size_t(slot)];
    ASSERT_EQ(t.PlaneCount, 3);
    const float colour[3] = {100, 200, 50};
    for (int plane = 1; plane <= 3; ++plane)
      for (int j = 5; j < h - 5; ++j)
        for (int i = 5; i < w - 5; ++i)
          ASSERT_NEAR(t.Planes[size_t(plane)][size_t(j) * w + i], colour[plane - 1] * m, 1e-3 * colour[plane - 1] * m)
              << plane << " " << i << " " << j;
    FreeSlot(slot);
    FreeSlot(1);
  }
}

// One thread, all cores, and all cores with the vector loops.
TEST_F(AccumulationTest, ThreadsAndVectorLoopsAreBitIdentical) {
  MosaicSettings = TMosaicSettings();
  StoreMosaicPattern();
  constexpr int w = 300, h = 260;
  std::array<std::vector<float>, 3> bayer, swarp;
  std::array<std::vector<float>, 3> bayerWeights, swarpWeights;
  const bool savedSse2 = Sse2Enabled, savedAvx2 = Avx2Enabled;
  for (int multicore : {0, 1, 2}) {
    Options.Multicore = multicore > 0;
    Sse2Enabled = Avx2Enabled = multicore == 2;
    MakeImage(1, w, h, {MosaicFrame(w, h, 0, 0, true)});
    MakeImage(2, w, h, {MosaicFrame(w, h, 1.5, -0.75, true)});
    ASSERT_TRUE(PrepareBayerSpecialTarget(1));
    TAlignPoints p = Shift(1.5f, -0.75f);
    p.A2x = 200;
    p.A2y = 10;
    p.B2x = float(p.B1x + 190 * std::cos(0.02));
    p.B2y = float(p.B1y + 190 * std::sin(0.02));
    BayerSpezialAddieren(1, FrameAlignment(Shift(0, 0), 1), false);
    BayerSpezialAddieren(2, FrameAlignment(p, 2), false);
    BayerSpezialAddieren(2, FrameAlignment(p, 2), false, 0.7f);  // a frame counting less
    bayerWeights[size_t(multicore)] = BayerTarget.Weights[0];
    DrizzleNormieren(BayerTarget);
    bayer[size_t(multicore)] = PlaneValues(BayerTarget.Slot, 1);
    FreeSlot(BayerTarget.Slot);

    ASSERT_TRUE(PrepareDoubleSizeTarget(1));
    AddToDoubleSizeTarget(2, FrameAlignment(p, 2));
    AddToDoubleSizeTarget(2, FrameAlignment(p, 2), 0.7f);
    swarpWeights[size_t(multicore)] = SwarpTarget.Weights[0];
    DrizzleNormieren(SwarpTarget);
    swarp[size_t(multicore)] = PlaneValues(SwarpTarget.Slot, 1);
    FreeSlot(SwarpTarget.Slot);
  }
  Sse2Enabled = savedSse2;
  Avx2Enabled = savedAvx2;
  auto same = [](const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
  };
  for (size_t k : {1, 2}) {
    EXPECT_TRUE(same(bayer[0], bayer[k])) << k;
    EXPECT_TRUE(same(bayerWeights[0], bayerWeights[k])) << k;
    EXPECT_TRUE(same(swarp[0], swarp[k])) << k;
    EXPECT_TRUE(same(swarpWeights[0], swarpWeights[k])) << k;
  }
}

// A frame weight scales a frame's samples and weights alike: a bright pixel of
// 100 at full weight and 40 at a quarter sums to 110 with weight 1.25, a
// weighted mean of 88 where equal weights give 70. Forward mapping with and
// without the vector loops, reverse mapping, and the double-size target.
TEST_F(AccumulationTest, AFrameWeightScalesItsShareOfTheSums) {
  MosaicSettings = TMosaicSettings();
  StoreMosaicPattern();
  constexpr int w = 12, h = 10, bx = 4, by = 6;
  std::vector<float> first(w * h, 0.0f), second(w * h, 0.0f);
  first[by * w + bx] = 100;
  second[by * w + bx] = 40;
  const bool savedSse2 = Sse2Enabled, savedAvx2 = Avx2Enabled;
  struct Case {
    const char* name;
    int count;
    bool vector;
  } cases[] = {{"forward", 1, false}, {"forward, vector loops", 1, true}, {"reverse", 3, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sse2Enabled = Avx2Enabled = c.vector;
    MakeImage(1, w, h, {first});
    MakeImage(2, w, h, {second});
    ASSERT_TRUE(PrepareBayerSpecialTarget(1));
    BatchFittedTransform = TFittedTransform{0, 0, 1, 0, 0, 0};
    BatchShiftGrid.NodesPerRow = w / 4 + 2;
    BatchShiftGrid.Nodes.assign(size_t(BatchShiftGrid.NodesPerRow) * (h / 4 + 2) * 2, 0.0f);
    BayerSpezialAddieren(1, FrameAlignment(Shift(0, 0), c.count), false);
    BayerSpezialAddieren(2, FrameAlignment(Shift(0, 0), c.count), false, 0.25f);
    const size_t at = size_t(by) * w + bx;
    const int plane = MosaicCellColor(MosaicPattern, bx, by) + 1;
    const TImageSlot& t = Store.Image[size_t(BayerTarget.Slot)];
    EXPECT_EQ(t.Planes[size_t(plane)][at], 110.0f);
    EXPECT_EQ(BayerTarget.Weights[size_t(plane - 1)][at], 1.25f);
    // A neighbour of another colour: its own plane, zero at a quarter.
    const int next = MosaicCellColor(MosaicPattern, bx + 1, by) + 1;
    EXPECT_EQ(BayerTarget.Weights[size_t(next - 1)][at + 1], 1.25f);
    EXPECT_EQ(BayerTarget.Weights[size_t(plane - 1)][at + 1], 0.0f);
    FreeSlot(BayerTarget.Slot);
  }
  Sse2Enabled = savedSse2;
  Avx2Enabled = savedAvx2;

  // Double size: the frame pixel lands on target pixel (2 bx, 2 by), a
  // midpoint beside it takes a third of its weight.
  ASSERT_TRUE(PrepareDoubleSizeTarget(1));
  AddToDoubleSizeTarget(2, FrameAlignment(Shift(0, 0), 1), 0.25f);
  const int tw = 2 * w - 1;
  const size_t at = size_t(2 * by) * tw + 2 * bx;
  const TImageSlot& t = Store.Image[size_t(SwarpTarget.Slot)];
  EXPECT_FLOAT_EQ(t.Planes[1][at], 110.0f);
  EXPECT_FLOAT_EQ(SwarpTarget.Weights[0][at], 1.25f);
  EXPECT_FLOAT_EQ(t.Planes[1][at + 1], 100 / 6.0f + 40 / 6.0f * 0.25f);
  EXPECT_FLOAT_EQ(SwarpTarget.Weights[0][at + 1], 1.25f / 3);
  DrizzleNormieren(SwarpTarget);
  EXPECT_NEAR(t.Planes[1][at], 88.0f, 1e-3);
}

TEST_F(AccumulationTest, PreparationsRefuseWhatTheyCannotUse) {
  MakeImage(1, 4, 4, {std::vector<float>(16, 1), std::vector<float>(16, 1), std::vector<float>(16, 1)});
  EXPECT_FALSE(PrepareBayerSpecialTarget(1));  // a colour image is no mosaic
  EXPECT_FALSE(PrepareBayerSpecialTarget(9));  // no image
  EXPECT_FALSE(PrepareDoubleSizeTarget(9));
  EXPECT_FALSE(BayerTarget.Exists());
  EXPECT_FALSE(SwarpTarget.Exists());
  // A colour frame makes a colour double-size target with three weight planes.
  ASSERT_TRUE(PrepareDoubleSizeTarget(1));
  EXPECT_EQ(Store.Image[size_t(SwarpTarget.Slot)].PlaneCount, 3);
  EXPECT_EQ(SwarpTarget.Weights[2].size(), size_t(7 * 7));
  // The second preparation replaces the first.
  const int first = SwarpTarget.Slot;
  ASSERT_TRUE(PrepareDoubleSizeTarget(1));
  EXPECT_FALSE(SlotInUse(first) && first != SwarpTarget.Slot);
}

}  // namespace
}  // namespace astrelon::test
