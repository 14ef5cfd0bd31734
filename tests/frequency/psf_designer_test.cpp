// The PSF designer: slider mappings, shapes, the line, combining, brushes, the
// magnified view and the grid to and from images.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "core/settings.h"
#include "frequency/deconvolution/deconvolution_sliders.h"
#include "frequency/deconvolution/psf_brushes.h"
#include "frequency/deconvolution/psf_designer.h"
#include "frequency/deconvolution/psf_images.h"
#include "frequency/deconvolution/psf_shapes.h"
#include "frequency/deconvolution/psf_view.h"
#include "spectrum_fixture.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

using test::StoreTest;

TEST(PsfSliders, PositionsGiveTheValuesAndTextsOfTheFields) {
  struct Case {
    std::string text, expected;
  };
  for (const Case& c : {
           Case{DeconvolutionNoiseText(DeconvolutionNoise(23)), "1.00"},
           Case{DeconvolutionNoiseText(DeconvolutionNoise(45)), "0.00"},
           Case{DeconvolutionNoiseText(DeconvolutionNoise(0)), "4.18"},
           Case{PsfRadiusText(PsfRadiusOfPosition(9)), "1.5"},
           Case{PsfRadiusText(PsfRadiusOfPosition(15)), "3.3"},
           Case{PsfRadiusText(PsfRadiusOfPosition(0)), "0.5"},
           Case{PsfAspectText(PsfAspectOfPosition(16)), "1.00"},
           Case{PsfAspectText(PsfAspectOfPosition(21)), "2.00"},
           Case{PsfAspectText(PsfAspectOfPosition(11)), "0.50"},
           Case{PsfAspectText(PsfAspectOfPosition(32)), "11.2"},
           Case{PsfWeightText(PsfWeightOfPosition(45)), "0.00"},
           Case{PsfWeightText(PsfWeightOfPosition(0)), "1.00"},
           Case{PsfWeightText(PsfWeightOfPosition(30)), "0.33"},
       })
    EXPECT_EQ(c.text, c.expected);
  EXPECT_EQ(DeconvolutionNoise(45), 0.0);
}

// The shapes' sums written out once more, cell by cell.
double Sub(int32_t c, int j) { return (4.0 * c + j) * 0.25 - 31.375; }
double GaussCell(int32_t x, int32_t y, double R, double q) {
  double sum = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      const double dx = Sub(x, j), dy = Sub(y, i) / q;
      sum += 10.0 * std::exp(-(dx * dx + dy * dy) / (R * R));
    }
  return sum;
}

TEST(PsfShapes, GaussConeBlendDiscAndRingFollowTheirSums) {
  TPsfGrid gauss{}, cone{}, blend{};
  ASSERT_TRUE(BuildPsfShape(10, 2.5, 1.5, gauss));
  ASSERT_TRUE(BuildPsfShape(0, 2.5, 1.5, cone));
  ASSERT_TRUE(BuildPsfShape(5, 2.5, 1.5, blend));
  for (const auto& [x, y] : {std::pair{31, 31}, {33, 30}, {29, 35}, {0, 63}})
    EXPECT_NEAR(gauss[PsfCell(x, y)], GaussCell(x, y, 2.5, 1.5), 1e-3) << x << "," << y;
  EXPECT_GT(cone[PsfCell(31, 31)], 230.0f);  // near 16 × 16 at the tip
  EXPECT_LT(cone[PsfCell(31, 31)], 256.0f);
  EXPECT_EQ(cone[PsfCell(40, 31)], 0.0f);  // d/2 beyond R
  for (size_t i = 0; i < blend.size(); ++i) EXPECT_NEAR(blend[i], 0.5 * cone[i] + 0.5 * gauss[i], 1e-3);

  TPsfGrid disc{}, ring{};
  ASSERT_TRUE(BuildPsfShape(20, 10.0, 1.0, disc));
  EXPECT_EQ(disc[PsfCell(31, 31)], 256.0f);
  EXPECT_EQ(disc[PsfCell(36, 34)], 256.0f);
  EXPECT_EQ(disc[PsfCell(0, 0)], 0.0f);
  ASSERT_TRUE(BuildPsfShape(30, 10.0, 1.0, ring));
  EXPECT_EQ(ring[PsfCell(31, 31)], 0.0f);
  EXPECT_GT(ring[PsfCell(41, 31)], 0.0f);
  EXPECT_GT(ring[PsfCell(31, 21)], 0.0f);
  EXPECT_EQ(ring[PsfCell(46, 31)], 0.0f);
}

