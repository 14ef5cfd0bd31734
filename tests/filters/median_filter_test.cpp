// Median filter: footprint choice, the sorting networks, scipy's median over
// the same disc, the centre weighting, hot pixels, blanks, and the same bits on
// every path and thread count.
#include <algorithm>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "../frequency/numpy_oracle.h"
#include "../planes/simd_paths.h"
#include "filter_images.h"
#include "filters/noise/median_filter.h"
#include "filters/noise/sorting_network.h"
#include "store/planes/value_statistics.h"

namespace astrelon {
namespace {

using test::PathGuard;
using test::TPath;

class Median : public test::KernelTest {
protected:
  void Run(int count, int weight, TWorkRect rect) {
    test::MakeResult(1, 2);
    TFilterPoll poll;
    ASSERT_TRUE(ApplyMedianFilter(1, 2, count, weight, rect, poll));
  }
  void Run(int count, int weight) { Run(count, weight, test::WholeImage(1)); }
  static float Out(int x, int y, int p = 1) { return Store.Image[2].At(p, x, y); }
  static float In(int x, int y, int p = 1) { return Store.Image[1].At(p, x, y); }
};

void Noise(int slot, int w, int h, int planes, unsigned seed, int blankEvery = 0) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> n(500, 40);
  test::MakeImage(slot, w, h, planes, [&](int p, int x, int y) {
    if (blankEvery && (x * 7 + y * 11 + p) % blankEvery == 0) return BlankPixel;
    return n(rng);
  });
}

TEST(MedianFootprints, CountsChooseTheirDiscs) {
  const int counts[] = {5, 9, 13, 21, 29, 37, 45, 57, 69};
  for (int k = 1; k <= 9; ++k) {
    EXPECT_EQ(MedianFootprintIndex(counts[k - 1]), k);
    const TMedianFootprint& f = MedianFootprint(k);
    int pixels = 0;
    for (int dy = -f.HalfHeight; dy <= f.HalfHeight; ++dy) pixels += 2 * f.HalfWidth[size_t(std::abs(dy))] + 1;
    EXPECT_EQ(pixels, f.Pixels) << k;
    EXPECT_EQ(f.Pixels, counts[k - 1]);
  }
  EXPECT_EQ(MedianFootprintIndex(60), 8);
  EXPECT_EQ(MedianFootprintIndex(70), 9);
  EXPECT_EQ(MedianFootprintIndex(500), 9);
  EXPECT_EQ(MedianFootprintIndex(1), 1);
}

template <int N>
void CheckNetwork(std::mt19937& rng) {
  std::uniform_int_distribution<int> d(0, 6);  // many equal values
  for (int t = 0; t < 300; ++t) {
    float v[N], w[N];
    for (int i = 0; i < N; ++i) v[i] = w[i] = float(d(rng));
    std::sort(w, w + N);
    float m[N];
    std::copy(v, v + N, m);
    SortNetwork<N, N / 2>(m);
    ASSERT_EQ(m[N / 2], w[N / 2]) << N;
    SortNetworkLoop<N, -1>(v);
    for (int i = 0; i < N; ++i) ASSERT_EQ(v[i], w[i]) << N;
  }
}

TEST(SortingNetworks, SortEveryFootprintSize) {
  std::mt19937 rng(5);
  CheckNetwork<5>(rng);
  CheckNetwork<9>(rng);
  CheckNetwork<13>(rng);
  CheckNetwork<21>(rng);
  CheckNetwork<29>(rng);
  CheckNetwork<37>(rng);
  CheckNetwork<45>(rng);
  CheckNetwork<57>(rng);
  CheckNetwork<69>(rng);
  EXPECT_LT((SortNetworkSize<9, 4>()), (SortNetworkSize<9, -1>()));
}

TEST_F(Median, PlainMedianEqualsScipyOnTheDisc) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy missing";
  const int w = 40, h = 30;
  Noise(1, w, h, 1, 7);
  const std::span<const float> in = Store.Image[1].Planes[1];
  for (int k = 1; k <= 9; ++k) {
    const TMedianFootprint& f = MedianFootprint(k);
    Run(f.Pixels, 1);
    test::NumpyOracle py;
    py.Put("a", std::vector<double>(in.begin(), in.end()));
    std::string mask = "m = np.zeros((9, 9), bool)\n";
    for (int dy = -f.HalfHeight; dy <= f.HalfHeight; ++dy)
      mask += "m[" + std::to_string(dy + 4) + ", " + std::to_string(4 - f.HalfWidth[size_t(std::abs(dy))]) + ":" +
              std::to_string(5 + f.HalfWidth[size_t(std::abs(dy))]) + "] = True\n";
    ASSERT_TRUE(py.Run("from scipy import ndimage\n" + mask + "a = np.fromfile(d + 'a.f64').reshape(" +
                       std::to_string(h) + ", " + std::to_string(w) +
                       ")\nndimage.median_filter(a, footprint=m, mode='constant', cval=np.nan).tofile(d + 'm.f64')"))
        << "scipy failed";
    const std::vector<double> ref = py.Get("m");
    ASSERT_EQ(ref.size(), size_t(w * h));
    // Away from the edges every footprint is complete and its count odd.
    for (int y = 4; y < h - 4; ++y)
      for (int x = 4; x < w - 4; ++x) ASSERT_EQ(Out(x, y), float(ref[size_t(y * w + x)])) << k << " " << x << "," << y;
  }
}

