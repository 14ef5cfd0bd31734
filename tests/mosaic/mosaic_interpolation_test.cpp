// The colour-mosaic interpolation: its kernels, the linear, V.N.G., Kimmel and astro
// methods through the conversion, and results that do not depend on the number
// of workers (nor on workers that cannot be started).
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

#include "../pixelops/slot_images.h"
#include "kernels/mosaic/mosaic_kernels.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "mid_run_commands.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "pixelops/mosaic/mosaic_interpolation.h"
#include "pixelops/mosaic/mosaic_passes.h"
#include "pixelops/mosaic/mosaic_workers.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/planes/image_statistics.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr TMosaicCells Rggb{McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1};

class MosaicInterpolationTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    MosaicSettings = TMosaicSettings{};
    MosaicSettings.CameraProfile = false;
    MosaicPattern = Rggb;
  }
  void TearDown() override {
    MosaicSettings = TMosaicSettings{};
    BandThreadStarter = nullptr;
    StoreTest::TearDown();
  }
  // Converts the w x h mosaic f(x, y) in slot 1 with the method; the result slot.
  template <typename F>
  static int Convert(int method, int w, int h, F f) {
    std::vector<float> v(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) v[size_t(y * w + x)] = f(x, y);
    PutImage(1, w, h, {v});
    MosaicSettings.Method = method;
    return GenerateRgbFromMosaic(1);
  }
  // The three planes after `method` on `workers` workers: slot 1 the working
  // mosaic, slot 2 the result; red and blue planes scaled by `ratio`.
  static std::vector<std::vector<float>> Interpolate(int method, const std::vector<float>& m, int w, int h,
                                                     int workers, double ratio = 1.0) {
    PutImage(1, w, h, {m});
    PutImage(2, w, h, {m, m, m});
    const std::vector<int32_t> cols = SizeRatioOffsets(w, ratio), rows = SizeRatioOffsets(h, ratio);
    TMosaicStage s;
    s.Source = 1;
    s.Destination = 2;
    s.Method = method;
    s.SizeRatio = ratio != 1.0;
    s.Noise = std::max(double(EstimateNoise(1, 1)), 0.1);
    s.RedMultiplier = 1.5;
    s.RedColumns = s.BlueColumns = cols;
    s.RedRows = s.BlueRows = rows;
    EXPECT_TRUE(InterpolateMosaic(s, workers));
    return {Plane(2, 1), Plane(2, 2), Plane(2, 3)};
  }
};

float RggbFlat(int x, int y, float r, float g, float b) {
  return (x & 1) == 0 && (y & 1) == 0 ? r : (x & 1) && (y & 1) ? b : g;
}

TEST_F(MosaicInterpolationTest, CheckerboardFill) {
  // Centre (1,1) of a 3 x 3 plane: neighbours 10, 20 and two blanks; corners too.
  std::vector<float> p{1, 10, 2, BlankPixel, 0, 20, 3, BlankPixel, 4};
  InterpolateCheckerboardPixels(p, 3, 3, 0, 3);
  EXPECT_EQ(p[4], 15.0f);
  EXPECT_EQ(p[0], 10.0f);  // both inner neighbours: 10 and blank, the horizontal one
  EXPECT_EQ(p[2], 15.0f);  // 10 and 20
  EXPECT_EQ(p[6], BlankPixel);
  // Four blank neighbours; a row stride wider than the width.
  std::vector<float> q{7, BlankPixel, 7, 99, BlankPixel, 5, BlankPixel, 99, 7, BlankPixel, 7, 99};
  InterpolateCheckerboardPixels(q, 3, 3, 0, 4);
  EXPECT_EQ(q[5], BlankPixel);
  EXPECT_EQ(q[3], 99.0f);
}

