// Statistics of a rectangle, their text, and the layout of the info window's text.
#include "shell/statistics/region_statistics.h"

#include <cmath>
#include <cstring>
#include <random>

#include "../pixelops/slot_images.h"
#include "../planes/simd_paths.h"
#include "core/language.h"
#include "shell/main/info_text_layout.h"
#include "test_support.h"

namespace astrelon {
namespace {

class RegionStatisticsTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    UnloadLanguageFile();
  }
};

TEST_F(RegionStatisticsTest, TextOfTheWholeImage) {
  test::MakeImage(1, 2, 2, {{1, 2, 3, 4}}, "/data/a.fit");
  SetWorkRectToImage(1);
  EXPECT_EQ(RegionStatisticsText(1),
            "a.fit\r\n\r\n"
            "Mittelwert\t: 2.5\r\n"
            "Varianz\t: 1.25\r\n"
            "Std.Abweichung\t: 1.118034\r\n"
            "Minimum\t: 1   @ 0,0\r\n"
            "Maximum\t: 4   @ 1,1\r\n"
            "Pixelanzahl\t: 4");
}

TEST_F(RegionStatisticsTest, TextOfARectangleOfAColourImage) {
  // Red has one valid pixel in the rectangle (no block), green is flat, blue has
  // ties (the first position in row order counts).
  const float b = BlankPixel;
  test::MakeImage(2, 3, 2, {{9, b, b, 9, b, 5}, {0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f}, {0, 7, 7, 1, 1, 7}},
                  "/x/y/m42.fits");
  SetWorkRect({1, 0, 2, 1});
  const std::string text = RegionStatisticsText(2);
  EXPECT_EQ(text.substr(0, text.find("Minimum")),
            "m42.fits\r\n[X1: 1, X2: 2, Y1: 0, Y2: 1]\r\n\r\n"
            "Grün:\r\nMittelwert\t: 0.1\r\nVarianz\t: 0\r\nStd.Abweichung\t: 0\r\n");
  EXPECT_NE(text.find("Pixelanzahl\t: 4\r\n\nBlau:\r\n"), std::string::npos);
  EXPECT_NE(text.find("Minimum\t: 1   @ 1,1\r\nMaximum\t: 7   @ 1,0\r\n"), std::string::npos);
  EXPECT_EQ(text.find("Rot"), std::string::npos);
  Store.Image[2].ColorModel = CmYuv;
  EXPECT_NE(RegionStatisticsText(2).find("U:\r\n"), std::string::npos);
}

TEST_F(RegionStatisticsTest, AFlatRegionHasNoNegativeVariance) {
  // 37 values 123.456 in a column: the double sums leave sum of squares / n a
  // little below the squared mean.
  test::MakeImage(4, 1, 37, {std::vector<float>(37, 123.456f)});
  TRectStatistics s;
  ComputeRectStatistics(4, {0, 0, 0, 36}, s);
  EXPECT_EQ(s.Plane[0].Variance, 0.0);
  SetWorkRectToImage(4);
  EXPECT_NE(RegionStatisticsText(4).find("Varianz\t: 0\r\nStd.Abweichung\t: 0\r\n"), std::string::npos);
}

TEST_F(RegionStatisticsTest, FiguresDoNotDependOnPathOrThreads) {
  // 333 columns leave a tail after every block of 16; blanks, NaN and equal
  // extremes in several rows.
  constexpr int W = 333, H = 301;
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-50, 5000);
  std::vector<std::vector<float>> planes(3, std::vector<float>(W * H));
  for (auto& p : planes)
    for (float& v : p) v = rng() % 50 == 0 ? BlankPixel : (rng() % 997 == 0 ? NAN : u(rng));
  planes[1][W * 7 + 40] = planes[1][W * 200 + 3] = -60;
  planes[1][W * 9 + 300] = 6000;
  test::MakeImage(3, W, H, planes);
  const TRectI rect{-4, 2, W + 10, H - 3};

  TRectStatistics reference;
  {
    test::PathGuard scalar(test::TPath::Scalar);
    test::MulticoreGuard one(false);
    ComputeRectStatistics(3, rect, reference, false);
  }
  const TPlaneStatistics& g = reference.Plane[1];
  EXPECT_EQ(g.Min, -60.0f);
  EXPECT_EQ((std::array<int, 2>{g.MinPos.X, g.MinPos.Y}), (std::array<int, 2>{40, 7}));
  EXPECT_EQ((std::array<int, 2>{g.MaxPos.X, g.MaxPos.Y}), (std::array<int, 2>{300, 9}));
  // Against a plain double loop.
  double sum = 0, squares = 0;
  int64_t n = 0;
  for (int y = 2; y <= H - 3; ++y)
    for (int x = 0; x < W; ++x)
      if (const float v = planes[0][size_t(y * W + x)]; IsValidPixel(v)) {
        sum += v;
        squares += double(v) * v;
        ++n;
      }
  EXPECT_EQ(reference.Plane[0].Count, n);
  EXPECT_NEAR(reference.Plane[0].Mean, sum / double(n), 1e-9);
  EXPECT_NEAR(reference.Plane[0].Variance, squares / double(n) - (sum / double(n)) * (sum / double(n)), 1e-3);

  for (test::TPath path : test::AvailablePaths())
    for (bool multi : {false, true}) {
      test::PathGuard guard(path);
      test::MulticoreGuard cores(multi);
      TRectStatistics s;
      ComputeRectStatistics(3, rect, s, guard.Vector());
      for (int p = 0; p < 3; ++p)
        EXPECT_EQ(std::memcmp(&s.Plane[size_t(p)], &reference.Plane[size_t(p)], sizeof(TPlaneStatistics)), 0)
            << test::PathName(path) << " multicore " << multi << " plane " << p + 1;
    }
}

TEST(InfoTextLayout, LinesAndAlignedColumns) {
  EXPECT_EQ(InfoTextLines("a.fit\r\n\r\nMittelwert\t: 1\r\n\nX\r\nStd.Abweichung\t: 2"),
            (std::vector<std::string>{" a.fit", " ", " Mittelwert\t: 1", " ", " X", " Std.Abweichung\t: 2"}));
  EXPECT_TRUE(InfoTextLines("x").empty());  // a rest of one character is no line
  std::vector<std::string> lines{" head", " Mittelwert\t: 1", " Std.Abweichung\t: 2.5", " Größe\t: 3"};
  EXPECT_EQ(AlignFirstTabs(lines, 1), 2u);
  EXPECT_EQ(lines,
            (std::vector<std::string>{" head", " Mittelwert     : 1", " Std.Abweichung : 2.5", " Größe          : 3"}));
}

}  // namespace
}  // namespace astrelon
