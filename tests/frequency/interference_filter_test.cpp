// The automatic 1D interference filter: what it leaves alone and what it removes.
#include <cmath>
#include <complex>
#include <numbers>

#include <gtest/gtest.h>

#include "frequency/interference/interference_filter.h"
#include "spectrum_fixture.h"

namespace astrelon {
namespace {

using test::MakeImage;

class InterferenceFilter : public test::StoreTest {};

// Amplitude of bin k of a row (plain DFT sum).
double BinAmplitude(int slot, int p, int y, int k) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  std::complex<double> s = 0;
  for (int x = 0; x < im.Width; ++x) s += double(im.At(p, x, y)) * std::polar(1.0, -2 * std::numbers::pi * k * x / im.Width);
  return std::abs(s);
}

float Noise(int x, int y) {
  const unsigned hsh = unsigned(x) * 2654435761u ^ unsigned(y) * 2246822519u;
  return float((hsh >> 8) % 1000u) * 0.01f;  // 0 .. 10
}

TEST_F(InterferenceFilter, BinsAndWindows) {
  const TInterferenceBins b = InterferenceBins(64);
  EXPECT_EQ(b.N, 64);
  EXPECT_EQ(b.Bins, 33);
  EXPECT_EQ(b.K0, 2);
  int32_t lower, upper;
  InterferenceWindow(32, 2, 33, lower, upper);
  EXPECT_EQ(upper, 0);
  EXPECT_EQ(lower, -7);
  InterferenceWindow(3, 2, 33, lower, upper);
  EXPECT_EQ(lower, -1);
  EXPECT_EQ(upper, 0);
  EXPECT_EQ(InterferenceBins(100).N, 128);
}

TEST_F(InterferenceFilter, ConstantRowsAndNarrowImagesStay) {
  MakeImage(1, 100, 30, 1, [](int, int y, int) { return 50.0f + 3.0f * float(y); });
  ASSERT_TRUE(CopyImageSlot(1, 2));
  RemoveInterference1D(1, 2);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 100; ++x) ASSERT_NEAR(Store.Image[2].At(1, x, y), 50.0f + 3.0f * float(y), 1e-4);

  MakeImage(3, 8, 4, 1, [](int x, int y, int) { return float(x * y); });
  MakeImage(4, 8, 4, 1, [](int, int, int) { return 0.0f; });
  RemoveInterference1D(3, 4);
  EXPECT_EQ(test::PlaneOf(4, 1), test::PlaneOf(3, 1));
}

// A stripe above the lowest twelfth of the bins falls by more than ten times in
// every plane, whatever the channel selection; one below it stays.
TEST_F(InterferenceFilter, StripesAboveTheLowestTwelfthFall) {
  const auto stripe = [](int x, int y, int p) {
    const double bin = p == 2 ? 1.0 : 20.0;
    return 100.0f + Noise(x, y + 100 * p) + float(30.0 * std::sin(2 * std::numbers::pi * bin * x / 256 + 0.1 * y));
  };
  MakeImage(1, 256, 40, 3, stripe);
  Store.Display[1].ChannelSelection = 1;
  ASSERT_TRUE(CopyImageSlot(1, 2));
  RemoveInterference1D(1, 2);
  for (const int y : {0, 17, 39}) {
    EXPECT_GT(BinAmplitude(1, 1, y, 20), 10 * BinAmplitude(2, 1, y, 20)) << "row " << y;
    EXPECT_GT(BinAmplitude(1, 3, y, 20), 10 * BinAmplitude(2, 3, y, 20)) << "row " << y;
    EXPECT_NEAR(BinAmplitude(2, 2, y, 1), BinAmplitude(1, 2, y, 1), 1e-3 * BinAmplitude(1, 2, y, 1)) << "row " << y;
  }
  // Away from the stripe the image is kept: the noise is not smoothed away.
  double change = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 256; ++x) {
      const double stripeOnly = 30.0 * std::sin(2 * std::numbers::pi * 20 * x / 256 + 0.1 * y);
      change += std::abs(Store.Image[2].At(1, x, y) - (Store.Image[1].At(1, x, y) - stripeOnly));
    }
  EXPECT_LT(change / (256 * 40), 1.0);
}

// Every code path and worker count gives the same bits. A width of 256 with a
// blank pixel also has rows read directly beside rows that need preparing, in
// groups that differ from path to path.
TEST_F(InterferenceFilter, SameBitsForEveryPathAndWorkerCount) {
  for (const int width : {300, 256}) {
    MakeImage(1, width, 301, 1, [](int x, int y, int) {
      return 10.0f + Noise(x, y) + float(5.0 * std::sin(0.9 * x)) + (x == 7 && y == 3 ? BlankPixel : 0.0f);
    });
    std::vector<std::vector<float>> results;
    for (const bool vector : {false, true})
      for (const bool multicore : {false, true}) {
        test::PathAndThreads guard(vector, multicore);
        ASSERT_TRUE(CopyImageSlot(1, 2));
        RemoveInterference1D(1, 2);
        results.push_back(test::PlaneOf(2, 1));
      }
    for (size_t i = 1; i < results.size(); ++i) EXPECT_TRUE(results[i] == results[0]) << width << ", run " << i;
    EXPECT_NE(results[0], test::PlaneOf(1, 1));
  }
}

}  // namespace
}  // namespace astrelon
