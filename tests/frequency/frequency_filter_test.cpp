// The frequency filter behind the dialog: its spectra, "Berechnen" in 1D and
// 2D, the equaliser and the edits drawn on the graph.
#include <cmath>
#include <limits>
#include <numbers>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "frequency/filter/filter_drawing.h"
#include "frequency/filter/filter_equaliser.h"
#include "frequency/filter/frequency_filter.h"
#include "frequency/filter/radial_spectrum.h"
#include "spectrum_fixture.h"

namespace astrelon {
namespace {

using test::MakeImage;

class FrequencyFilter : public test::StoreTest {};

constexpr double Pi = std::numbers::pi;

float Wave(int x, int period, double amplitude) { return float(amplitude * std::sin(2 * Pi * x / period)); }

// A 1D filter on slot 1 into slot 2 (a copy) with curve bins set to `value`.
void Filter1D(const std::vector<std::pair<int, double>>& bins, const TRowFilterOptions& options) {
  ASSERT_TRUE(CopyImageSlot(1, 2));
  TFrequencyFilter filter;
  filter.TwoD = false;
  ASSERT_TRUE(filter.ComputeFilterSpectrum(1, SelectedChannels(1), options.OmitBright));
  for (auto [k, v] : bins) filter.Curves.C[size_t(k)] = v;
  ASSERT_TRUE(filter.Apply(1, 2, SelectedChannels(1), options));
}

TEST_F(FrequencyFilter, MeanRowSpectrumHoldsTheRowsAmplitudes) {
  MakeImage(1, 64, 8, 1, [](int x, int, int) { return 100.0f + Wave(5 * x, 64, 10); });
  const std::vector<double> S = MeanRowSpectrum(1, SelectedChannels(1), false);
  ASSERT_EQ(S.size(), 33u);
  EXPECT_NEAR(S[0], 6400.0, 1e-6 * 6400);
  EXPECT_NEAR(S[5], 320.0, 1e-6 * 320);
  EXPECT_NEAR(S[6], 0.0, 1e-3);
  EXPECT_EQ(RowBinCount(100), 65);
}

// A sinusoid at bin 5 goes where the curve is 0, one at bin 9 stays; the same
// in the additive mode.
TEST_F(FrequencyFilter, RowFilterRemovesTheBinsSetToZero) {
  MakeImage(1, 64, 6, 1, [](int x, int, int) { return 100.0f + Wave(5 * x, 64, 10) + Wave(9 * x, 64, 4); });
  for (const bool additive : {false, true}) {
    Filter1D({{5, 0.0}}, {.Additive = additive});
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 64; ++x) ASSERT_NEAR(Store.Image[2].At(1, x, y), 100.0f + Wave(9 * x, 64, 4), 1e-4) << x;
    FreeSlot(2);
  }
}

// With "Helle Bereiche auslassen" a low pass keeps a star's peak; without, the
// peak is spread. Blank pixels stay blank.
TEST_F(FrequencyFilter, BrightPixelsCanBeLeftOut) {
  MakeImage(1, 64, 4, 1, [](int x, int y, int) {
    if (y == 3 && x == 7) return BlankPixel;
    return x == 30 ? 5000.0f : 100.0f + Wave(20 * x, 64, 3);
  });
  std::vector<std::pair<int, double>> lowPass;
  for (int k = 16; k <= 32; ++k) lowPass.push_back({k, 0.0});
  Filter1D(lowPass, {.OmitBright = true});
  EXPECT_NEAR(Store.Image[2].At(1, 30, 0), 5000.0f, 10.0f);
  EXPECT_NEAR(Store.Image[2].At(1, 50, 0), 100.0f, 3.5f);
  EXPECT_EQ(Store.Image[2].At(1, 7, 3), BlankPixel);
  FreeSlot(2);
  Filter1D(lowPass, {});
  EXPECT_LT(Store.Image[2].At(1, 30, 0), 3000.0f);
  EXPECT_EQ(Store.Image[2].At(1, 7, 3), BlankPixel);
}

// "Hor.+Vert." filters the columns too: column bin k takes curve bin k·N/N'
// (here 2k: 64 columns, 32 rows).
TEST_F(FrequencyFilter, RowsThenColumns) {
  MakeImage(1, 64, 32, 1, [](int, int y, int) { return 100.0f + Wave(3 * y, 32, 10); });
  TFilterCurves curves;
  curves.S.assign(33, 1.0);
  for (const auto& [bin, columns, wave] : {std::tuple{6, false, 10.0}, {6, true, 0.0}, {3, true, 10.0}}) {
    ASSERT_TRUE(CopyImageSlot(1, 2));
    curves.C = curves.S;
    curves.C[size_t(bin)] = 0.0;
    FilterRows1D(1, 2, SelectedChannels(1), curves, {.Columns = columns});
    for (int y = 0; y < 32; ++y)
      ASSERT_NEAR(Store.Image[2].At(1, 5, y), 100.0f + Wave(3 * y, 32, wave), 1e-3) << bin << " " << columns << " " << y;
    FreeSlot(2);
  }
}

TEST_F(FrequencyFilter, RowFilterIsTheSameOnEveryPathAndWorkerCount) {
  MakeImage(1, 300, 201, 3, test::Sky);
  Store.Image[1].At(2, 10, 10) = BlankPixel;
  Store.Display[1].ChannelSelection = 0;
  std::vector<std::vector<float>> results;
  for (const bool vector : {false, true})
    for (const bool multicore : {false, true}) {
      test::PathAndThreads scope(vector, multicore);
      Filter1D({{3, 0.0}, {40, 2.0}}, {.OmitBright = true, .Columns = true});
      results.push_back(test::PlaneOf(2, 2));
      FreeSlot(2);
    }
  for (size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i], results[0]) << i;
}

