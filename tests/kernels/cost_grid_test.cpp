// The block-matching cost grid through spectra against the costs pixel by
// pixel, and the shift measurement with it against the search that computes
// every cell pixel by pixel.
#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>

#include "../pixelops/slot_images.h"
#include "kernels/alignment/block_match_cost.h"
#include "kernels/alignment/cost_grid_fft.h"
#include "kernels/alignment/match_quality.h"
#include "kernels/alignment/shift_by_correlation.h"
#include "kernels/fft/real_fft_2d.h"
#include "kernels/fft/real_fft_2d_single.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "platform/processor_features.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

// Bin (k, v) of the nx x ny transform of a w x h image less 0.5, summed term by term.
template <class T>
std::complex<double> TermSum(const std::vector<T>& image, int w, int h, int nx, int ny, int k, int v) {
  double re = 0, im = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double a = -2 * M_PI * (double(k * x) / nx + double(v * y) / ny);
      re += (double(image[size_t(y * w + x)]) - 0.5) * std::cos(a);
      im += (double(image[size_t(y * w + x)]) - 0.5) * std::sin(a);
    }
  return {re, im};
}

// The half spectrum of a padded image against the transform summed term by
// term, and the image back from it, for even and odd lengths, on the plain and
// the vector lanes.
TEST(RealFft2D, HalfSpectrumAndInverseAgainstTheSums) {
  EXPECT_EQ(NextFastFftSize(207), 216);
  EXPECT_EQ(NextFastFftSize(1), 1);
  EXPECT_EQ(NextFastFftSize(49), 50);
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-3, 3);
  struct Case {
    int nx, ny, w, h;
  };
  for (const Case c : {Case{8, 6, 5, 6}, Case{15, 9, 15, 4}, Case{12, 25, 7, 11}, Case{30, 2, 30, 1},
                       Case{216, 216, 207, 130}})
    for (bool vector : {false, true}) {
      const bool sums = c.nx * c.ny < 1000;  // the term-by-term sums of the small ones
      std::vector<double> image(size_t(c.w * c.h));
      for (double& v : image) v = u(rng);
      TRealFft2D fft(c.nx, c.ny, vector);
      THalfSpectrum s;
      fft.Forward(image.data(), c.w, c.h, c.w, s, 0.5);
      const int half = c.nx / 2 + 1;
      ASSERT_EQ(s.Re.size(), size_t(half * c.ny));
      double worst = 0;
      for (int v = 0; v < (sums ? c.ny : 0); ++v)
        for (int k = 0; k < half; ++k) {
          const std::complex<double> t = TermSum(image, c.w, c.h, c.nx, c.ny, k, v);
          worst = std::max({worst, std::abs(t.real() - s.Re[size_t(v * half + k)]),
                            std::abs(t.imag() - s.Im[size_t(v * half + k)])});
        }
      EXPECT_LT(worst, 1e-9) << c.nx << "x" << c.ny << " vector " << vector;
      std::vector<double> back(size_t(c.w * c.h), 99.0);
      fft.Inverse(s, c.w, c.h, back.data(), c.w);
      for (size_t i = 0; i < back.size(); ++i) EXPECT_NEAR(back[i], image[i] - 0.5, 1e-12) << c.nx << "x" << c.ny;
      // Lanes side by side give the bits of one line at a time.
      if (vector) {
        TRealFft2D one(c.nx, c.ny, false);
        THalfSpectrum t;
        one.Forward(image.data(), c.w, c.h, c.w, t, 0.5);
        EXPECT_EQ(0, std::memcmp(t.Re.data(), s.Re.data(), s.Re.size() * 8)) << c.nx << "x" << c.ny;
        EXPECT_EQ(0, std::memcmp(t.Im.data(), s.Im.data(), s.Im.size() * 8)) << c.nx << "x" << c.ny;
        std::vector<double> again(back.size());
        one.Inverse(t, c.w, c.h, again.data(), c.w);
        EXPECT_EQ(0, std::memcmp(again.data(), back.data(), back.size() * 8)) << c.nx << "x" << c.ny;
      }
    }
}

