// The two-times enlargement by network: a zero-weight network gives the
// bilinear enlargement (checked against numpy) in both input layouts, each
// output lands on its own pixel of the block, results
// are raised to the minimum, blank and flat sources, the same bits on any
// number of threads and any vector path, refused files and the abort.
#include "filters/network/upscale_x2_network.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "../frequency/numpy_oracle.h"
#include "filter_images.h"
#include "network_test_nets.h"
#include "platform/processor_features.h"

namespace astrelon::test {
namespace {

class UpscaleX2NetworkTest : public NetworkKernelTest {
protected:
  // A smooth image with some structure, values 10..250.
  static void MakeSource(int w, int h) {
    MakeGrey(1, w, h, [](int x, int y) {
      return float(130 + 60 * std::sin(0.37 * x + 0.11 * y) + 60 * std::cos(0.23 * y - 0.05 * x * x));
    });
    MakeResult(1, 2);
  }
  bool Enlarge(const std::string& file) { return UpscaleX2Network(1, 2, file); }
  TempDir dir_;
  const std::string file_ = dir_.file("net.nnw");
};

// Inside the border every block is 9/16 of its pixel, 3/16 of each edge
// neighbour towards it and 1/16 of the diagonal one.
TEST_F(UpscaleX2NetworkTest, ZeroNetworkIsTheBilinearEnlargement) {
  if (!HaveNumpy()) GTEST_SKIP() << "numpy missing";
  const int w = 23, h = 17;
  MakeSource(w, h);
  NumpyOracle numpy;
  const TImageSlot& src = Store.Image[1];
  numpy.Put("src", std::vector<double>(src.Planes[1].begin(), src.Planes[1].end()));
  ASSERT_TRUE(numpy.Run("a = np.fromfile(d + 'src.f64').reshape(" + std::to_string(h) + ", " + std::to_string(w) +
                        ")\n"
                        "out = np.zeros((2 * a.shape[0], 2 * a.shape[1]))\n"
                        "c = a[1:-1, 1:-1]\n"
                        "for sy, sx, qy, qx in ((-1, -1, 0, 0), (-1, 1, 0, 1), (1, -1, 1, 0), (1, 1, 1, 1)):\n"
                        "    v = a[1 + sy:a.shape[0] - 1 + sy, 1:-1]\n"
                        "    u = a[1:-1, 1 + sx:a.shape[1] - 1 + sx]\n"
                        "    g = a[1 + sy:a.shape[0] - 1 + sy, 1 + sx:a.shape[1] - 1 + sx]\n"
                        "    out[2 + qy:-2:2, 2 + qx:-2:2] = 9 / 16 * c + 3 / 16 * (v + u) + 1 / 16 * g\n"
                        "out.tofile(d + 'out.f64')\n"));
  const std::vector<double> expected = numpy.Get("out");
  ASSERT_EQ(expected.size(), size_t(4 * w * h));
  // The phase-1 header of 37 inputs, and a 21-input network.
  for (const int32_t rowWidth : {37, 21}) {
    MakeZeroNetwork(3, 12, {}, rowWidth);
    ASSERT_TRUE(WriteTwoTimesNetworkFile(file_, Network));
    MakeResult(1, 2);
    ASSERT_TRUE(Enlarge(file_));
    ASSERT_EQ(Network.InputTop, rowWidth - 1);
    const TImageSlot& dst = Store.Image[2];
    ASSERT_EQ(dst.Width, 2 * w);
    ASSERT_EQ(dst.Height, 2 * h);
    for (int y = 2; y < 2 * h - 2; ++y)
      for (int x = 2; x < 2 * w - 2; ++x)
        ASSERT_NEAR(dst.At(1, x, y), expected[size_t(y) * size_t(2 * w) + size_t(x)], 2e-4) << x << " " << y;
    // At the border the missing neighbours count as the pixel itself.
    EXPECT_FLOAT_EQ(dst.At(1, 0, 0), src.At(1, 0, 0));
    EXPECT_NEAR(dst.At(1, 1, 0), 13.0 / 16 * src.At(1, 0, 0) + 3.0 / 16 * src.At(1, 1, 0), 2e-4);
    EXPECT_EQ(GetHeaderValue(2, "NAXIS1", false), std::to_string(2 * w));
  }
}

// Zero weights and four distinct output biases b: output q moves pixel
// (2x + (q & 1), 2y + (q >> 1)) of every interior block by (b_q - Σb / 4.5)
// times half the source's range (the base term subtracts the outputs' sum
// over 4.5), the same on every path.
TEST_F(UpscaleX2NetworkTest, EachOutputLandsOnItsPixelOfTheBlock) {
  const int w = 19, h = 15;
  MakeSource(w, h);
  const TImageSlot& src = Store.Image[1];
  const float scale = (src.MaxValue - src.MinValue) / 2;
  MakeZeroNetwork(13, 10);
  ASSERT_TRUE(WriteTwoTimesNetworkFile(file_, Network));
  ASSERT_TRUE(Enlarge(file_));
  const std::vector<float> plain(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end());
  const std::array<float, 4> bo{0.06f, -0.02f, 0.01f, 0.04f};
  const float mean = (bo[0] + bo[1] + bo[2] + bo[3]) / 4.5f;
  MakeZeroNetwork(13, 10, bo);
  ASSERT_TRUE(WriteTwoTimesNetworkFile(file_, Network));
  for (const bool sse : {true, false}) {
    SseEnabled = sse;
    MakeResult(1, 2);
    ASSERT_TRUE(Enlarge(file_));
    const TImageSlot& dst = Store.Image[2];
    for (int y = 3; y < h - 3; ++y)
      for (int x = 3; x < w - 3; ++x)
        for (int q = 0; q < 4; ++q) {
          const size_t i = size_t(2 * y + (q >> 1)) * size_t(2 * w) + size_t(2 * x + (q & 1));
          const float want = std::max(plain[i] + (bo[size_t(q)] - mean) * scale, src.MinValue);
          ASSERT_NEAR(dst.Planes[1][i], want, 1e-3f) << x << "," << y << " output " << q << " sse " << sse;
        }
  }
}

// Results below the source's minimum are raised to it; a blank pixel gives a
// block at the minimum; a flat image gives each block its pixel.
TEST_F(UpscaleX2NetworkTest, MinimumBlankAndFlat) {
  MakeSource(16, 12);
  Store.Image[1].At(1, 5, 5) = BlankPixel;
  MakeResult(1, 2);
  MakeZeroNetwork(13, 10, {-3.0f, -3.0f, -3.0f, -3.0f});  // one layer with biases: far below the pixel
  ASSERT_TRUE(WriteTwoTimesNetworkFile(file_, Network));
  ASSERT_TRUE(Enlarge(file_));
  const TImageSlot& dst = Store.Image[2];
  const float lowest = Store.Image[1].MinValue;
  int atMinimum = 0;
  for (const float v : dst.Planes[1]) {
    ASSERT_GE(v, lowest);
    atMinimum += v == lowest;
  }
  EXPECT_GT(atMinimum, 50);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(dst.At(1, 10 + k % 2, 10 + k / 2), lowest);

  MakeGrey(1, 9, 7, [](int, int) { return 42.5f; });
  MakeResult(1, 2);
  ASSERT_TRUE(Enlarge(file_));
  for (const float v : Store.Image[2].Planes[1]) ASSERT_EQ(v, 42.5f);
}

// The same bits with one thread and all cores, on every vector path, for both
// a clipped two-layer network and a one-layer network with biases.
TEST_F(UpscaleX2NetworkTest, SameBitsOnAnyThreadsAndPath) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(0.0f, 1000.0f);
  MakeImage(1, 131, 97, 3, [&](int, int, int) { return u(rng); });
  for (const int32_t type : {3, 14}) {
    MakeRandomNetwork(type, 20, 20, type == 3 ? 3 : 2, 5);
    ASSERT_TRUE(WriteTwoTimesNetworkFile(file_, Network));
    std::vector<std::vector<float>> results;
    for (const auto& [multicore, sse] : {std::pair{1, true}, std::pair{0, true}, std::pair{1, false}}) {
      Options.Multicore = uint8_t(multicore);
      SseEnabled = sse;
      MakeResult(1, 2);
      ASSERT_TRUE(Enlarge(file_));
      std::vector<float> all;
      for (int p = 1; p <= 3; ++p)
        all.insert(all.end(), Store.Image[2].Planes[size_t(p)].begin(), Store.Image[2].Planes[size_t(p)].end());
      results.push_back(std::move(all));
    }
    EXPECT_TRUE(SameBits(results[0], results[1])) << type;
    EXPECT_TRUE(SameBits(results[0], results[2])) << type;
  }
}

// A file that cannot be read: the message, the network loaded before, the
// destination as it was. An abort from the poll stops the enlargement.
TEST_F(UpscaleX2NetworkTest, RefusedFileAndAbort) {
  MakeSource(20, 20);
  MakeRandomNetwork(1, 10, 10, 1, 3);
  const TNetworkWeights before = Network;
  for (const std::string& content : {std::string(), std::string("abc"), std::string(100, '\x7f')}) {
    WriteText(file_, content);
    EngineUi().Messages.clear();
    EXPECT_FALSE(Enlarge(file_));
    ASSERT_EQ(EngineUi().Messages.size(), 1u);
    EXPECT_EQ(EngineUi().Messages[0], file_ + "\nkonnte nicht geöffnet werden!");
    EXPECT_TRUE(SameNetwork(Network, before));
    EXPECT_EQ(Store.Image[2].Width, 20);
  }
  EXPECT_FALSE(Enlarge(dir_.file("missing.nnw")));

  MakeZeroNetwork(3, 10);
  ASSERT_TRUE(WriteTwoTimesNetworkFile(file_, Network));
  int calls = 0;
  EXPECT_FALSE(UpscaleX2Network(1, 2, file_, [&](int, int64_t) { return ++calls < 3; }));
  EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace astrelon::test
