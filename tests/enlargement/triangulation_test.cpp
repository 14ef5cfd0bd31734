// The triangulation's values on small images, its cell codes along edges and in
// noise, the vector loops against the scalar ones, the same result on one
// thread and on all cores, and where the edge-directed enlargement may differ
// from it.
#include "filters/enlargement/upscale_x2_triangulation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "../filters/filter_images.h"
#include "filters/enlargement/upscale_x2_nedi.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

namespace astrelon::test {
namespace {

class TriangulationTest : public KernelTest {};

// A noisy image with structure, some blanks and a diagonal edge.
float Textured(int p, int x, int y) {
  const uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(p) * 83492791u;
  if (h % 97 == 0) return BlankPixel;
  return 100.0f * float(p) + 40.0f * std::sin(0.3f * float(x)) + (x > y ? 200.0f : 0.0f) + float(h % 13);
}

TEST_F(TriangulationTest, SmallImagesGiveTheirBlocks) {
  MakeGrey(1, 2, 2, [](int x, int y) { return float(10 * x + 20 * y); });
  MakeResult(1, 2);
  ASSERT_TRUE(UpscaleX2Triangulation(1, 2));
  const std::vector<float> expected = {0, 5, 10, 10, 10, 15, 20, 20, 20, 25, 30, 30, 20, 25, 30, 30};
  EXPECT_EQ(Store.Image[2].Width, 4);
  EXPECT_EQ(Store.Image[2].Height, 4);
  EXPECT_EQ(PlaneValues(2, 1), expected);

  // Uniform images stay uniform under both enlargements, grey and colour.
  for (int planes : {1, 3}) {
    MakeImage(1, 30, 24, planes, [](int p, int, int) { return 7.5f * float(p); });
    for (auto enlarge : {UpscaleX2Triangulation, UpscaleX2Nedi}) {
      MakeResult(1, 2);
      ASSERT_TRUE(enlarge(1, 2, {}));
      for (int p = 1; p <= planes; ++p)
        for (float v : PlaneValues(2, p)) ASSERT_EQ(v, 7.5f * float(p));
    }
  }
}

TEST_F(TriangulationTest, CellCodesFollowEdgesAndIgnoreNoise) {
  // An edge from upper left to lower right: bright above the diagonal.
  const int w = 12, h = 12;
  std::vector<float> edge(size_t(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) edge[size_t(y * w + x)] = x > y ? 100.0f : 0.0f;
  const std::vector<uint8_t> codes = RawCellCodes(edge, w, h, 3.0f, true);
  for (int y = 0; y < h - 1; ++y) {
    EXPECT_EQ(codes[size_t(y * (w - 1) + y)], CellMainDiagonal) << y;  // the cells the edge crosses
    if (y >= 1) {
      EXPECT_EQ(codes[size_t(y * (w - 1) + y - 1)], CellMeanOfFour) << y;  // flat below it
    }
  }
  // Differences within three noise levels choose no diagonal.
  std::vector<float> noise = {0, 1.4f, -1.4f, 0};  // d1 0 >= d2 2.8 - 3
  EXPECT_EQ(RawCellCodes(noise, 2, 2, 3.0f, true), std::vector<uint8_t>{CellMeanOfFour});
  noise = {0, 2.9f, -2.9f, 9};  // d1 9 > d2 5.8 + 3
  EXPECT_EQ(RawCellCodes(noise, 2, 2, 3.0f, true), std::vector<uint8_t>{CellOtherDiagonal});

  // The enlargement of the edge takes its cell centres along it.
  MakeGrey(1, w, h, [&](int x, int y) { return edge[size_t(y * w + x)]; });
  MakeResult(1, 2);
  ASSERT_TRUE(UpscaleX2Triangulation(1, 2));
  for (int y = 1; y < h - 2; ++y) EXPECT_EQ(Store.Image[2].At(1, 2 * y + 1, 2 * y + 1), 0.0f) << y;
}

TEST_F(TriangulationTest, BlanksTakeTheirValidNeighbour) {
  const float B = BlankPixel;
  const std::vector<float> r0 = {B, 4, 8}, r1 = {2, B, B};
  const std::vector<uint8_t> codes = {CellMeanOfFour, CellMainDiagonal};
  std::vector<float> o0(6), o1(6);
  TriangulateEvenRow(r0.data(), 3, o0.data(), false);
  TriangulateOddRow(r0.data(), r1.data(), codes, 3, o1.data(), false);
  EXPECT_EQ(o0, (std::vector<float>{B, 4, 4, 6, 8, 8}));
  // Cell 0: the mean of the valid 4 and 2; cell 1 along the main diagonal
  // between 4 and a blank: 4; the last column uses cell 1 with itself: 8.
  EXPECT_EQ(o1, (std::vector<float>{2, 3, 4, 4, 8, 8}));
  const std::vector<float> blanks = {B, B};
  TriangulateOddRow(blanks.data(), blanks.data(), std::vector<uint8_t>{CellMeanOfFour}, 2, o1.data(), false);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(o1[size_t(i)], B);
}

TEST_F(TriangulationTest, VectorLoopsGiveTheScalarBits) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-50, 50);
  const int w = 77, h = 9;
  std::vector<float> grey(size_t(w * h));
  for (float& v : grey) v = rng() % 11 == 0 ? BlankPixel : u(rng);
  const std::vector<uint8_t> raw = RawCellCodes(grey, w, h, 20.0f, false);
  EXPECT_EQ(RawCellCodes(grey, w, h, 20.0f, true), raw);
  std::vector<uint8_t> a(size_t(w - 1)), b(size_t(w - 1));
  for (int y = 0; y < h - 1; ++y) {
    const uint8_t* mid = raw.data() + y * (w - 1);
    const bool inner = y >= 1 && y <= h - 3;
    SmoothCellCodeRow(inner ? mid - (w - 1) : mid, mid, inner ? mid + (w - 1) : mid, w, inner, a.data(), false);
    SmoothCellCodeRow(inner ? mid - (w - 1) : mid, mid, inner ? mid + (w - 1) : mid, w, inner, b.data(), true);
    EXPECT_EQ(a, b) << y;
    std::vector<float> s0(size_t(2 * w)), s1(s0), v0(s0), v1(s0);
    const float* r0 = grey.data() + y * w;
    TriangulateEvenRow(r0, w, s0.data(), false);
    TriangulateOddRow(r0, r0 + w, a, w, s1.data(), false);
    TriangulateEvenRow(r0, w, v0.data(), true);
    TriangulateOddRow(r0, r0 + w, a, w, v1.data(), true);
    for (size_t i = 0; i < s0.size(); ++i) {
      ASSERT_EQ(std::bit_cast<uint32_t>(s0[i]), std::bit_cast<uint32_t>(v0[i])) << y << " " << i;
      ASSERT_EQ(std::bit_cast<uint32_t>(s1[i]), std::bit_cast<uint32_t>(v1[i])) << y << " " << i;
    }
  }
}

TEST_F(TriangulationTest, OneThreadAndAllCoresAgree) {
  MakeImage(1, 700, 420, 3, Textured);
  Options.Multicore = 0;
  MakeResult(1, 2);
  ASSERT_TRUE(UpscaleX2Triangulation(1, 2));
  Options.Multicore = 1;
  MakeResult(1, 3);
  ASSERT_TRUE(UpscaleX2Triangulation(1, 3));
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Store.Image[2].Planes[size_t(p)], Store.Image[3].Planes[size_t(p)]);
}

