// DDP: the per-pixel pass on both paths, the result against a direct
// evaluation from an fGauss blur, the colour masks, one thread and all cores,
// an abort that leaves the blur to be made again, and the blur slot released.
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "filter_images.h"
#include "filters/ddp/ddp_pass.h"
#include "filters/ddp/ddp_session.h"
#include "filters/dialog/filter_state.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/gauss/gauss_filters.h"
#include "store/planes/image_statistics.h"
#include "test_support.h"

namespace astrelon {
namespace {

TEST(DdpPass, VectorAndScalarGiveTheSameBits) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-50, 3000);
  for (const int gamma : {0, 25, 60, 99}) {
    std::vector<float> in(1003), blur(1003), a(1003, 7.0f), b(1003, 7.0f);
    for (size_t i = 0; i < in.size(); ++i) {
      in[i] = i % 97 == 0 ? BlankPixel : u(rng);
      blur[i] = i % 89 == 0 ? BlankPixel : u(rng) / 3;
    }
    const TDdpFigures f = DdpFigures(gamma, 100.0f, 800.0f, -20.0f);
    DdpRun(in, blur, a, f, false);
    DdpRun(in, blur, b, f, true);
    EXPECT_EQ(a, b) << gamma;
    for (size_t i = 0; i < in.size(); ++i)
      if (!IsValidPixel(in[i]) || !IsValidPixel(blur[i])) {
        EXPECT_EQ(a[i], 7.0f);
      }
  }
  const TDdpFigures f = DdpFigures(60, 10.0f, 50.0f, 0.0f);
  EXPECT_EQ(f.Offset, 0.0f);
  EXPECT_FLOAT_EQ(f.Gain, 60.0f);
}

class DdpSession : public test::KernelTest {
protected:
  void TearDown() override {
    session.End();
    test::KernelTest::TearDown();
  }
  // Background with bright blobs: a source in slot 1, the result in slot 2.
  static void Scene(int planes, int w = 64, int h = 48) {
    std::mt19937 rng(9);
    std::normal_distribution<float> noise(0, 3);
    test::MakeImage(1, w, h, planes, [&](int p, int x, int y) {
      const float blob = 3000.0f / float(p) * std::exp(-((x - 20) * (x - 20) + (y - 15) * (y - 15)) / 60.0f);
      return 200 + 30 * float(p) + blob + noise(rng);
    });
    test::MakeResult(1, 2);
  }
  // The expected result from a blur made here.
  std::vector<float> Expected(int gamma, int radius, int plane, int blurPlane) const {
    const TImageSlot& s = Store.Image[1];
    CopyImageSlot(1, 9);
    fGauss(1, 9, 0, 0, s.Width - 1, 0, s.Height - 1, radius * 0.1f, false, 9, 100, "");
    const float B = session.Black(), A = session.Range();
    const double c = 0.1 * (60 - gamma) * A, k = 1.2 * (c + A);
    std::vector<float> out(s.PixelCount());
    for (size_t i = 0; i < out.size(); ++i) {
      const double den = std::max(double(Store.Image[9].Planes[size_t(blurPlane)][i]) - B + c, 0.1);
      out[i] = float(std::max((double(s.Planes[size_t(plane)][i]) - B) / den * k + B, double(s.MinValue)));
    }
    FreeSlot(9);
    return out;
  }
  TDdpSession session;
};

TEST_F(DdpSession, GreyResultFollowsTheFormulaAndLevels) {
  Scene(1);
  ASSERT_TRUE(session.Start(1, 2));
  TPercentileLevels levels;
  GetPercentileLevels(1, 1, 0, 63, 0, 47, 1, 99.8, levels);
  EXPECT_FLOAT_EQ(session.Black(), float(levels.LevelA));
  EXPECT_FLOAT_EQ(session.Range(), float((levels.LevelB - levels.LevelA) / 1.4 + 0.1));
  for (const auto& [gamma, radius] : {std::pair{60, 15}, std::pair{25, 15}, std::pair{0, 40}, std::pair{99, 0}}) {
    ASSERT_EQ(session.Compute(gamma, radius, {-1, 0, 1, 2}, true), TDdpCompute::Done);
    EXPECT_EQ(session.CachedRadius(), radius);
    const std::vector<float> expected = Expected(gamma, radius, 1, 1);
    for (size_t i = 0; i < expected.size(); ++i)
      ASSERT_NEAR(Store.Image[2].Planes[1][i], expected[i], 2e-3f * (1 + std::fabs(expected[i]))) << gamma << " " << i;
  }
}