// The single-precision transform against the sums term by term (to float
// rounding), the image back from it, and the same bits on every lane count.
TEST(RealFft2DSingle, HalfSpectrumAndInverseOnEveryLaneCount) {
  std::mt19937 rng(6);
  std::uniform_real_distribution<float> u(-3, 3);
  struct Case {
    int nx, ny, w, h;
  };
  for (const Case c : {Case{8, 6, 5, 6}, Case{15, 9, 15, 4}, Case{12, 25, 7, 11}, Case{40, 2, 37, 1},
                       Case{216, 216, 207, 130}}) {
    std::vector<float> image(size_t(c.w * c.h));
    for (float& v : image) v = u(rng);
    TSingleSpectrum first;
    std::vector<float> firstBack;
    for (int lanes : {1, 4, 8, 16}) {
      const TRealFft2DSingle fft(c.nx, c.ny, lanes);
      if (fft.Lanes() != lanes) continue;  // not on this processor
      TSingleSpectrum s;
      fft.Forward(image.data(), c.w, c.h, c.w, s, 0.5f);
      std::vector<float> back(size_t(c.w * c.h), 99.0f);
      fft.Inverse(s, c.w, c.h, back.data(), c.w);
      for (size_t i = 0; i < back.size(); ++i) EXPECT_NEAR(back[i], image[i] - 0.5f, 2e-5) << c.nx << "x" << c.ny;
      if (lanes == 1) {
        double worst = 0;
        for (int v = 0; v <= (c.nx * c.ny < 1000 ? c.ny / 2 : -1); ++v)
          for (int k = 0; k < c.nx; ++k) {
            const std::complex<double> t = TermSum(image, c.w, c.h, c.nx, c.ny, k, v);
            const size_t at = size_t(v * c.nx + k);  // one lane: group v
            worst = std::max({worst, std::abs(t.real() - s.Re()[at]), std::abs(t.imag() - s.Im()[at])});
          }
        EXPECT_LT(worst, 2e-4) << c.nx << "x" << c.ny;
        first = s, firstBack = back;
        continue;
      }
      // Bins (u, v) of both layouts, and the image back, bit for bit.
      for (int v = 0; v <= c.ny / 2; ++v)
        for (int k = 0; k < c.nx; ++k) {
          const size_t at = (size_t(v / lanes) * size_t(c.nx) + size_t(k)) * size_t(lanes) + size_t(v % lanes);
          ASSERT_EQ(std::bit_cast<uint32_t>(s.Re()[at]), std::bit_cast<uint32_t>(first.Re()[size_t(v * c.nx + k)]));
          ASSERT_EQ(std::bit_cast<uint32_t>(s.Im()[at]), std::bit_cast<uint32_t>(first.Im()[size_t(v * c.nx + k)]));
        }
      EXPECT_EQ(0, std::memcmp(back.data(), firstBack.data(), back.size() * 4)) << lanes << " lanes";
    }
  }
}

// Two neighbouring placements computed side by side give each one's cost.
TEST(CostGrid, PairOfPlacementsGivesEachCost) {
  std::mt19937 rng(8);
  std::normal_distribution<float> noise(1000, 40);
  for (const auto& [w, h, blanks] : {std::tuple{128, 128, false}, {37, 23, true}, {8, 5, false}, {61, 4, true}}) {
    const int64_t stride = w + 9;
    std::vector<float> ref(size_t(w * h)), second(size_t(stride * (h + 2)));
    for (float& v : ref) v = noise(rng);
    for (float& v : second) v = noise(rng) + (rng() % 31 == 0 ? 20000 : 0);
    if (blanks) {
      for (size_t i = 2; i < ref.size(); i += 13) ref[i] = BlankPixel;
      for (size_t i = 0; i < second.size(); i += 9) second[i] = std::numeric_limits<float>::quiet_NaN();
    }
    for (bool vector : {false, true})
      for (int at : {0, 3}) {
        const std::span<const float> s = std::span<const float>(second).subspan(size_t(at));
        double left = 0, right = 0;
        BlockMatchCostPair(ref, w, h, s, stride, vector, left, right);
        EXPECT_EQ(std::bit_cast<uint64_t>(left), std::bit_cast<uint64_t>(BlockMatchCost(ref, w, h, s, stride, vector)))
            << w << "x" << h << " " << vector;
        EXPECT_EQ(std::bit_cast<uint64_t>(right),
                  std::bit_cast<uint64_t>(BlockMatchCost(ref, w, h, s.subspan(1), stride, vector)))
            << w << "x" << h << " " << vector;
      }
  }
}

