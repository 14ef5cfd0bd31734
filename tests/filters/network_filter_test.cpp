// The network filter: the block predictions blended where blocks overlap
// (checked against the bilinear predictions a zero-weight network makes),
// the floor, the strength, the rectangle, 41- and 3-input colour networks,
// list files, refused files, the same bits on any threads and vector path.
#include "filters/network/network_filter.h"

#include <cmath>
#include <random>

#include "filter_images.h"
#include "network_test_nets.h"
#include "platform/processor_features.h"
#include "store/display/display_record.h"

namespace astrelon::test {
namespace {

class NetworkFilterTest : public NetworkKernelTest {
protected:
  // Values 10..250: flat at 50 left of column 8, structure right of it.
  static float Source(int x, int y) {
    return x < 8 ? 50.0f : float(130 + 60 * std::sin(0.37 * x + 0.11 * y) + 60 * std::cos(0.23 * y - 0.05 * x * x));
  }
  std::string Write(const char* name,
                    bool (*writer)(const std::string&, const TNetworkWeights&) = WriteUniversalNetworkFile) {
    const std::string f = dir_.file(name);
    EXPECT_TRUE(writer(f, Network));
    return f;
  }
  bool Apply(const std::string& file, double strength = 1.0) {
    MakeResult(1, 2);
    return ApplyNetworkFilter(1, 2, file, WholeImage(1), strength);
  }
  static float Out(int p, int x, int y) { return Store.Image[2].At(p, x, y); }
  TempDir dir_;
};

// A zero-weight universal network predicts each block bilinearly from the
// pixel and its neighbours towards each corner (a neighbour outside the image
// counts as the base 0.9 v + 0.1 mid).
TEST_F(NetworkFilterTest, ZeroNetworkBlendsBilinearBlocks) {
  const int w = 21, h = 15;
  MakeGrey(1, w, h, Source);
  MakeZeroNetwork(1, 10);
  ASSERT_TRUE(Apply(Write("zero.nnf")));
  const TImageSlot& src = Store.Image[1];
  const double mid = (double(src.MaxValue) + src.MinValue) / 2;
  auto pixel = [&](int x, int y, double outside) {
    return x < 0 || y < 0 || x >= w || y >= h ? outside : double(src.At(1, x, y));
  };
  // Prediction k of the block at (bx, by): towards (sx, sy).
  auto predict = [&](int bx, int by, int k) {
    const int sx = k % 2 ? 1 : -1, sy = k / 2 ? 1 : -1;
    const double v = pixel(bx, by, 0), b = 0.9 * v + 0.1 * mid;
    return 9.0 / 16 * v + 3.0 / 16 * (pixel(bx + sx, by, b) + pixel(bx, by + sy, b)) +
           1.0 / 16 * pixel(bx + sx, by + sy, b);
  };
  EXPECT_FLOAT_EQ(Out(1, 0, 0), float(predict(0, 0, 0)));
  for (int x = 1; x < w - 1; ++x) EXPECT_NEAR(Out(1, x, 0), (predict(x - 1, 0, 1) + predict(x, 0, 0)) / 2, 1e-3) << x;
  for (int y = 1; y < h - 1; ++y) EXPECT_NEAR(Out(1, 0, y), (predict(0, y - 1, 2) + predict(0, y, 0)) / 2, 1e-3) << y;
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) {
      const double mean =
          (predict(x - 1, y - 1, 3) + predict(x, y - 1, 2) + predict(x - 1, y, 1) + predict(x, y, 0)) / 4;
      ASSERT_NEAR(Out(1, x, y), mean, 0.02) << x << " " << y;
    }
  // The last column and row: only the blocks left of and above them.
  EXPECT_NEAR(Out(1, w - 1, 5), 0.667 * predict(w - 2, 4, 3) + 0.333 * predict(w - 2, 5, 1), 1e-3);
  EXPECT_NEAR(Out(1, 6, h - 1), (predict(5, h - 2, 3) + predict(6, h - 2, 2)) / 2, 1e-3);
  // The inside of the flat region stays as it was.
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x <= 5; ++x) ASSERT_EQ(Out(1, x, y), 50.0f) << x << " " << y;
}