TEST_F(DdpSession, ColourPlanesUseTheBlurTheirMaskNames) {
  Scene(3);
  ASSERT_TRUE(session.Start(1, 2));
  ASSERT_EQ(session.Compute(30, 20, {-1, DdpMaskR, DdpMaskR, DdpMaskB}, true), TDdpCompute::Done);
  for (const auto& [plane, blurPlane] : {std::pair{1, 1}, std::pair{2, 1}, std::pair{3, 3}}) {
    const std::vector<float> expected = Expected(30, 20, plane, blurPlane);
    for (size_t i = 0; i < expected.size(); ++i)
      ASSERT_NEAR(Store.Image[2].Planes[size_t(plane)][i], expected[i], 2e-3f * (1 + std::fabs(expected[i]))) << plane;
  }
  // "L": the luma of the blurred planes.
  ASSERT_EQ(session.Compute(30, 20, {-1, DdpMaskL, DdpMaskL, DdpMaskL}, true), TDdpCompute::Done);
  const TPlane luma = GreyPlaneOf(FilterBlurSlot);
  const TDdpFigures f = DdpFigures(30, session.Black(), session.Range(), Store.Image[1].MinValue);
  std::vector<float> expected(luma.size());
  DdpRun(Store.Image[1].Planes[2], luma, expected, f, false);
  EXPECT_EQ(std::vector<float>(Store.Image[2].Planes[2].begin(), Store.Image[2].Planes[2].end()), expected);
}

TEST_F(DdpSession, SameBitsOnOneThreadAndAllCores) {
  Scene(3, 700, 400);
  ASSERT_TRUE(session.Start(1, 2));
  TPlane first;
  for (const bool multi : {false, true}) {
    Options.Multicore = multi;
    session.InvalidateBlur();
    ASSERT_EQ(session.Compute(40, 25, {-1, 0, 3, 2}, multi), TDdpCompute::Done);
    if (first.empty()) first = Store.Image[2].Planes[2];
    else EXPECT_EQ(first, Store.Image[2].Planes[2]);
  }
}

TEST_F(DdpSession, AbortLeavesTheBlurToBeMadeAgainAndEndFreesItsSlot) {
  Scene(1);
  const int freeBefore = FindFreeSlot();
  ASSERT_TRUE(session.Start(1, 2));
  EXPECT_GE(FilterBlurSlot, 1);
  ASSERT_EQ(session.Compute(25, 15, {-1, 0, 1, 2}, true), TDdpCompute::Done);
  const TPlane done = Store.Image[2].Planes[1];
  AbortRequested = 1;
  EXPECT_EQ(session.Compute(25, 30, {-1, 0, 1, 2}, true), TDdpCompute::Aborted);
  AbortRequested = 0;
  EXPECT_EQ(session.CachedRadius(), -1);
  EXPECT_EQ(Store.Image[2].Planes[1], done) << "nothing divided by a half-made blur";
  // Radius 0 after the abort blurs again (the smallest fGauss radius).
  ASSERT_EQ(session.Compute(25, 0, {-1, 0, 1, 2}, true), TDdpCompute::Done);
  EXPECT_EQ(session.CachedRadius(), 0);
  const std::vector<float> expected = Expected(25, 0, 1, 1);
  for (size_t i = 0; i < expected.size(); ++i)
    ASSERT_NEAR(Store.Image[2].Planes[1][i], expected[i], 2e-3f * (1 + std::fabs(expected[i])));
  session.End();
  EXPECT_LT(FilterBlurSlot, 1);
  EXPECT_EQ(FindFreeSlot(), freeBefore);
}

}  // namespace
}  // namespace astrelon