// 2D: K = max(W, H)/2 of the spectrum, S[0] the image's mean; C = S gives the
// image back away from its blended edges, and only on the listed planes.
TEST_F(FrequencyFilter, RadialSpectrumAndItsUneditedResponse) {
  MakeImage(1, 50, 40, 3, test::Sky);
  TFrequencyFilter filter;
  filter.Outer = 0;
  ASSERT_TRUE(filter.ComputeFilterSpectrum(1, TPlaneList{{1, 0, 0}, 1}, false));
  const TImageSlot& sp = Store.Image[size_t(filter.SpectrumSlot())];
  ASSERT_EQ(filter.Curves.K(), RadialBinCount(sp.Width, sp.Height));
  EXPECT_EQ(filter.Curves.K(), 26);
  EXPECT_NEAR(filter.Curves.S[0], GetPlaneMean(1, 1), 0.5);  // the mean of the edge-blended image
  ASSERT_TRUE(CopyImageSlot(1, 5));
  Store.Image[5].Planes[2].assign(Store.Image[5].Planes[2].size(), 7.0f);
  ASSERT_TRUE(filter.Apply(1, 5, TPlaneList{{1, 0, 0}, 1}, {}));
  for (int y = 2; y < 38; ++y)
    for (int x = 2; x < 48; ++x) ASSERT_NEAR(Store.Image[5].At(1, x, y), Store.Image[1].At(1, x, y), 2e-3) << x;
  EXPECT_EQ(Store.Image[5].At(2, 20, 20), 7.0f);
}

