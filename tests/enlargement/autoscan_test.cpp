// The self-trained enlargement: its parameter limits, the inputs of one window,
// the result's size and range, one seed giving one result, a stop by the poll
// or the abort flag, and a flat image refused.
#include "filters/enlargement/autoscan_enlargement.h"

#include <gtest/gtest.h>

#include <cmath>

#include "../filters/filter_images.h"
#include "kernels/network/network_weights.h"

namespace astrelon::test {
namespace {

class AutoscanTest : public KernelTest {
protected:
  void TearDown() override {
    Network = TNetworkWeights{};
    KernelTest::TearDown();
  }
};

float Pattern(int p, int x, int y) {
  return 50.0f * float(p) + 30.0f * std::sin(0.7f * float(x)) * std::cos(0.4f * float(y)) + float(x % 5);
}

TEST_F(AutoscanTest, SettingsAreClampedIntoTheirRanges) {
  struct Case {
    TAutoscanSettings In, Out;
  };
  const Case cases[] = {
      {{0, 5, 5}, {1, 10, 10}},
      {{11, 500, 1000}, {10, 100, 300}},
      {{2, 21, 45}, {2, 21, 45}},
  };
  for (const Case& c : cases) {
    const TAutoscanSettings s = ClampAutoscanSettings(c.In);
    EXPECT_EQ(s.Quality, c.Out.Quality);
    EXPECT_EQ(s.Neurons, c.Out.Neurons);
    EXPECT_EQ(s.ScanBox, c.Out.ScanBox);
  }
}

TEST_F(AutoscanTest, InputsAreTheWindowAtItsTopLeftCorner) {
  TAutoscanImages im;
  im.Mid = 10;
  im.S = 5;
  im.Work.Width = 6;
  im.Work.Height = 6;
  for (int i = 0; i < 36; ++i) im.Work.Values.push_back(float(i));
  AutoscanInputs(im.Work, 1, 0, im);
  // Index 0 is (x + 1, y), the centre 10 is (x + 2, y + 2) = 15.
  EXPECT_EQ(NetworkPass.X[0], (2.0f - 10) / 5);
  EXPECT_EQ(NetworkPass.X[10], (15.0f - 10) / 5);
  EXPECT_EQ(NetworkPass.X[20], (28.0f - 10) / 5);  // (4, 4)
  EXPECT_DOUBLE_EQ(im.Spread, 28 - 2 + 1.25);
  // Outside the image: the centre clamped into it (5, 5) = 35.
  AutoscanInputs(im.Work, 4, 4, im);
  EXPECT_EQ(NetworkPass.X[20], (35.0f - 10) / 5);
  EXPECT_EQ(NetworkPass.X[0], (29.0f - 10) / 5);  // (5, 4)
}

TEST_F(AutoscanTest, ResultIsTwiceAsLargeWithinTheWorkRangeAndRepeatable) {
  for (int planes : {1, 3}) {
    MakeImage(1, 34, 28, planes, Pattern);
    MakeResult(1, 2);
    const TAutoscanSettings s{1, 10, 20};
    ASSERT_EQ(UpscaleX2Autoscan(1, 2, s, 77), TAutoscanEnd::Done);
    MakeResult(1, 3);
    ASSERT_EQ(UpscaleX2Autoscan(1, 3, s, 77), TAutoscanEnd::Done);
    TAutoscanImages work;
    ASSERT_TRUE(MakeAutoscanWorkImage(1, work));
    const TImageSlot& r = Store.Image[2];
    EXPECT_EQ(r.Width, 68);
    EXPECT_EQ(r.Height, 56);
    for (int p = 1; p <= planes; ++p) {
      EXPECT_EQ(r.Planes[size_t(p)], Store.Image[3].Planes[size_t(p)]) << "one seed, one result";
      for (float v : r.Planes[size_t(p)]) {
        ASSERT_GE(v, work.Low);
        ASSERT_LE(v, work.High);
      }
    }
    // A grey result follows the image: its mean error against the source's
    // pixels is far below the range.
    if (planes == 1) {
      double err = 0;
      for (int y = 0; y < 56; ++y)
        for (int x = 0; x < 68; ++x) err += std::fabs(r.At(1, x, y) - Store.Image[1].At(1, x / 2, y / 2));
      EXPECT_LT(err / (56 * 68), 0.25 * (work.High - work.Low));
    }
  }
}

TEST_F(AutoscanTest, StopsWhenAskedAndRefusesFlatImages) {
  MakeImage(1, 30, 30, 1, Pattern);
  MakeResult(1, 2);
  int calls = 0;
  EXPECT_EQ(UpscaleX2Autoscan(1, 2, {}, 1, [&](bool, int) { return ++calls < 10; }), TAutoscanEnd::Aborted);
  EXPECT_EQ(calls, 10);
  EXPECT_EQ(Store.Image[2].Width, 30) << "an aborted run leaves the destination";
  EXPECT_EQ(UpscaleX2Autoscan(1, 2, {}, 1, [&](bool scanning, int) {
              if (scanning) AbortRequested = 1;
              return true;
            }),
            TAutoscanEnd::Aborted);
  MakeGrey(1, 30, 30, [](int, int) { return 3.0f; });
  MakeResult(1, 2);
  EXPECT_EQ(UpscaleX2Autoscan(1, 2, {}, 1), TAutoscanEnd::Flat);
}

}  // namespace
}  // namespace astrelon::test