TEST(CostGrid, SpectraGiveThePlainCostOfEveryCell) {
  std::mt19937 rng(2);
  std::normal_distribution<float> noise(1000, 40);
  struct Case {
    int w, h, nx, ny;
    bool blanks;
  };
  for (const Case& c : {Case{5, 4, 3, 7, false}, Case{17, 23, 12, 9, false}, Case{16, 16, 25, 25, true},
                        Case{31, 9, 40, 14, true}}) {
    const int rw = c.w + c.nx - 1, rh = c.h + c.ny - 1;
    std::vector<float> ref(size_t(c.w * c.h)), region(size_t(rw * rh));
    for (float& v : ref) v = noise(rng) * 0.8f + 300;
    for (float& v : region) v = noise(rng) + (rng() % 29 == 0 ? 30000 : 0);
    if (c.blanks) {
      for (size_t i = 3; i < ref.size(); i += 11) ref[i] = BlankPixel;
      for (size_t i = 0; i < region.size(); i += 7) region[i] = BlankPixel;
      // A corner without any valid pair for the first cell.
      for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) region[size_t(y * rw + x)] = BlankPixel;
    }
    for (TGridPrecision precision : {TGridPrecision::Double, TGridPrecision::Single}) {
      std::vector<double> scalar;
      for (bool vector : {false, true}) {
        const std::vector<double> grid = BlockMatchCostGrid(ref, c.w, c.h, region, rw, c.nx, c.ny, vector, precision);
        // Single precision moves a cost by about 1e-7 of the spread of the
        // products (here some 4e4 x 40 per pair).
        const bool single = precision == TGridPrecision::Single && !c.blanks;
        const double slack = single ? 1e-6 * 4e4 * 40 * 4 : 1e-6;
        for (int j = 0; j < c.ny; ++j)
          for (int i = 0; i < c.nx; ++i) {
            const double plain = BlockMatchCost(
                ref, c.w, c.h, std::span<const float>(region).subspan(size_t(j * rw + i)), rw, false);
            const double fft = grid[size_t(j * c.nx + i)];
            if (plain >= NoBlockMatchCost) EXPECT_EQ(fft, double(NoBlockMatchCost)) << i << "," << j;
            else EXPECT_NEAR(fft, plain, 1e-7 * plain + slack) << i << "," << j << " " << c.w << "x" << c.h;
          }
        // Each precision's vector path gives the bits of its plain path.
        if (!vector) scalar = grid;
        else EXPECT_EQ(0, std::memcmp(grid.data(), scalar.data(), grid.size() * 8)) << c.w << "x" << c.h;
      }
    }
  }
}

// A slot of one w x h plane, in use; its values are the caller's.
TImageSlot& FreshSlot(int slot, int w, int h) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = w;
  im.Height = h;
  im.PlaneCount = 1;
  im.AllocatePlanes(1);
  Store.InUse[size_t(slot)] = 1;
  return im;
}

// A star field and a copy with its stars moved by (dx, dy) and fresh noise;
// blank patches where asked.
void StarFields(double dx, double dy, unsigned seed, bool blanks) {
  constexpr int W = 400, H = 300;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> px(5, W - 5), py(5, H - 5), peak(300, 20000);
  std::vector<std::array<double, 3>> stars(220);
  for (auto& s : stars) s = {px(rng), py(rng), peak(rng)};
  for (int slot : {1, 2}) {
    TImageSlot& im = FreshSlot(slot, W, H);
    std::normal_distribution<float> noise(1000.0f, 10.0f);
    for (float& v : im.Planes[1]) v = noise(rng);
    const double ox = slot == 2 ? dx : 0, oy = slot == 2 ? dy : 0;
    for (const auto& s : stars)
      for (int y = std::max(0, int(s[1] + oy) - 5); y <= std::min(H - 1, int(s[1] + oy) + 5); ++y)
        for (int x = std::max(0, int(s[0] + ox) - 5); x <= std::min(W - 1, int(s[0] + ox) + 5); ++x)
          im.Planes[1][size_t(y * W + x)] +=
              float(s[2] * std::exp(-((x - s[0] - ox) * (x - s[0] - ox) + (y - s[1] - oy) * (y - s[1] - oy)) / 4.0));
    if (blanks)
      for (int y = 100; y < 130; ++y)
        for (int x = 150 + 20 * slot; x < 190 + 20 * slot; ++x) im.Planes[1][size_t(y * W + x)] = BlankPixel;
    UpdateMinMax(slot);
  }
}

// A planet: a limb-darkened disc with bands on a dark sky, and a copy moved by
// (dx, dy) with fresh noise.
void PlanetFields(double dx, double dy) {
  constexpr int W = 400, H = 300;
  std::mt19937 rng(11);
  for (int slot : {1, 2}) {
    TImageSlot& im = FreshSlot(slot, W, H);
    std::normal_distribution<float> noise(0.0f, 15.0f);
    const double ox = slot == 2 ? dx : 0, oy = slot == 2 ? dy : 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const double u = x - 200.3 - ox, v = y - 150.8 - oy, r = std::hypot(u, v) / 90;
        const double disc = r < 1 ? 20000 * (0.5 + 0.5 * std::sqrt(1 - r * r)) * (1 + 0.08 * std::sin(v * 0.35)) : 0;
        im.Planes[1][size_t(y * W + x)] = float(300 + disc) + noise(rng);
      }
    UpdateMinMax(slot);
  }
}