TEST(PsfShapes, OutOfLimitsLeavesTheGridAsItWas) {
  TPsfGrid grid{};
  grid.fill(7.0f);
  const TPsfGrid before = grid;
  for (const auto& [position, R, q] : {std::tuple{10, 0.002, 1.0}, {10, 500.0, 1.0}, {10, 1.5, 0.001},
                                       {10, 1.5, 600.0}, {50, 1.5, 1.0}, {-1, 1.5, 1.0}, {10, NAN, 1.0}}) {
    EXPECT_FALSE(BuildPsfShape(position, R, q, grid)) << position << " " << R << " " << q;
    EXPECT_EQ(grid, before);
  }
}

// Row and column extent (second moments) of a grid's values.
std::pair<double, double> Spread(const TPsfGrid& g) {
  double sum = 0, sx = 0, sy = 0, sxx = 0, syy = 0;
  for (int32_t x = 0; x < 64; ++x)
    for (int32_t y = 0; y < 64; ++y) {
      const double v = g[PsfCell(x, y)];
      sum += v, sx += v * x, sy += v * y, sxx += v * x * x, syy += v * y * y;
    }
  const double mx = sx / sum, my = sy / sum;
  return {std::sqrt(sxx / sum - mx * mx), std::sqrt(syy / sum - my * my)};
}

TEST(PsfShapes, AspectStretchesTheVerticalAxis) {
  TPsfGrid g{};
  ASSERT_TRUE(BuildPsfShape(10, 3.0, PsfAspectOfPosition(21), g));
  const auto [sx, sy] = Spread(g);
  EXPECT_NEAR(sy / sx, 2.0, 0.02);
}

TEST(PsfShapes, LineLiesAtItsAngleAndStaysInsideTheGrid) {
  TPsfGrid vertical{}, horizontal{};
  ASSERT_TRUE(BuildPsfShape(40, 5.0, 1.0, vertical));  // x = 4.0
  ASSERT_TRUE(BuildPsfShape(31, 5.0, 1.0, horizontal));  // x = 3.1
  for (int32_t x = 0; x < 64; ++x)
    for (int32_t y = 0; y < 64; ++y) {
      if (x != 31) EXPECT_EQ(vertical[PsfCell(x, y)], 0.0f) << x << "," << y;
      if (y != 31) EXPECT_EQ(horizontal[PsfCell(x, y)], 0.0f) << x << "," << y;
    }
  // Ten pixels long: two samples of 127.5 per cell, 21 samples in all.
  EXPECT_EQ(vertical[PsfCell(31, 30)], 255.0f);
  EXPECT_EQ(horizontal[PsfCell(33, 31)], 255.0f);
  EXPECT_FLOAT_EQ(std::accumulate(vertical.begin(), vertical.end(), 0.0f), 21 * 127.5f);
  EXPECT_FLOAT_EQ(std::accumulate(horizontal.begin(), horizontal.end(), 0.0f), 21 * 127.5f);

  // A tall aspect turns a diagonal line towards the vertical.
  TPsfGrid tall{};
  ASSERT_TRUE(BuildPsfShape(35, 8.0, 3.0, tall));
  const auto [sx, sy] = Spread(tall);
  EXPECT_GT(sy, 2.0 * sx);

  // The longest line at every angle: only cells of the grid, each sample fully counted or clipped.
  for (int32_t position = 31; position < PsfShapePositions; ++position) {
    TPsfGrid g{};
    ASSERT_TRUE(BuildPsfShape(position, 499.0, 1.0, g));
    const float total = std::accumulate(g.begin(), g.end(), 0.0f);
    EXPECT_GT(total, 60 * 127.5f) << position;
    EXPECT_LE(total, 128 * 127.5f) << position;
    for (float v : g) EXPECT_TRUE(std::isfinite(v) && v >= 0);
  }
}

