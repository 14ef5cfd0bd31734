// Combining two slots' rectangles into a third, and the interpolation-kind switch.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "core/settings.h"
#include "platform/processor_features.h"
#include "shell/slots/region_combination.h"
#include "store/planes/interpolation_kernels.h"
#include "test_support.h"

namespace astrelon {
namespace {

class RegionCombinationTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    saved_ = Options;
  }
  void TearDown() override {
    Options = saved_;
    test::StoreTest::TearDown();
  }
  // A colour image of w x h whose plane p holds base + 10 p + index.
  static void Colour(int slot, int w, int h, float base) {
    std::vector<std::vector<float>> planes(3, std::vector<float>(size_t(w * h)));
    for (int p = 0; p < 3; ++p)
      for (int i = 0; i < w * h; ++i) planes[size_t(p)][size_t(i)] = base + 10.0f * float(p + 1) + float(i);
    test::MakeImage(slot, w, h, planes);
  }
  static float At(int slot, int p, int i) { return Store.Image[size_t(slot)].Planes[size_t(p)][size_t(i)]; }
  TProgramOptions saved_;
};

TEST_F(RegionCombinationTest, OnePixelRectangleWritesOnePixelPerSelectedChannel) {
  Colour(1, 4, 3, 100);
  Colour(2, 4, 3, 1000);
  Colour(3, 4, 3, 0);
  for (int sel : {0, 2}) {  // all channels, then green alone (selection of slot B)
    Colour(3, 4, 3, 0);
    Store.Display[2].ChannelSelection = sel;
    ASSERT_TRUE(CombineRegionPixels(1, 2, 3, {2, 1, 2, 1}, CombineAdd));
    for (int p = 1; p <= 3; ++p)
      for (int i = 0; i < 12; ++i) {
        const bool written = i == 6 && (sel == 0 || p == sel);
        EXPECT_EQ(At(3, p, i), written ? At(1, p, i) + At(2, p, i) : 10.0f * float(p) + float(i)) << sel << p << i;
      }
  }
}

TEST_F(RegionCombinationTest, BlankInACopiedByCopyAndBlankForAddAndSubtract) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  test::MakeImage(1, 4, 1, {{BlankPixel, -2e9f, nan, 5.0f}});
  test::MakeImage(2, 4, 1, {{1.0f, 1.0f, 1.0f, BlankPixel}});  // B is not tested for blanks
  test::MakeImage(3, 4, 1, {{0, 0, 0, 0}});
  const TRectI all{0, 0, 3, 0};
  ASSERT_TRUE(CombineRegionPixels(1, 2, 3, all, CombineCopy));
  EXPECT_EQ(At(3, 1, 0), BlankPixel);
  EXPECT_EQ(At(3, 1, 1), -2e9f);
  EXPECT_TRUE(std::isnan(At(3, 1, 2)));
  for (int op : {CombineAdd, CombineSubtract}) {
    ASSERT_TRUE(CombineRegionPixels(1, 2, 3, all, op));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(At(3, 1, i), BlankPixel) << op << i;
    EXPECT_EQ(At(3, 1, 3), op == CombineAdd ? 5.0f + BlankPixel : 5.0f - BlankPixel);
  }
}

TEST_F(RegionCombinationTest, RefusedCallsWriteNothing) {
  Colour(1, 4, 3, 100);
  Colour(2, 4, 3, 1000);
  Colour(3, 4, 3, 0);
  test::MakeImage(4, 5, 3, {std::vector<float>(15, 1.0f)});  // another width
  test::MakeImage(5, 4, 3, {std::vector<float>(12, 1.0f)});  // one plane
  struct TCase {
    int a, b, dest;
    TRectI rect;
    int op;
  };
  const TCase cases[] = {
      {1, 2, 3, {0, 0, 3, 2}, 3},   {1, 2, 3, {0, 0, 4, 2}, 0},   {1, 2, 3, {0, 0, 3, 3}, 1},
      {1, 2, 3, {-1, 0, 3, 2}, 1},  {1, 2, 3, {2, 0, 1, 2}, 1},   {1, 4, 3, {0, 0, 3, 2}, 1},
      {5, 2, 3, {0, 0, 3, 2}, 1},   {1, 2, 5, {0, 0, 3, 2}, 1},   {1, 2, 9, {0, 0, 3, 2}, 1},
  };
  for (const TCase& c : cases) EXPECT_FALSE(CombineRegionPixels(c.a, c.b, c.dest, c.rect, c.op));
  for (int p = 1; p <= 3; ++p)
    for (int i = 0; i < 12; ++i) EXPECT_EQ(At(3, p, i), 10.0f * float(p) + float(i));
}