// Bins without a spectrum mean take the response as their real part.
TEST_F(FrequencyFilter, RadialResponseSetsOrScalesBins) {
  MakeImage(1, 10, 8, 1, [](int x, int, int) { return float(x + 1); });
  TRadialResponse r;
  r.Gain = {2.0, 3.0, 4.0, 5.0, 6.0};
  r.SetValue = {std::numeric_limits<double>::quiet_NaN(), 0.25, std::numeric_limits<double>::quiet_NaN(),
                std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
  ApplyRadialResponse(1, TPlaneList{{1, 0, 0}, 1}, r);
  EXPECT_EQ(Store.Image[1].At(1, 0, 4), 2.0f);   // radius 0: 1 · 2
  EXPECT_EQ(Store.Image[1].At(1, 5, 4), 12.0f);  // its imaginary part: 6 · 2
  EXPECT_EQ(Store.Image[1].At(1, 1, 4), 0.25f);  // radius 1: set to (0.25, 0)
  EXPECT_EQ(Store.Image[1].At(1, 6, 4), 0.0f);
  EXPECT_EQ(RadialBin(1, 4, 10, 8, 5), 1);
}

TEST_F(FrequencyFilter, EqualiserFactors) {
  // x = 1 at bin (K − 1)·f0 = 20 of 41.
  struct Case {
    TEqualiserPass pass;
    double value, quality, atCentre, atZero;
  };
  for (const Case c : {Case{TEqualiserPass::Band, -4.0, 2.0, 1.0 / std::pow(10.0, 0.2), 1.0},
                       Case{TEqualiserPass::Band, 6.0, 2.0, std::pow(10.0, 0.3), 1.0},
                       Case{TEqualiserPass::Low, 20.0, 0.7, 0.7, 1.0},
                       Case{TEqualiserPass::InverseLow, 20.0, 0.7, 1.0 / 0.7, 1.0}}) {
    const TEqualiser eq{c.pass, 0.5, c.value, c.quality};
    EXPECT_NEAR(EqualiserFactor(eq, 20, 41), c.atCentre, 1e-12) << int(c.pass) << " " << c.value;
    EXPECT_NEAR(EqualiserFactor(eq, 0, 41), c.atZero, 1e-12);
  }
  std::vector<double> base(41, 2.0), out(41);
  EqualiseCurve(base, out, {TEqualiserPass::Low, 0.5, 20.0, 0.7});
  EXPECT_NEAR(out[20], 1.4, 1e-12);
  EXPECT_EQ(EqualiserDefaults(TEqualiserPass::Band).Value, std::string("-4.0"));
  EXPECT_EQ(EqualiserDefaults(TEqualiserPass::InverseLow).Quality, std::string("0.70"));
  EXPECT_NEAR(EqualiserFactor({TEqualiserPass::Band, 0.0, -4.0, 0.0}, 5, 1), EqualiserFactor({TEqualiserPass::Band, 0.01, -4.0, 0.01}, 5, 2), 1e-12);
}

TEST_F(FrequencyFilter, GraphScaleAndGrid) {
  for (const int f : {1, 2}) {
    const TGraphScale g{306, f, 50.0};
    EXPECT_EQ(g.PlotY(50.0), 3);
    EXPECT_EQ(g.PlotY(5.0), 3 + 50 / f);  // one decade: 20 dB
    EXPECT_NEAR(g.ValueOfLevel(g.LevelAt(g.PlotY(0.5))), 0.5, 0.5 * 0.1);
    const TGraphGrid grid = GraphGrid(g, 500);
    EXPECT_EQ(grid.YLabel[0], "0 dB");
    EXPECT_EQ(grid.YLabel[5], f == 1 ? "-100 dB" : "-200 dB");
    EXPECT_EQ(grid.Y[0], 3);
    EXPECT_EQ(grid.Y[1], 53);
    EXPECT_EQ(grid.XLabel[0], "0.1");
    EXPECT_EQ(grid.XLabel[8], "0.9");
    EXPECT_EQ(grid.X[4], 250);
  }
}

// A drawn line sets the bins under it; with the shape kept it meets the drawn
// levels at its ends and follows the base between.
TEST_F(FrequencyFilter, DrawnLinesAndTheBrush) {
  const TGraphScale g{306, 1, 100.0};  // 50 pixels per decade
  std::vector<double> base(50, 100.0);
  base[15] = 1000.0;
  std::vector<double> curve = base;
  DrawCurveLine(curve, base, g, 1.0, 20, 53, 10, 53, false);  // from right to left, 20 dB down
  for (int b = 10; b <= 20; ++b) EXPECT_NEAR(curve[size_t(b)], 10.0, 1e-9) << b;
  EXPECT_EQ(curve[9], 100.0);
  EXPECT_EQ(curve[21], 100.0);
  curve = base;
  DrawCurveLine(curve, base, g, 1.0, 10, 53, 20, 53, true);
  EXPECT_NEAR(curve[10], 10.0, 1e-9);
  EXPECT_NEAR(curve[20], 10.0, 1e-9);
  EXPECT_NEAR(curve[15], 100.0, 1e-9);  // the base's bump of one decade
  curve = base;
  DrawCurveLine(curve, base, g, 2.0, 7, 103, 7, 103, false);  // a point: ±0.51 pixels, 2 bins per pixel
  for (int b = 13; b <= 15; ++b) EXPECT_NEAR(curve[size_t(b)], 1.0, 1e-9) << b;
  EXPECT_EQ(curve[12], 100.0);
  EXPECT_EQ(curve[16], 100.0);

  curve = base;
  ApplyCurveBrush(curve, base, g, 1.0, 30, 53, 10, false);  // w = 5/7: bins 22 .. 41
  EXPECT_NEAR(curve[30], 10.0, 1e-9);
  EXPECT_LT(curve[27], 100.0);
  EXPECT_GT(curve[27], 10.0);
  EXPECT_EQ(curve[21], 100.0);
  EXPECT_EQ(curve[42], 100.0);
  std::vector<double> still = base;
  ApplyCurveBrush(still, base, g, 1.0, 30, 53, 0, false);
  ApplyCurveBrush(still, base, g, 1.0, 49, 53, 10, false);
  EXPECT_EQ(still, base);
}

}  // namespace
}  // namespace astrelon