TEST(PsfDesignerGrids, WeightAndLinkCombineTheComponents) {
  TPsfDesigner d;
  ASSERT_TRUE(BuildDesignerPsf(d, 1, 10, 2.0, 1.0));
  ASSERT_TRUE(BuildDesignerPsf(d, 2, 20, 4.0, 1.0));
  EXPECT_FALSE(BuildDesignerPsf(d, 3, 20, 4.0, 1.0));
  d.Psf2Weight = 0;
  CombineDesignerPsf(d);
  EXPECT_EQ(d.DesignedPsf, d.Psf1Grid);
  d.Psf2Weight = 0.25;
  const size_t c = PsfCell(31, 31), e = PsfCell(34, 31);
  struct Case {
    TPsfLink link;
    double (*expect)(double, double);
  };
  for (const Case& k : {Case{TPsfLink::Add, [](double a, double b) { return a + 0.25 * b; }},
                        Case{TPsfLink::Subtract, [](double a, double b) { return a - 0.25 * b; }},
                        Case{TPsfLink::Multiply, [](double a, double b) { return a * 0.75 + a * b * 0.25 / 255; }}}) {
    d.Link = k.link;
    CombineDesignerPsf(d);
    for (size_t i : {c, e}) EXPECT_NEAR(d.DesignedPsf[i], k.expect(d.Psf1Grid[i], d.Psf2Grid[i]), 1e-3);
  }
  EXPECT_TRUE(PsfGridHasValues(d.DesignedPsf));
  EXPECT_FALSE(PsfGridHasValues(TPsfGrid{}));
}

TEST(PsfBrushes, DrawSmoothAndDecrease) {
  TPsfGrid g{};
  ApplyPsfBrush(g, TPsfBrush::Draw, 10, 12, 3, true);
  EXPECT_EQ(g[PsfCell(10, 12)], 255.0f);
  EXPECT_EQ(std::accumulate(g.begin(), g.end(), 0.0f), 255.0f);

  // Smoothing a single bright cell with radius 0: half of it and half of its weighted mean.
  const double weights = 1.7 + 4 * 0.7 + 4 * (1.7 - std::sqrt(2.0));
  TPsfGrid s = g;
  ApplyPsfBrush(s, TPsfBrush::Smooth, 10, 12, 0, true);
  EXPECT_NEAR(s[PsfCell(10, 12)], 0.5 * 255 + 0.5 * 1.7 * 255 / weights, 1e-3);
  EXPECT_EQ(s[PsfCell(11, 12)], 0.0f);  // outside the radius
  // Radius 1 reaches the neighbours: d = 1 takes 1.5 of itself and −0.5 of its mean (an affine mix).
  TPsfGrid s1 = g;
  ApplyPsfBrush(s1, TPsfBrush::Smooth, 10, 12, 1, true);
  EXPECT_NEAR(s1[PsfCell(11, 12)], (0.0 * 1.5 + (0.7 * 255 / weights) * 0.5) / 2, 1e-3);
  // At a corner only the cells inside the grid are weighed.
  TPsfGrid corner{};
  corner[PsfCell(0, 0)] = 100;
  ApplyPsfBrush(corner, TPsfBrush::Smooth, 0, 0, 0, true);
  EXPECT_NEAR(corner[PsfCell(0, 0)], 50 + 50 * 1.7 / (1.7 + 2 * 0.7 + (1.7 - std::sqrt(2.0))), 1e-3);

  TPsfGrid w{};
  w.fill(10.0f);
  ApplyPsfBrush(w, TPsfBrush::Decrease, 5, 5, 0, true);
  EXPECT_EQ(w[PsfCell(5, 5)], 0.0f);  // 10 − 15 clamped
  w.fill(10.0f);
  ApplyPsfBrush(w, TPsfBrush::Decrease, 5, 5, 0, false);
  EXPECT_EQ(w[PsfCell(5, 5)], -5.0f);
  w.fill(10.0f);
  ApplyPsfBrush(w, TPsfBrush::Decrease, 20, 20, 3, false);
  EXPECT_EQ(w[PsfCell(20, 20)], -5.0f);
  EXPECT_NEAR(w[PsfCell(22, 20)], 10 - 1.5 * 15 / 3.5, 1e-4);
  EXPECT_EQ(w[PsfCell(23, 22)], 10.0f);  // d = 3.6: the rim never gains
  EXPECT_EQ(w[PsfCell(24, 20)], 10.0f);  // d = 4: outside
  // Cells beyond the grid change nothing.
  TPsfGrid edge{};
  ApplyPsfBrush(edge, TPsfBrush::Draw, 64, 3, 3, true);
  ApplyPsfBrush(edge, TPsfBrush::Smooth, 63, 63, 3, true);
  ApplyPsfBrush(edge, TPsfBrush::Decrease, 0, 63, 3, false);
  EXPECT_LT(edge[PsfCell(0, 63)], 0.0f);
  EXPECT_EQ(PsfBrushRadius(1), 3);
  EXPECT_EQ(PsfBrushRadius(2), 1);
  EXPECT_EQ(PsfBrushRadius(4), 0);
}