// The centre weighting as if the centre were counted `weight` times: the
// median of the collection with weight - 1 more copies of the centre, taken
// at the middle (mean of the two middle values for an even count).
float WeightedByCopies(std::vector<float> s, float c, int weight) {
  for (int i = 1; i < weight; ++i) s.push_back(c);
  std::sort(s.begin(), s.end());
  const size_t m = s.size();
  return m % 2 ? s[m / 2] : (s[m / 2 - 1] + s[m / 2]) * 0.5f;
}

TEST_F(Median, CentreWeightCountsTheCentreSeveralTimes) {
  Noise(1, 24, 20, 1, 9);
  for (int weight : {2, 3, 6, 13, 22}) {
    Run(21, weight);
    const TMedianFootprint& f = MedianFootprint(4);
    for (int y = 2; y < 18; ++y)
      for (int x = 2; x < 22; ++x) {
        std::vector<float> s;
        for (int dy = -2; dy <= 2; ++dy)
          for (int dx = -f.HalfWidth[size_t(std::abs(dy))]; dx <= f.HalfWidth[size_t(std::abs(dy))]; ++dx)
            s.push_back(In(x + dx, y + dy));
        ASSERT_EQ(Out(x, y), WeightedByCopies(s, In(x, y), weight)) << weight << " " << x << "," << y;
      }
  }
  // A weight at least the collected count returns the centre, at the edges too.
  Run(69, 69);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 24; ++x) ASSERT_EQ(Out(x, y), In(x, y));
}

TEST_F(Median, HotPixelGoesAndBlanksStay) {
  test::MakeGrey(1, 12, 10, [](int x, int y) {
    if (x == 5 && y == 4) return 9000.0f;
    if (x == 2 && y == 7) return BlankPixel;
    return 100.0f + float((x + y) % 2);
  });
  Run(5, 1);
  EXPECT_EQ(Out(5, 4), 100.0f);  // the four neighbours of an odd pixel are even
  EXPECT_EQ(Out(2, 7), BlankPixel);
  EXPECT_EQ(Out(2, 6), 101.0f);  // the blank below takes no part: 100, 101, 101, 101
  EXPECT_EQ(Out(0, 0), 101.0f);  // the corner: 100, 101, 101
  // Outside the rectangle nothing changes.
  Run(69, 1, {6, 9, 0, 2});
  EXPECT_EQ(Out(5, 4), 9000.0f);
  EXPECT_EQ(Out(5, 1), 100.0f);
}

TEST_F(Median, EveryPathAndThreadCountGivesTheSameBits) {
  Noise(1, 96, 48, 3, 11, 97);
  Store.Display[1].ChannelSelection = 0;
  std::map<std::pair<int, int>, std::vector<float>> first;
  for (const TPath path : test::AvailablePaths())
    for (bool multi : {false, true})
      for (int count : {9, 21, 37, 69})
        for (int weight : {1, 4}) {
          PathGuard guard(path);
          Options.Multicore = multi;
          Run(count, weight, {3, 92, 2, 45});
          std::vector<float> all;
          for (int p = 1; p <= 3; ++p) all.insert(all.end(), Store.Image[2].Planes[size_t(p)].begin(),
                                                   Store.Image[2].Planes[size_t(p)].end());
          std::vector<float>& ref = first[{count, weight}];
          if (ref.empty())
            ref = all;
          else
            ASSERT_TRUE(all == ref) << test::PathName(path) << " " << multi << " " << count << " " << weight;
        }
}

}  // namespace
}  // namespace astrelon