TEST_F(TriangulationTest, AbortStopsAndReportsIt) {
  MakeGrey(1, 60, 40, [](int x, int y) { return float(x * y); });
  MakeResult(1, 2);
  AbortRequested = 1;  // cleared at the start
  EXPECT_TRUE(UpscaleX2Triangulation(1, 2));
  MakeResult(1, 2);
  EXPECT_FALSE(UpscaleX2Triangulation(1, 2, [](int) {
    AbortRequested = 1;
    return true;
  }));
  EXPECT_EQ(Store.Image[2].Width, 120);
}

// The edge-directed enlargement differs from the triangulation only at the
// cell centres of source cells 4..W-6 x 4..H-6 and the midpoints of result
// rows and columns 8..2 size - 10; a blank corner keeps the triangulation's
// value, and nothing turns blank or NaN.
TEST_F(TriangulationTest, NediChangesOnlyItsPositions) {
  const int w = 31, h = 26;
  MakeImage(1, w, h, 1, [](int, int x, int y) {
    return (x == 12 && y == 12) ? BlankPixel : Textured(1, x, y) + float((x * x + 3 * y) % 17);
  });
  MakeResult(1, 2);
  ASSERT_TRUE(UpscaleX2Triangulation(1, 2));
  MakeResult(1, 3);
  ASSERT_TRUE(UpscaleX2Nedi(1, 3));
  const TImageSlot& t = Store.Image[2];
  const TImageSlot& n = Store.Image[3];
  int changed = 0;
  for (int Y = 0; Y < 2 * h; ++Y)
    for (int X = 0; X < 2 * w; ++X) {
      const float a = t.At(1, X, Y), b = n.At(1, X, Y);
      const bool centre = X % 2 == 1 && Y % 2 == 1 && X / 2 >= 4 && X / 2 <= w - 6 && Y / 2 >= 4 && Y / 2 <= h - 6;
      const bool midpoint = (X + Y) % 2 == 1 && X >= 8 && X <= 2 * w - 10 && Y >= 8 && Y <= 2 * h - 10;
      if (!centre && !midpoint) {
        ASSERT_EQ(std::bit_cast<uint32_t>(a), std::bit_cast<uint32_t>(b)) << X << " " << Y;
      }
      if (a != b) ++changed;
      ASSERT_EQ(IsValidPixel(a), IsValidPixel(b)) << X << " " << Y;
      ASSERT_FALSE(std::isnan(b));
    }
  EXPECT_GT(changed, 100);
  // The cells with the blank corner (11..12 x 11..12) keep their centres.
  for (int cy = 11; cy <= 12; ++cy)
    for (int cx = 11; cx <= 12; ++cx) EXPECT_EQ(n.At(1, 2 * cx + 1, 2 * cy + 1), t.At(1, 2 * cx + 1, 2 * cy + 1));
}

}  // namespace
}  // namespace astrelon::test