class ShiftBySpectraTest : public StoreTest {
protected:
  void TearDown() override {
    ShiftCostsBySpectra = true;
    ShiftSpectraInSingle = true;
    StoreTest::TearDown();
  }
  // Position and quality of one measurement with the grid by spectra or cell by cell.
  std::pair<TShiftResult, double> Measure(bool spectra, TWorkRect block, TWorkRect search, bool mosaic) {
    ShiftCostsBySpectra = spectra;
    MatchQuality = 99.0;
    const TShiftResult r = FindShiftByCorrelation(1, 1, 2, 1, block, search, 100, mosaic, -1);
    return {r, MatchQuality};
  }
};

TEST_F(ShiftBySpectraTest, SamePositionsAndQualitiesAsTheSearchCellByCell) {
  DetectCpuFeatures();
  ApplySimdSetting();
  const bool sse = SseEnabled;
  MosaicSettings = TMosaicSettings{};
  int measured = 0;
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const double dx = -9.3 + 3.1 * seed, dy = 7.6 - 2.7 * seed;
    StarFields(dx, dy, seed, seed % 3 == 0);
    for (const TWorkRect block : {TWorkRect{150, 213, 100, 163}, TWorkRect{5, 60, 4, 40}, TWorkRect{300, 395, 200, 296},
                                  TWorkRect{160, 163, 120, 122}})
      for (bool mosaic : {false, true})
        for (bool vector : {false, true}) {
          SseEnabled = vector && sse;
          const auto [plain, qPlain] = Measure(false, block, block, mosaic);
          const auto [fft, qFft] = Measure(true, block, block, mosaic);
          EXPECT_NEAR(fft.Position.X, plain.Position.X, 1e-4) << seed << " " << block.x1 << " " << mosaic << vector;
          EXPECT_NEAR(fft.Position.Y, plain.Position.Y, 1e-4) << seed << " " << block.x1 << " " << mosaic << vector;
          EXPECT_NEAR(qFft, qPlain, 1e-4 * qPlain) << seed << " " << block.x1;
          EXPECT_EQ(fft.UsedScale, plain.UsedScale);
          ++measured;
        }
  }
  SseEnabled = sse;
  EXPECT_EQ(measured, 6 * 4 * 2 * 2);
}

// Spectra in single precision give the positions of the double ones on star
// fields (with blank patches too), a planet, flat noise and colour-mosaic
// frames, on one thread and on many; MatchQuality moves by float rounding
// (within 1e-6 of itself).
TEST_F(ShiftBySpectraTest, SinglePrecisionSpectraGiveTheDoublePositions) {
  DetectCpuFeatures();
  ApplySimdSetting();
  MosaicSettings = TMosaicSettings{};
  auto measure = [&](bool single, TWorkRect block, bool mosaic) {
    ShiftSpectraInSingle = single;
    MatchQuality = 99.0;
    const TShiftResult r = FindShiftByCorrelation(1, 1, 2, 1, block, block, 100, mosaic, -1);
    return std::pair{r, MatchQuality};
  };
  int measured = 0;
  for (int scene = 0; scene < 6; ++scene) {
    if (scene < 4) StarFields(-6.3 + 2.9 * scene, 5.6 - 3.7 * scene, unsigned(20 + scene), scene == 3);
    else if (scene == 4) PlanetFields(4.6, -3.3);
    else {  // noise alone: every cell about as good (a quality below 1)
      StarFields(0, 0, 30, false);
      std::mt19937 rng(9);
      std::normal_distribution<float> noise(1000.0f, 10.0f);
      for (int slot : {1, 2}) {
        for (float& v : Store.Image[size_t(slot)].Planes[1]) v = noise(rng);
        UpdateMinMax(slot);
      }
    }
    for (const TWorkRect block : {TWorkRect{136, 263, 86, 213}, TWorkRect{150, 213, 100, 163}, TWorkRect{40, 140, 30, 110}})
      for (bool mosaic : {false, true})
        for (bool multicore : {false, true}) {
          MulticoreGuard threads(multicore);
          const auto [ref, qRef] = measure(false, block, mosaic);
          const auto [got, q] = measure(true, block, mosaic);
          const std::string what = std::to_string(scene) + " " + std::to_string(block.x1) + (mosaic ? " mosaic" : "");
          EXPECT_EQ(got.Position.X, ref.Position.X) << what;
          EXPECT_EQ(got.Position.Y, ref.Position.Y) << what;
          EXPECT_EQ(got.AtSearchEdge, ref.AtSearchEdge) << what;
          EXPECT_EQ(got.UsedScale, ref.UsedScale) << what;
          // (The grid keeps its costs as floats: the largest moves by about its last bit.)
          EXPECT_NEAR(q, qRef, 1e-6 * qRef) << what;
          if (scene == 5) {
            EXPECT_LT(qRef, 2.0) << what;
          }
          ++measured;
        }
  }
  EXPECT_EQ(measured, 6 * 3 * 2 * 2);
}

}  // namespace
}  // namespace astrelon::test