TEST_F(RegionCombinationTest, VectorRunsAndThreadsGiveTheScalarValues) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
  std::vector<float> a(1000), b(1000);
  for (size_t i = 0; i < a.size(); ++i) {
    a[i] = i % 7 == 0 ? BlankPixel : (i % 11 == 0 ? std::numeric_limits<float>::quiet_NaN() : value(rng));
    b[i] = i % 5 == 0 ? BlankPixel : value(rng);
  }
  for (int op : {CombineCopy, CombineAdd, CombineSubtract})
    for (size_t n : {0u, 1u, 7u, 8u, 9u, 1000u}) {
      std::vector<float> scalar(n, 0.0f), vector(n, 0.0f);
      CombineRun(std::span(a).first(n), std::span(b).first(n), scalar, op, false);
      CombineRun(std::span(a).first(n), std::span(b).first(n), vector, op, true);
      // Bit for bit (NaN included); an empty run has nothing to compare.
      if (n > 0) EXPECT_EQ(std::memcmp(scalar.data(), vector.data(), n * sizeof(float)), 0) << op << " " << n;
    }

  // A large rectangle on one worker and on all of them.
  const int w = 700, h = 300;
  std::vector<float> pa(size_t(w * h)), pb(size_t(w * h));
  for (size_t i = 0; i < pa.size(); ++i) pa[i] = value(rng), pb[i] = value(rng);
  test::MakeImage(1, w, h, {pa});
  test::MakeImage(2, w, h, {pb});
  test::MakeImage(3, w, h, {std::vector<float>(size_t(w * h), 0.0f)});
  test::MakeImage(4, w, h, {std::vector<float>(size_t(w * h), 0.0f)});
  Options.Multicore = 0;
  ASSERT_TRUE(CombineRegionPixels(1, 2, 3, {3, 2, w - 2, h - 1}, CombineSubtract));
  Options.Multicore = 1;
  ASSERT_TRUE(CombineRegionPixels(1, 2, 4, {3, 2, w - 2, h - 1}, CombineSubtract));
  EXPECT_EQ(Store.Image[3].Planes[1], Store.Image[4].Planes[1]);
  EXPECT_EQ(At(3, 1, 2 * w + 3), pa[size_t(2 * w + 3)] - pb[size_t(2 * w + 3)]);
  EXPECT_EQ(At(3, 1, 2 * w + 2), 0.0f);
}

TEST(InterpolationKindSwitch, SetsTheKindAndItsTapWindow) {
  const int32_t saved = Settings.InterpolationKind;
  const struct {
    int kind, lo, hi;
  } kinds[] = {{0, 0, 1}, {1, -1, 2}, {2, -1, 2}, {3, -7, 8}, {4, -2, 3}};
  for (const auto& k : kinds) {
    SetToolMode(k.kind);
    EXPECT_EQ(Settings.InterpolationKind, k.kind);
    EXPECT_EQ(KernelWindow.Lo, k.lo);
    EXPECT_EQ(KernelWindow.Hi, k.hi);
  }
  // The current kind again still sets its window; kinds outside 0..4 are refused.
  KernelWindow = {0, 0};
  SetToolMode(4);
  EXPECT_EQ(KernelWindow.Lo, -2);
  for (int bad : {-1, 5}) {
    SetToolMode(bad);
    EXPECT_EQ(Settings.InterpolationKind, 4);
    EXPECT_EQ(KernelWindow.Hi, 3);
  }
  SetToolMode(saved);
}

}  // namespace
}  // namespace astrelon