TEST_F(MosaicInterpolationTest, WeightedFillDropsALargeDifference) {
  // Red site (2,2) of a flat green: blue differences 1, 1, 1 and 10 at the diagonals.
  const int w = 7, h = 7;
  std::vector<float> m(size_t(w * h), 100.0f);
  for (const auto& [x, y, v] : {std::tuple{1, 1, 101.0f}, {3, 1, 101.0f}, {1, 3, 101.0f}, {3, 3, 110.0f}})
    m[size_t(y * w + x)] = v;
  PutImage(1, w, h, {m});
  PutImage(2, w, h, {m, std::vector<float>(size_t(w * h), 100.0f), m});
  FillRedBlueWeighted(1, 2, 0, 1, 0.4f);
  EXPECT_NEAR(Store.Image[2].At(3, 2, 2), 101.0f, 1e-4);
  // A ratio fill of a flat mosaic keeps it; an offset above every green changes nothing.
  PutImage(1, w, h, {std::vector<float>(size_t(w * h), 500.0f)});
  PutImage(2, w, h, {std::vector<float>(size_t(w * h), 500.0f), std::vector<float>(size_t(w * h), 500.0f),
                     std::vector<float>(size_t(w * h), 500.0f)});
  FillRedBlueAstro(1, 2, 0, 1, 0.3f, 490.0f);
  EXPECT_NEAR(Store.Image[2].At(1, 3, 3), 500.0f, 1e-3);
  FillRedBlueAstro(1, 2, 0, 1, 0.3f, 600.0f);
  EXPECT_TRUE(std::isfinite(Store.Image[2].At(1, 3, 3)));
}

TEST_F(MosaicInterpolationTest, BorderPassFillsOnlyTheFrame) {
  const int w = 15, h = 13;
  for (const int margin : {2, 3, 4}) {
    std::vector<float> m(size_t(w * h), 500.0f);
    // Deep inside: values the frame pass never reads.
    for (int y = margin + 2; y < h - margin - 2; ++y)
      for (int x = margin + 2; x < w - margin - 2; ++x) m[size_t(y * w + x)] = float(x * 100 + y);
    PutImage(2, w, h, {m, m, m});
    InterpolateMosaicBorder(2, margin);
    for (int p = 1; p <= 3; ++p) EXPECT_EQ(Plane(2, p), m) << margin;
  }
}

TEST_F(MosaicInterpolationTest, FlatMosaicsStayFlat) {
  for (const int method : {DmLinear, DmVng, DmKimmel, DmAstro}) {
    const int r = Convert(method, 24, 20, [](int, int) { return 1000.0f; });
    ASSERT_GT(r, 1);
    for (int p = 1; p <= 3; ++p)
      for (const float v : Plane(r, p)) ASSERT_NEAR(v, 1000.0f, 0.01) << method << " plane " << p;
    FreeSlot(r);
    // Red 50, green 100, blue 200 balanced by Rmul 2 and Bmul 0.5.
    MosaicSettings.Rmul = "2";
    MosaicSettings.Bmul = "0.5";
    const int b = Convert(method, 24, 20, [](int x, int y) { return RggbFlat(x, y, 50, 100, 200); });
    ASSERT_GT(b, 1);
    for (int p = 1; p <= 3; ++p)
      for (const float v : Plane(b, p)) ASSERT_NEAR(v, 100.0f, 0.01) << method << " plane " << p;
    FreeSlot(b);
    MosaicSettings.Rmul = MosaicSettings.Bmul = "1";
  }
}

TEST_F(MosaicInterpolationTest, LinearMethodIsExactOnRampsAndCropsOnePixel) {
  const auto red = [](int x, int y) { return 10.0f + 2.0f * float(x) + 3.0f * float(y); };
  const auto green = [](int x, int y) { return 500.0f + float(x) - float(y); };
  const auto blue = [](int x, int y) { return 900.0f - float(x) + 0.5f * float(y); };
  const int w = 21, h = 16;
  for (const TMosaicCells cells : {Rggb, TMosaicCells{McGreen, McBlue, McRed, McGreen, -1, -1, -1, -1}}) {
    MosaicSettings.Cells = cells;
    const int r = Convert(DmLinear, w, h, [&](int x, int y) {
      const int c = MosaicCellColor(cells, x, y);
      return c == McRed ? red(x, y) : c == McGreen ? green(x, y) : blue(x, y);
    });
    ASSERT_GT(r, 1);
    const TImageSlot& im = Store.Image[size_t(r)];
    ASSERT_EQ(im.Width, w - 2);
    ASSERT_EQ(im.Height, h - 2);
    for (int y = 0; y < h - 2; ++y)
      for (int x = 0; x < w - 2; ++x) {
        ASSERT_NEAR(im.At(1, x, y), red(x + 1, y + 1), 1e-3) << x << "," << y;
        ASSERT_NEAR(im.At(2, x, y), green(x + 1, y + 1), 1e-3) << x << "," << y;
        ASSERT_NEAR(im.At(3, x, y), blue(x + 1, y + 1), 1e-3) << x << "," << y;
      }
    FreeSlot(r);
  }
  // Cyan everywhere carries no red, and green and blue only together.
  MosaicSettings.Cells = {McCyan, McCyan, McCyan, McCyan, -1, -1, -1, -1};
  const int c = Convert(DmLinear, 10, 10, [](int, int) { return 300.0f; });
  ASSERT_GT(c, 1);
  for (const float v : Plane(c, 1)) EXPECT_EQ(v, BlankPixel);
}