// Values below min(minimum - 0.3 s, 0) are raised to it; the strength scales
// s; a flat image, no strength or a rectangle one pixel wide leave the copy.
TEST_F(NetworkFilterTest, FloorStrengthAndRectangle) {
  MakeGrey(1, 16, 12, Source);
  MakeZeroNetwork(11, 8, {-5.0f, -5.0f, -5.0f, -5.0f});
  const std::string file = Write("low.nnf");
  const TImageSlot& src = Store.Image[1];
  for (const double strength : {1.0, 0.5}) {
    ASSERT_TRUE(Apply(file, strength));
    const double s = (double(src.MaxValue) - src.MinValue) / 2 * strength;
    const float floor = float(std::min(double(src.MinValue) - 0.3 * s, 0.0));
    ASSERT_LT(floor, 0.0f);
    for (const float v : Store.Image[2].Planes[1]) ASSERT_EQ(v, floor);
  }
  const std::vector<float> copy(src.Planes[1].begin(), src.Planes[1].end());
  auto unchanged = [&] {
    return SameBits(std::vector<float>(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end()), copy);
  };
  ASSERT_TRUE(Apply(file, 0.0));
  EXPECT_TRUE(unchanged());
  MakeResult(1, 2);
  ASSERT_TRUE(ApplyNetworkFilter(1, 2, file, {3, 3, 2, 9}, 1.0));
  EXPECT_TRUE(unchanged());
  // A rectangle of 3 x 2 pixels: one row of two blocks writes 3 x 2 pixels.
  ASSERT_TRUE(ApplyNetworkFilter(1, 2, file, {3, 5, 2, 3}, 1.0));
  int changed = 0;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool inside = x >= 3 && x <= 5 && y >= 2 && y <= 3;
      changed += Out(1, x, y) != src.At(1, x, y);
      if (!inside) {
        ASSERT_EQ(Out(1, x, y), src.At(1, x, y)) << x << " " << y;
      }
    }
  EXPECT_EQ(changed, 6);
  MakeGrey(1, 10, 10, [](int, int) { return 7.0f; });
  ASSERT_TRUE(Apply(file));
  for (const float v : Store.Image[2].Planes[1]) ASSERT_EQ(v, 7.0f);
}

// 41-input networks give each pixel the mean of the outputs around the base
// 0.9 v + 0.1 mid; 3-input networks red from output 0, green from 1 and 2,
// blue from 3 around mid (a grey image the green value).
TEST_F(NetworkFilterTest, ColourNetworks) {
  MakeImage(1, 12, 9, 3, [](int p, int x, int y) { return float(20 * p + 3 * x + 5 * y); });
  const TImageSlot& src = Store.Image[1];
  const double mid = (double(src.MaxValue) + src.MinValue) / 2, s = (double(src.MaxValue) - src.MinValue) / 2;
  MakeZeroNetwork(16, 10, {0.1f, 0.2f, 0.4f, -0.3f});
  ASSERT_TRUE(Apply(Write("mean.nnf")));
  for (int p = 1; p <= 3; ++p)
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 12; ++x) {
        const double v = src.At(p, x, y);
        ASSERT_NEAR(Out(p, x, y), 0.1 * s + 0.9 * v + 0.1 * mid, 1e-4) << p << " " << x << " " << y;
      }
  MakeZeroNetwork(17, 10, {0.1f, 0.2f, 0.4f, -0.3f});
  ASSERT_TRUE(Apply(Write("rgb.nnf")));
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 12; ++x) {
      ASSERT_NEAR(Out(1, x, y), 0.1 * s + mid, 1e-4);
      ASSERT_NEAR(Out(2, x, y), 0.3 * s + mid, 1e-4);
      ASSERT_NEAR(Out(3, x, y), -0.3 * s + mid, 1e-4);
    }
  MakeGrey(1, 12, 9, [](int x, int y) { return float(3 * x + 5 * y); });
  ASSERT_TRUE(Apply(dir_.file("rgb.nnf")));
  const double greyMid = (double(Store.Image[1].MaxValue) + Store.Image[1].MinValue) / 2;
  const double greyS = (double(Store.Image[1].MaxValue) - Store.Image[1].MinValue) / 2;
  EXPECT_NEAR(Out(1, 4, 4), 0.3 * greyS + greyMid, 1e-4);
}