TEST(PsfView, ZoomWindowsAndGreyLevels) {
  EXPECT_EQ(PsfViewWindow(1, 70, 70).Left, 0);
  const TPsfViewWindow w2 = PsfViewWindow(2, 100, 50), w4 = PsfViewWindow(4, 100, 100);
  EXPECT_EQ(w2.Left, 32);
  EXPECT_EQ(w2.Top, 16);
  EXPECT_EQ(w4.Left, 48);
  EXPECT_EQ(*PsfViewCell(w4, 63, 63), std::pair(63, 63));
  EXPECT_EQ(*PsfViewCell(w2, 3, 5), std::pair(33, 18));
  EXPECT_FALSE(PsfViewCell(w2, 64, 0).has_value());

  TPsfGrid g{};
  g[PsfCell(33, 18)] = 100;
  g[PsfCell(40, 40)] = -50;
  const auto picture = PsfViewPicture(g, w2);
  // min −50, max 100: 0 → 85, 100 → 255, the cell drawn as 2 × 2 pixels.
  EXPECT_EQ(picture[5 * 64 + 3], 255);
  EXPECT_EQ(picture[4 * 64 + 2], 255);
  EXPECT_EQ(picture[0], 85);
  EXPECT_EQ(picture[(40 - 16) * 2 * 64 + (40 - 32) * 2], 0);
  // A flat grid of small values: min from 255 down, max from 0 up, range at least 1.
  TPsfGrid flat{};
  flat.fill(0.25f);
  EXPECT_EQ(PsfViewPicture(flat, PsfViewWindow(1, 0, 0))[100], 0);
}

class PsfImages : public StoreTest {};

TEST_F(PsfImages, GridFromTheImageCentreAndBack) {
  const TProgramOptions saved = Options;
  // 10 × 8: centre (4, 3) goes to cell 31; border 1, inside 1 + x, one blank pixel.
  test::MakeImage(1, 10, 8, 1, [](int x, int y, int) {
    return x == 0 || y == 0 || x == 9 || y == 7 ? 1.0f : 1.0f + float(x);
  });
  Store.Image[1].At(1, 5, 3) = BlankPixel;
  UpdateMinMax(1);
  TPsfGrid g{};
  g.fill(9.0f);
  Options.PsfScale = 1;
  ASSERT_TRUE(PsfGridFromImage(1, g));
  const double scale = 255.0 / 9.0;  // the maximum 1 + 8
  EXPECT_NEAR(g[PsfCell(31, 31)], (5 - 1) * scale, 1e-3);
  EXPECT_EQ(g[PsfCell(32, 31)], 0.0f);  // blank
  EXPECT_NEAR(g[PsfCell(27, 28)], 0.0, 1e-6);  // the border less its median
  EXPECT_EQ(g[PsfCell(26, 31)], 0.0f);  // beyond the image
  EXPECT_EQ(g[PsfCell(63, 63)], 0.0f);
  Options.PsfScale = 0;
  ASSERT_TRUE(PsfGridFromImage(1, g));
  EXPECT_NEAR(g[PsfCell(31, 31)], 5 * scale, 1e-3);
  const TPsfGrid kept = g;
  EXPECT_FALSE(PsfGridFromImage(7, g));
  EXPECT_EQ(g, kept);
  Options = saved;

  // A PSF twice as tall as wide becomes an image of 64 × 64 with the same orientation.
  TPsfGrid tall{};
  ASSERT_TRUE(BuildPsfShape(10, 3.0, 2.0, tall));
  const int slot = PsfGridToNewSlot(tall, "PSF_0.fit");
  ASSERT_GE(slot, 1);
  const TImageSlot& im = Store.Image[size_t(slot)];
  EXPECT_EQ(im.Width, 64);
  EXPECT_EQ(im.Height, 64);
  EXPECT_EQ(im.PlaneCount, 1);
  EXPECT_EQ(Store.FileName[size_t(slot)], "PSF_0.fit");
  EXPECT_EQ(im.At(1, 31, 36), tall[PsfCell(31, 36)]);
  EXPECT_GT(im.At(1, 31, 36), 2 * im.At(1, 36, 31));  // five rows down is brighter than five columns across
}

}  // namespace
}  // namespace astrelon