TEST_F(MosaicInterpolationTest, FourRowPatternFindsItsKernels) {
  MosaicSettings.FourRows = true;
  MosaicSettings.Cells = {McCyan, McYellow, McMagenta, McGreen, McYellow, McCyan, McGreen, McMagenta};
  const int r = Convert(DmLinear, 16, 16, [](int, int) { return 700.0f; });
  ASSERT_GT(r, 1);
  // Flat cells of any colour: each channel found is the value of a channel's share.
  for (int p = 1; p <= 3; ++p)
    for (const float v : Plane(r, p)) EXPECT_TRUE(!IsValidPixel(v) || std::isfinite(v));
  EXPECT_TRUE(IsValidPixel(Store.Image[size_t(r)].At(2, 5, 5)));
}

TEST_F(MosaicInterpolationTest, SameResultForAnyNumberOfWorkers) {
  const int w = 97, h = 91;
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(0.0f, 4000.0f);
  std::vector<float> m(size_t(w * h));
  for (float& v : m) v = u(rng);
  for (const auto& [method, ratio] : {std::pair{DmLinear, 1.0}, std::pair{DmVng, 1.0}, std::pair{DmVng, 1.02},
                                      std::pair{DmKimmel, 1.0}, std::pair{DmAstro, 1.0}}) {
    const auto one = Interpolate(method, m, w, h, 1, ratio);
    for (const int n : {2, 4, 8}) EXPECT_EQ(Interpolate(method, m, w, h, n, ratio), one) << method << " " << n;
    // Workers that cannot be started leave their rows to the calling thread.
    BandThreadStarter = [](std::function<void()> body) -> std::thread {
      static int starts = 0;
      if (++starts % 2 == 0) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      return std::thread(std::move(body));
    };
    EXPECT_EQ(Interpolate(method, m, w, h, 4, ratio), one) << method;
    BandThreadStarter = [](std::function<void()>) -> std::thread {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    EXPECT_EQ(Interpolate(method, m, w, h, 3, ratio), one) << method;
    BandThreadStarter = nullptr;
  }
}

// Commands issued while the workers fill the result (the calling thread keeps
// the interface live) leave the working mosaic and the result alone.
TEST_F(MosaicInterpolationTest, CommandsIssuedWhileTheWorkersRunLeaveBothSlotsAlone) {
  const int w = 97, h = 91;
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(0.0f, 4000.0f);
  std::vector<float> m(size_t(w * h));
  for (float& v : m) v = u(rng);
  for (const int method : {DmLinear, DmVng, DmKimmel, DmAstro}) {
    const auto reference = Interpolate(method, m, w, h, 3);
    std::vector<std::vector<float>> got;
    {
      GatedWorkers gate;
      MidRunCommand ui([] { TryToChangeSlots({1, 2}); });
      SetEngineUi(&ui);
      got = Interpolate(method, m, w, h, 3);
      SetEngineUi(nullptr);
      EXPECT_TRUE(ui.Issued()) << method;
    }
    EXPECT_EQ(got, reference) << method;
    EXPECT_TRUE(Store.InUse[1] && Store.InUse[2]) << method;
    EXPECT_EQ(Plane(1, 1), m) << method;
  }
}

TEST_F(MosaicInterpolationTest, KimmelKeepsEdgesSharpAndFinite) {
  // A vertical step 0 | 1000 between columns 15 and 16: green next to the edge
  // stays within 1 % of its own side (no zipper).
  const int w = 32, h = 28;
  std::vector<float> step(size_t(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) step[size_t(y * w + x)] = x < 16 ? 0.0f : 1000.0f;
  const auto planes = Interpolate(DmKimmel, step, w, h, 1);
  for (int y = 3; y < h - 3; ++y)
    for (int x = 3; x < w - 3; ++x) {
      const float g = planes[1][size_t(y * w + x)];
      ASSERT_NEAR(g, x < 16 ? 0.0f : 1000.0f, 10.0f) << x << "," << y;
    }
  // 16-bit data with hard edges (checks and single hot pixels) stays finite.
  std::mt19937 rng(5);
  std::vector<float> hard(size_t(w * h));
  for (size_t i = 0; i < hard.size(); ++i) hard[i] = (rng() % 3 == 0) ? 65535.0f : float(rng() % 8);
  for (const auto& plane : Interpolate(DmKimmel, hard, w, h, 4))
    for (const float v : plane) ASSERT_TRUE(std::isfinite(v));
}

// The Kimmel refinement runs in lanes of four rows and on every worker; the
// scalar twin, one worker and eight give the same bits on scenes with many equal
// values, huge and negative values, and edges. A pattern that is not Bayer makes
// no result.
TEST_F(MosaicInterpolationTest, KimmelLanesAndWorkersGiveTheScalarBits) {
  const int w = 203, h = 45;
  std::mt19937 rng(17);
  std::vector<std::vector<float>> scenes(3, std::vector<float>(size_t(w * h)));
  for (size_t i = 0; i < scenes[0].size(); ++i) {
    scenes[0][i] = float(rng() % 4) * 1000.0f;                                  // ties everywhere
    scenes[1][i] = (rng() % 7 == 0 ? 3e12f : 1e9f) + float(rng() % 1000) * 1e6f;  // huge, with spikes
    scenes[2][i] = float(int(rng() % 2001) - 1000) * ((i % size_t(w)) > 100 ? 9.0f : 0.5f);  // signs, an edge
  }
  const bool avx2 = Avx2Enabled;
  for (size_t k = 0; k < scenes.size(); ++k) {
    Avx2Enabled = false;
    const auto scalar = Interpolate(DmKimmel, scenes[k], w, h, 1);
    Avx2Enabled = avx2;
    for (const int workers : {1, 3, 8}) {
      const auto got = Interpolate(DmKimmel, scenes[k], w, h, workers);
      for (int p = 0; p < 3; ++p)
        ASSERT_EQ(std::memcmp(got[size_t(p)].data(), scalar[size_t(p)].data(), scalar[size_t(p)].size() * 4), 0)
            << "scene " << k << " workers " << workers << " plane " << p + 1;
    }
  }
  Avx2Enabled = avx2;
  MosaicPattern = {McRed, McGreen, McBlue, McGreen, -1, -1, -1, -1};
  PutImage(1, 24, 20, {scenes[0]});
  PutImage(2, 24, 20, {scenes[0], scenes[0], scenes[0]});
  TMosaicStage s;
  s.Source = 1;
  s.Destination = 2;
  s.Method = DmKimmel;
  EXPECT_FALSE(InterpolateMosaic(s, 1));
}

// Workers asking for rows side by side get every row of the range once, in
// chunks of consecutive rows; an empty range gives none.
TEST(MosaicRowDealer, EveryRowOnce) {
  for (const auto& [first, last, chunk] : {std::tuple{2, 1000, 8}, {1, 1, 8}, {7, 6, 8}, {0, 99, 1}, {3, 50, 64}}) {
    TRowDealer rows(first, last, chunk);
    std::vector<std::atomic<int>> seen(size_t(std::max(last + 1, 1)));
    std::vector<std::thread> takers;
    for (int k = 0; k < 4; ++k)
      takers.emplace_back([&] { rows.Take([&](int32_t y) { ++seen[size_t(y)]; }); });
    for (std::thread& t : takers) t.join();
    for (int y = 0; y < int(seen.size()); ++y)
      EXPECT_EQ(seen[size_t(y)].load(), y >= first && y <= last ? 1 : 0) << first << ".." << last << " row " << y;
  }
}

TEST_F(MosaicInterpolationTest, WorkerCount) {
  MulticoreGuard on(true);
  EXPECT_EQ(MosaicWorkerCount(80), 1);
  EXPECT_GE(MosaicWorkerCount(81), 1);
  MulticoreGuard off(false);
  EXPECT_EQ(MosaicWorkerCount(4000), 1);
}

}  // namespace
}  // namespace astrelon::test