// A list file applies one network per plane (names relative to its folder,
// CR LF line ends, "\" between folders), the same as each network alone on
// its plane; the channel selection limits the planes.
TEST_F(NetworkFilterTest, ListFilesOnePlaneEach) {
  MakeImage(1, 14, 10, 3, [](int p, int x, int y) { return float(Source(x + 8, y) + 7 * p); });
  std::filesystem::create_directories(dir_.path() / "sub");
  std::vector<std::string> files;
  for (int k = 0; k < 3; ++k) {
    MakeRandomNetwork(k == 1 ? 4 : 1, 9, 9, 1, uint64_t(20 + k));
    files.push_back(Write(k == 1 ? "sub/b.nnf" : k == 0 ? "a.nnf" : "c.nnf"));
  }
  const std::string list = dir_.file("all.txt");
  WriteText(list, "RGB: Netze\r\na.nnf\r\nsub\\b.nnf\r\nc.nnf\r\n");
  ASSERT_TRUE(Apply(list));
  std::vector<std::vector<float>> byList;
  for (int p = 1; p <= 3; ++p)
    byList.emplace_back(Store.Image[2].Planes[size_t(p)].begin(), Store.Image[2].Planes[size_t(p)].end());
  for (int p = 1; p <= 3; ++p) {
    ASSERT_TRUE(Apply(files[size_t(p - 1)]));
    EXPECT_TRUE(SameBits(byList[size_t(p - 1)], std::vector<float>(Store.Image[2].Planes[size_t(p)].begin(),
                                                                   Store.Image[2].Planes[size_t(p)].end())))
        << p;
  }
  // Only the green channel selected.
  MakeResult(1, 2);
  Store.Display[2].ChannelSelection = 2;
  ASSERT_TRUE(ApplyNetworkFilter(1, 2, list, WholeImage(1), 1.0));
  EXPECT_TRUE(
      SameBits(byList[1], std::vector<float>(Store.Image[2].Planes[2].begin(), Store.Image[2].Planes[2].end())));
  EXPECT_EQ(Store.Image[2].Planes[1], Store.Image[1].Planes[1]);
}

// A list file naming a missing or broken network, a list of too few names,
// and broken network files: the message naming the file, false, the network
// loaded before and the destination as it was.
TEST_F(NetworkFilterTest, RefusedFiles) {
  MakeImage(1, 10, 10, 3, [](int p, int x, int y) { return float(p + x * y); });
  MakeZeroNetwork(1, 9);
  const std::string good = Write("good.nnf");
  WriteText(dir_.file("broken.nnf"), "not a network");
  WriteText(dir_.file("missing.txt"), "rgb:\nmissing.nnf\ngood.nnf\ngood.nnf\n");
  WriteText(dir_.file("late.txt"), "rgb:\ngood.nnf\ngood.nnf\nbroken.nnf\n");
  WriteText(dir_.file("short.txt"), "RGB:\ngood.nnf\n");
  const struct {
    const char* file;
    const char* named;
  } cases[] = {{"broken.nnf", "broken.nnf"},
               {"missing.txt", "missing.nnf"},
               {"late.txt", "broken.nnf"},
               {"short.txt", "short.txt"},
               {"nothing.nnf", "nothing.nnf"}};
  MakeRandomNetwork(4, 12, 12, 1, 9);
  const TNetworkWeights before = Network;
  for (const auto& c : cases) {
    EngineUi().Messages.clear();
    EXPECT_FALSE(Apply(dir_.file(c.file))) << c.file;
    ASSERT_EQ(EngineUi().Messages.size(), 1u) << c.file;
    EXPECT_EQ(EngineUi().Messages[0], dir_.file(c.named) + "\nkonnte nicht geöffnet werden!");
    EXPECT_TRUE(SameNetwork(Network, before)) << c.file;
    for (int p = 1; p <= 3; ++p) EXPECT_EQ(Store.Image[2].Planes[size_t(p)], Store.Image[1].Planes[size_t(p)]);
  }
}

// The same bits with one thread and all cores and on every vector path; the
// poll stops the rows.
TEST_F(NetworkFilterTest, SameBitsOnAnyThreadsAndPathAndAbort) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(0.0f, 500.0f);
  MakeImage(1, 117, 103, 3, [&](int, int, int) { return u(rng); });
  for (const int32_t type : {1, 4, 16}) {
    MakeRandomNetwork(type, 15, 15, type == 1 ? 3 : 1, 7);
    const std::string file = Write("random.nnf");
    std::vector<std::vector<float>> results;
    for (const auto& [multicore, sse] : {std::pair{1, true}, std::pair{0, true}, std::pair{1, false}}) {
      Options.Multicore = uint8_t(multicore);
      SseEnabled = sse;
      ASSERT_TRUE(Apply(file));
      std::vector<float> all;
      for (int p = 1; p <= 3; ++p)
        all.insert(all.end(), Store.Image[2].Planes[size_t(p)].begin(), Store.Image[2].Planes[size_t(p)].end());
      results.push_back(std::move(all));
    }
    EXPECT_TRUE(SameBits(results[0], results[1])) << type;
    EXPECT_TRUE(SameBits(results[0], results[2])) << type;
  }
  MakeResult(1, 2);
  int calls = 0;
  EXPECT_FALSE(
      ApplyNetworkFilter(1, 2, dir_.file("random.nnf"), WholeImage(1), 1.0, [&](int, int64_t) { return ++calls < 2; }));
}

}  // namespace
}  // namespace astrelon::test
