// The input vector of a network at one pixel: every layout's positions, read
// back from an image whose values encode their coordinates, the region means,
// clipping, blank pixels and the border.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "filter_images.h"
#include "filters/network/network_inputs.h"

namespace astrelon::test {
namespace {

struct TOffset {
  int dx, dy;
};

// The layouts as their description gives them: groups of positions, each in
// reading order.
std::vector<TOffset> ReadingOrder(bool (*in)(int dx, int dy)) {
  std::vector<TOffset> r;
  for (int dy = -6; dy <= 6; ++dy)
    for (int dx = -6; dx <= 6; ++dx)
      if (in(dx, dy)) r.push_back({dx, dy});
  return r;
}

std::vector<TOffset> DiscLayout() {
  std::vector<TOffset> all{{0, 0}};
  for (auto group : {+[](int dx, int dy) { return std::max(std::abs(dx), std::abs(dy)) == 1; },
                     +[](int dx, int dy) {
                       return std::max(std::abs(dx), std::abs(dy)) == 2 && !(std::abs(dx) == 2 && std::abs(dy) == 2);
                     },
                     +[](int dx, int dy) {
                       return dx * dx + dy * dy <= 10 && (std::max(std::abs(dx), std::abs(dy)) == 3 ||
                                                          (std::abs(dx) == 2 && std::abs(dy) == 2));
                     }}) {
    const auto part = ReadingOrder(group);
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

std::vector<TOffset> SquareLayout() {
  return ReadingOrder(
      +[](int dx, int dy) { return std::abs(dx) <= 2 && std::abs(dy) <= 2 && !(std::abs(dx) == 2 && std::abs(dy) == 2); });
}

// The region numbers of the upper band (rows dy -6..-2, columns dx -5..5, 0
// none) and of the left band (rows dy -2..2, columns dx -6..-4), as given.
const int Upper[5][11] = {
    {0, 0, 0, 57, 57, 57, 57, 57, 0, 0, 0},
    {0, 49, 49, 53, 53, 53, 53, 53, 50, 50, 0},
    {49, 49, 41, 41, 45, 45, 45, 42, 42, 50, 50},
    {49, 41, 37, 37, 0, 0, 0, 38, 38, 42, 50},
    {0, 41, 37, 0, 0, 0, 0, 0, 38, 42, 0},
};
const int Left[5][3] = {{58, 54, 0}, {58, 54, 46}, {58, 54, 46}, {58, 54, 46}, {58, 54, 0}};

// Region of (dx, dy): the bands and their mirror images (numbers raised by 2);
// where bands meet, the one that names a region.
int Region(int dx, int dy) {
  int r = 0;
  if (dx >= -5 && dx <= 5 && dy >= -6 && dy <= -2) r = std::max(r, Upper[dy + 6][dx + 5]);
  if (dx >= -5 && dx <= 5 && dy >= 2 && dy <= 6 && Upper[6 - dy][dx + 5]) r = std::max(r, Upper[6 - dy][dx + 5] + 2);
  if (dy >= -2 && dy <= 2 && dx >= -6 && dx <= -4) r = std::max(r, Left[dy + 2][dx + 6]);
  if (dy >= -2 && dy <= 2 && dx >= 4 && dx <= 6 && Left[dy + 2][6 - dx]) r = std::max(r, Left[dy + 2][6 - dx] + 2);
  return r;
}

class NetworkInputsTest : public KernelTest {
protected:
  // Plane p holds 100 x + y + 20000 (p - 1): relative to the centre of plane
  // 1, an input reads 100 dx + dy.
  void SetUp() override {
    KernelTest::SetUp();
    MakeImage(1, 30, 30, 3, [](int p, int x, int y) { return float(100 * x + y + 20000 * (p - 1)); });
  }
  static float Coded(int x, int y) { return float(100 * x + y); }
  TNetworkPass pass_;
};

TEST_F(NetworkInputsTest, EveryInputReadsItsOffset) {
  const TImageSlot& im = Store.Image[1];
  const auto disc = DiscLayout();
  ASSERT_EQ(disc.size(), 37u);
  EvalNetworkAt(im, 1, 12, 13, 36, Coded(12, 13), 1.0, false, 0.0f, pass_);
  for (size_t i = 0; i < 37; ++i) EXPECT_EQ(pass_.X[i], float(100 * disc[i].dx + disc[i].dy)) << i;

  const auto square = SquareLayout();
  ASSERT_EQ(square.size(), 21u);
  EvalNetworkAt(im, 1, 12, 13, 20, Coded(12, 13), 1.0, false, 0.0f, pass_);
  for (size_t i = 0; i < 21; ++i) EXPECT_EQ(pass_.X[i], float(100 * square[i].dx + square[i].dy)) << i;

  // 41 inputs on plane 2: the disc of plane 2, the centre in planes 1..3, plane - 2.
  EvalNetworkAt(im, 2, 12, 13, 40, Coded(12, 13) + 20000, 2.0, false, 0.0f, pass_);
  for (size_t i = 0; i < 37; ++i) EXPECT_EQ(pass_.X[i], float(100 * disc[i].dx + disc[i].dy) / 2) << i;
  EXPECT_EQ(pass_.X[37], -10000.0f);
  EXPECT_EQ(pass_.X[38], 0.0f);
  EXPECT_EQ(pass_.X[39], 10000.0f);
  EXPECT_EQ(pass_.X[40], 0.0f);
  EvalNetworkAt(im, 3, 12, 13, 40, 0.0, 1.0, false, 0.0f, pass_);
  EXPECT_EQ(pass_.X[40], 1.0f);

  // 3 inputs: the centre's three values.
  EvalNetworkAt(im, 1, 4, 5, 2, 0.0, 1.0, false, 0.0f, pass_);
  EXPECT_EQ(pass_.X[0], Coded(4, 5));
  EXPECT_EQ(pass_.X[1], Coded(4, 5) + 20000);
  EXPECT_EQ(pass_.X[2], Coded(4, 5) + 40000);

  // 61 inputs: the disc, then each region's mean offset.
  EvalNetworkAt(im, 1, 14, 15, 60, Coded(14, 15), 1.0, false, 0.0f, pass_);
  for (size_t i = 0; i < 37; ++i) EXPECT_EQ(pass_.X[i], float(100 * disc[i].dx + disc[i].dy)) << i;
  for (int r = 37; r <= 60; ++r) {
    double sum = 0;
    int count = 0;
    for (int dy = -6; dy <= 6; ++dy)
      for (int dx = -6; dx <= 6; ++dx)
        if (Region(dx, dy) == r) {
          sum += 100 * dx + dy;
          ++count;
        }
    ASSERT_GT(count, 0) << r;
    EXPECT_FLOAT_EQ(pass_.X[size_t(r)], float(sum / count)) << r;
  }
}

TEST_F(NetworkInputsTest, RegionTableMatchesTheLayout) {
  for (int dy = -6; dy <= 6; ++dy)
    for (int dx = -6; dx <= 6; ++dx) EXPECT_EQ(RegionAt(dx, dy), Region(dx, dy)) << dx << " " << dy;
  // Every region has pixels, none inside the disc.
  for (const TOffset& o : DiscLayout()) EXPECT_EQ(Region(o.dx, o.dy), 0);
}

// A grey image gives its value three times; outside the image and blank
// pixels keep the fill (0 for the 21-input layout).
TEST_F(NetworkInputsTest, BorderBlanksAndGreyPlanes) {
  MakeGrey(2, 8, 8, [](int x, int y) { return float(100 * x + y); });
  TImageSlot& im = Store.Image[2];
  im.At(1, 1, 0) = BlankPixel;  // offset (1, 0) of the corner pixel
  EvalNetworkAt(im, 1, 0, 0, 40, 0.0, 1.0, false, 7.5f, pass_);
  const auto disc = DiscLayout();
  for (size_t i = 0; i < 37; ++i) {
    const bool inside = disc[i].dx >= 0 && disc[i].dy >= 0 && !(disc[i].dx == 1 && disc[i].dy == 0);
    EXPECT_EQ(pass_.X[i], inside ? float(100 * disc[i].dx + disc[i].dy) : 7.5f) << i;
  }
  EXPECT_EQ(pass_.X[37], 0.0f);
  EXPECT_EQ(pass_.X[38], 0.0f);
  EXPECT_EQ(pass_.X[39], 0.0f);
  EXPECT_EQ(pass_.X[40], -1.0f);
  EvalNetworkAt(im, 1, 0, 0, 20, -1.0, 1.0, false, 7.5f, pass_);
  const auto square = SquareLayout();
  for (size_t i = 0; i < 21; ++i) {
    const bool inside = square[i].dx >= 0 && square[i].dy >= 0 && !(square[i].dx == 1 && square[i].dy == 0);
    EXPECT_EQ(pass_.X[i], inside ? float(100 * square[i].dx + square[i].dy + 1) : 0.0f) << i;
  }
  // A region wholly outside keeps the fill; one partly outside takes the mean
  // of its pixels inside.
  EvalNetworkAt(im, 1, 5, 1, 60, 0.0, 1.0, false, 7.5f, pass_);
  EXPECT_EQ(pass_.X[57], 7.5f);  // dy = -6
  EXPECT_EQ(pass_.X[60], 7.5f);  // dx = 6
  // Region 40 covers (2, 3), (3, 3) and (3, 2): only (7, 4) lies inside.
  EXPECT_FLOAT_EQ(pass_.X[40], float(100 * 7 + 4));
}

// Clipping: the 3 x 3 part sets the limit 1.8 m (diagonals weighted 1.41);
// the outer inputs and the region means deviate no further from the offset.
TEST_F(NetworkInputsTest, ClippingHoldsOuterValues) {
  MakeGrey(3, 21, 21, [](int, int) { return 5.0f; });
  TImageSlot& im = Store.Image[3];
  const int cx = 10, cy = 10;
  im.At(1, cx + 1, cy) = 6.0f;       // direct neighbour: d = 1
  im.At(1, cx - 1, cy - 1) = 4.0f;   // diagonal: 1.41
  im.At(1, cx + 2, cy) = 100.0f;     // input 15: beyond L = 1.8 * 1.41
  im.At(1, cx - 2, cy) = -100.0f;    // input 14
  im.At(1, cx, cy + 3) = 7.0f;       // input 35: within
  for (int dy = -6; dy <= -2; ++dy)  // region 57 all far above
    for (int dx = -2; dx <= 2; ++dx) im.At(1, cx + dx, cy + dy) = 1000.0f;
  const double L = 1.8 * 1.41;
  EvalNetworkAt(im, 1, cx, cy, 60, 5.0, 2.0, true, 0.0f, pass_);
  EXPECT_FLOAT_EQ(pass_.X[5], 0.5f);
  EXPECT_FLOAT_EQ(pass_.X[1], -0.5f);
  EXPECT_FLOAT_EQ(pass_.X[15], float(L / 2));
  EXPECT_FLOAT_EQ(pass_.X[14], float(-L / 2));
  EXPECT_FLOAT_EQ(pass_.X[35], 1.0f);
  EXPECT_FLOAT_EQ(pass_.X[57], float(L / 2));
  EXPECT_FLOAT_EQ(pass_.X[10], float(L / 2));  // (0, -2) is in region 57's rows but part of the disc: 1000 clipped
  // Without clipping the values pass.
  EvalNetworkAt(im, 1, cx, cy, 60, 5.0, 2.0, false, 0.0f, pass_);
  EXPECT_FLOAT_EQ(pass_.X[15], 47.5f);
  EXPECT_FLOAT_EQ(pass_.X[57], 497.5f);
}

}  // namespace
}  // namespace astrelon::test
