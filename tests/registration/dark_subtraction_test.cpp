// Dark subtraction: plain, with hot-pixel repair and with the dark scaled to
// the image (temperature compensation).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <utility>

#include "../pixelops/slot_images.h"
#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "platform/processor_features.h"
#include "registration/calibration/dark_hot_pixels.h"
#include "registration/calibration/dark_scale.h"
#include "registration/calibration/dark_subtraction.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class DarkSubtractionTest : public StoreTest {};

std::vector<float> Filled(int w, int h, float v) { return std::vector<float>(size_t(w) * size_t(h), v); }

TEST_F(DarkSubtractionTest, PlainSubtractsOneDarkPlaneFromEveryPlane) {
  EngineUi().Messages.clear();
  // A 5 x 4 colour image and a 5 x 4 grey dark with one blank pixel.
  std::vector<float> r(20), g(20), b(20), d(20);
  for (size_t i = 0; i < 20; ++i) {
    r[i] = float(100 + i);
    g[i] = float(200 + 2 * i);
    b[i] = float(300 + 3 * i);
    d[i] = 0.5f * float(i) + 1.25f;
  }
  d[5] = BlankPixel;
  g[0] = BlankPixel;
  PutImage(1, 5, 4, {r, g, b});
  PutImage(2, 5, 4, {d});
  EXPECT_TRUE(SubtractDarkFrame(1, 2, TDarkOptions::Plain));
  const TImageSlot& im = Store.Image[1];
  const std::vector<float>* planes[] = {&r, &g, &b};
  for (int p = 1; p <= 3; ++p)
    for (size_t i = 0; i < 20; ++i) {
      const float before = (*planes[p - 1])[i];
      const float want = !IsValidPixel(before) ? before : IsValidPixel(d[i]) ? before - d[i] : BlankPixel;
      EXPECT_EQ(im.Plane(p)[i], want) << p << ": " << i;
    }
  // No dark slot: nothing happens.
  const std::vector<float> kept = Plane(1, 1);
  EXPECT_FALSE(SubtractDarkFrame(1, 0, TDarkOptions::TemperatureAndHotPixels));
  EXPECT_EQ(Plane(1, 1), kept);
  EXPECT_TRUE(EngineUi().Messages.empty());
}

// A dark of another width or height would calibrate only the overlap: refused
// with one message, every option, the image unchanged.
TEST_F(DarkSubtractionTest, DarkOfAnotherSizeIsRefused) {
  PutImage(1, 30, 20, {Filled(30, 20, 100)});
  for (const auto& [w, h] : {std::pair{20, 15}, std::pair{30, 21}, std::pair{31, 20}})
    for (const TDarkOptions o : {TDarkOptions::Plain, TDarkOptions::TemperatureAndHotPixels}) {
      PutImage(2, w, h, {Filled(w, h, 10)});
      EngineUi().Messages.clear();
      EXPECT_FALSE(SubtractDarkFrame(1, 2, o));
      EXPECT_EQ(Plane(1, 1), Filled(30, 20, 100));
      ASSERT_EQ(EngineUi().Messages.size(), 1u);
      EXPECT_EQ(EngineUi().Messages[0], DarkSizeDiffersText(30, 20, w, h));
    }
  EXPECT_EQ(DarkSizeDiffersText(300, 200, 200, 150),
            "Das Dunkelbild (200 x 150) hat nicht die Größe des Bildes (300 x 200); es wird nicht abgezogen.");
}

TEST_F(DarkSubtractionTest, HotPixelsTakeTheMedianOfUsableNeighbours) {
  std::vector<float> dark = Filled(64, 64, 10);
  dark[5 * 64 + 5] = 1000;   // hot, repaired
  dark[1 * 64 + 30] = 1000;  // within two pixels of the border: left alone
  dark[62 * 64 + 61] = 1000;
  PutImage(1, 64, 64, {Filled(64, 64, 100)});
  PutImage(2, 64, 64, {dark});
  SubtractDarkFrame(1, 2, TDarkOptions::HotPixelRepair);
  const TImageSlot& im = Store.Image[1];
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool border = (x == 30 && y == 1) || (x == 61 && y == 62);
      EXPECT_EQ(im.At(1, x, y), border ? -900.0f : 90.0f) << x << "," << y;
    }

  // The batch's Bayer mode blanks the hot pixel instead.
  PutImage(1, 64, 64, {Filled(64, 64, 100)});
  BatchRunning = 1;
  BatchAddToTarget = 1;
  BatchMarkCount = 1;
  SubtractDarkFrame(1, 2, TDarkOptions::HotPixelRepair);
  BatchRunning = 0;
  BatchAddToTarget = 0;
  BatchMarkCount = 0;
  EXPECT_EQ(Store.Image[1].At(1, 5, 5), BlankPixel);
  EXPECT_EQ(Store.Image[1].At(1, 6, 5), 90.0f);
}

TEST_F(DarkSubtractionTest, HotRedPixelOfAMosaicTakesOnlyItsSameColourCells) {
  // Green on x + y even (phase 0), red on even rows, blue on odd rows.
  const int w = 32, h = 32;
  std::vector<float> mosaic(size_t(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      mosaic[size_t(y * w + x)] = (x + y) % 2 == 0 ? 1000.0f : (y % 2 == 0 ? 500.0f : 300.0f);
  std::vector<float> dark = Filled(w, h, 10);
  dark[10 * w + 11] = 5000;  // a red site
  dark[11 * w + 11] = 5000;  // a green site: direct neighbours stay unused, diagonals are green
  PutImage(1, w, h, {mosaic});
  PutImage(2, w, h, {dark});
  SubtractDarkFrame(1, 2, TDarkOptions::HotPixelRepair);
  EXPECT_EQ(Store.Image[1].At(1, 11, 10), 490.0f);
  EXPECT_EQ(Store.Image[1].At(1, 11, 11), 990.0f);
  EXPECT_EQ(Store.Image[1].At(1, 12, 10), 990.0f);
}

TEST_F(DarkSubtractionTest, DarkScaleSearch) {
  // Every cost 0: the smallest factor of the first triple.
  EXPECT_EQ(SearchDarkScale([](double) { return 0.0; }), 0.8);
  // A smooth cost with its least value at 1.37 is followed there.
  EXPECT_NEAR(SearchDarkScale([](double k) { return (k - 1.37) * (k - 1.37); }), 1.37, 0.01);
  EXPECT_NEAR(SearchDarkScale([](double k) { return std::fabs(k - 0.31); }), 0.31, 0.01);

  // A dark with a fixed pattern (standard deviation 100) in an image of twice
  // the dark plus 500.
  const int w = 200, h = 150;
  std::mt19937 rng(3);
  std::normal_distribution<float> pattern(1000, 100);
  std::vector<float> dark(size_t(w * h)), image(size_t(w * h));
  for (size_t i = 0; i < dark.size(); ++i) {
    dark[i] = pattern(rng);
    image[i] = 2 * dark[i] + 500;
  }
  PutImage(1, w, h, {image});
  PutImage(2, w, h, {dark});
  Store.Image[2].DarkRms = 1;
  EXPECT_NEAR(ComputeDarkScale(1, 2, true), 2.0, 0.03);
  EXPECT_NEAR(ComputeDarkScale(1, 2, false), 2.0, 0.03);
  // Constant image and dark: every cost is 0.
  PutImage(3, w, h, {Filled(w, h, 7)});
  PutImage(4, w, h, {Filled(w, h, 3)});
  EXPECT_EQ(ComputeDarkScale(3, 4, false), 0.8);

  // Subtracting with the found factor leaves the image flat at 500 + b, b the
  // dark's 30 % level (1000 - 0.524 x 100).
  SubtractDarkFrame(1, 2, TDarkOptions::TemperatureCompensation);
  double lo = 1e30, hi = -1e30;
  for (const float v : Store.Image[1].Planes[1]) {
    lo = std::min(lo, double(v));
    hi = std::max(hi, double(v));
  }
  EXPECT_LT(hi - lo, 0.03 * 800);  // the dark alone spans about 800
  EXPECT_NEAR((hi + lo) / 2, 1447.6, 15);
}

// A dark with noise, hot pixels (often side by side), blanks, NaN and
// infinities, and an image of 1.7 x the dark with noise and blanks.
struct TDarkFrames {
  int W, H;
  std::vector<float> Dark, R, G, B;
  TDarkFrames(int w, int h, unsigned seed, int hotEvery) : W(w), H(h) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(100, 8);
    Dark.resize(size_t(w * h));
    for (float& d : Dark) {
      const unsigned k = rng() % 5000;
      d = rng() % unsigned(hotEvery) == 0 ? 100 + float(rng() % 3000) : noise(rng);
      if (k == 0) d = BlankPixel;
      if (k == 1) d = std::nanf("");
      if (k == 2) d = -std::numeric_limits<float>::infinity();
      if (k == 3) d = std::numeric_limits<float>::infinity();
    }
    for (auto* plane : {&R, &G, &B}) {
      plane->resize(Dark.size());
      for (size_t i = 0; i < Dark.size(); ++i)
        (*plane)[i] = rng() % 300 == 0 ? BlankPixel : 1.7f * Dark[i] + noise(rng);
    }
  }
};

TEST_F(DarkSubtractionTest, VectorPathsGiveTheScalarValues) {
  const TDarkFrames f(701, 300, 11, 97);
  const int w = f.W, h = f.H;
  // The eight-wide hot-pixel search, alone and with its bound over the rows in
  // order (and a row out of order), finds what the scalar one finds.
  for (const float offset : {12.5f, 0.0f, -3.0f}) {
    THotPixelFinder finder(f.Dark, w, 2, w - 3, offset, true);
    for (int32_t y : {2, 3, 4, 150, 149, 151, 152}) {
      for (int32_t yy = y; yy < (y == 4 ? h - 2 : y + 1); ++yy) {
        std::vector<THotDarkPixel> scalar, vector, bounded;
        FindHotDarkPixelsInRow(f.Dark, w, yy, 2, w - 3, offset, scalar, false);
        FindHotDarkPixelsInRow(f.Dark, w, yy, 2, w - 3, offset, vector, true);
        finder.FindInRow(yy, bounded);
        ASSERT_EQ(scalar.size(), vector.size()) << yy;
        ASSERT_EQ(scalar.size(), bounded.size()) << yy;
        for (size_t i = 0; i < scalar.size(); ++i) {
          EXPECT_EQ(scalar[i].X, vector[i].X);
          EXPECT_EQ(scalar[i].X, bounded[i].X);
          EXPECT_EQ(scalar[i].Threshold, vector[i].Threshold);
          EXPECT_EQ(scalar[i].Threshold, bounded[i].Threshold);
        }
      }
    }
  }
  // Rows of both forms of the subtraction, odd length, NaN and blanks.
  for (const bool compensate : {false, true}) {
    std::vector<float> scalar(f.R.begin(), f.R.begin() + 1003), vector = scalar;
    const std::span<const float> dark(f.Dark.data() + 5000, 1003);
    SubtractDarkRow(scalar, dark, compensate, 1.37, 95.5, false);
    SubtractDarkRow(vector, dark, compensate, 1.37, 95.5, true);
    EXPECT_EQ(std::memcmp(scalar.data(), vector.data(), scalar.size() * sizeof(float)), 0) << compensate;
  }
  // Every option gives the same image with and without threads and vectors.
  const bool savedSse2 = Sse2Enabled;
  for (int option = 0; option <= 3; ++option) {
    std::vector<std::vector<float>> results;
    for (const bool multicore : {false, true})
      for (const bool vector : {false, true}) {
        MulticoreGuard guard(multicore);
        Sse2Enabled = vector;
        PutImage(1, w, h, {f.R, f.G, f.B});
        PutImage(2, w, h, {f.Dark});
        SubtractDarkFrame(1, 2, TDarkOptions(option));
        for (int p = 1; p <= 3; ++p) results.push_back(Plane(1, p));
      }
    for (size_t i = 3; i < results.size(); ++i)
      EXPECT_EQ(std::memcmp(results[i % 3].data(), results[i].data(), results[i].size() * sizeof(float)), 0)
          << "option " << option << " run " << i / 3 << " plane " << i % 3 + 1;
  }
  Sse2Enabled = savedSse2;
}

// Hot pixels in clusters: the repair on threads (lone ones in bands, crowded
// ones afterwards) gives the image of the repair in scan order.
TEST_F(DarkSubtractionTest, RepairOnThreadsFollowsScanOrder) {
  const TDarkFrames f(300, 200, 5, 7);
  const int w = f.W, h = f.H;
  THotPixelFinder finder(f.Dark, w, 2, w - 3, 10.0f, false);
  THotRowCollector rows(2);
  for (int y = 2; y < h - 2; ++y) rows.FindNextRow(finder);
  const THotPixelRows& hot = rows.Rows();
  const std::vector<THotDarkPixel>& all = hot.Pixels;
  ASSERT_GT(std::count_if(all.begin(), all.end(), [&](const THotDarkPixel& p) { return hot.Crowded(p); }), 500);
  for (const auto& [phase, blank] : {std::pair{-1, false}, std::pair{0, false}, std::pair{1, true}}) {
    std::vector<float> serial = f.G;
    RepairHotPixels(serial, w, f.Dark, w, all, phase, blank);
    for (const int threads : {1, 3, 8}) {
      std::vector<float> red = f.R, green = f.G;
      const THotPixelPlane planes[] = {{red, w, f.Dark, w, &hot}, {green, w, f.Dark, w, &hot}};
      RepairHotPixelPlanes(planes, phase, blank, threads);
      EXPECT_EQ(std::memcmp(green.data(), serial.data(), serial.size() * sizeof(float)), 0)
          << "phase " << phase << " threads " << threads;
    }
  }
}

// The subtraction in one pass with its measures side by side gives the image
// of the steps one after another: scale, per dark plane its 30 % level (which
// clamps values above 1e18) and noise, subtraction, hot pixels in scan order.
TEST_F(DarkSubtractionTest, OnePassGivesTheStepsInTheirOrder) {
  const TDarkFrames f(260, 120, 8, 151);
  const int w = f.W, h = f.H;
  std::vector<float> dark2 = f.Dark;
  dark2[size_t(7 * w + 9)] = 5e18f;
  dark2[size_t(11 * w + 30)] = std::numeric_limits<float>::infinity();
  const auto put = [&] {
    PutImage(1, w, h, {f.R, f.G, f.B});
    PutImage(2, w, h, {f.Dark, dark2, f.Dark});
    // Beyond 1e18 after PutImage, whose minimum and maximum would clamp them.
    Store.Image[2].Planes[2][size_t(7 * w + 9)] = 5e18f;
    Store.Image[2].Planes[2][size_t(11 * w + 30)] = std::numeric_limits<float>::infinity();
  };
  MulticoreGuard guard(true);
  for (int option = 1; option <= 3; ++option) {
    const bool temperature = HasTemperatureCompensation(TDarkOptions(option));
    const bool hot = HasHotPixelRepair(TDarkOptions(option));
    put();
    const double k = temperature ? ComputeDarkScale(1, 2, !hot) : 1.0;
    std::array<double, 4> level{};
    std::array<float, 4> offset{};
    for (int q = 1; q <= 3; ++q) {
      TPercentileLevels l;
      if (temperature) GetPercentileLevels(2, q, 0, w - 1, 0, h - 1, 30.0, 30.0, l);
      level[size_t(q)] = l.LevelA;
      offset[size_t(q)] = float(double(EstimateNoise(2, q)) * 1.5 * Settings.HotPixelSigma);
    }
    std::vector<std::vector<float>> want;
    for (int q = 1; q <= 3; ++q) {
      std::vector<float> x = Plane(1, q);
      const std::vector<float> d = Plane(2, q);
      for (int y = 0; y < h; ++y)
        SubtractDarkRow(std::span(x).subspan(size_t(y * w), size_t(w)), std::span(d).subspan(size_t(y * w), size_t(w)),
                        temperature, k, level[size_t(q)], false);
      std::vector<THotDarkPixel> pixels;
      for (int y = 2; hot && y < h - 2; ++y)
        FindHotDarkPixelsInRow(d, w, y, 2, w - 3, offset[size_t(q)], pixels, false);
      RepairHotPixels(x, w, d, w, pixels, -1, false);
      want.push_back(x);
    }
    Sse2Enabled = true;
    put();
    SubtractDarkFrame(1, 2, TDarkOptions(option));
    Sse2Enabled = false;
    for (int q = 1; q <= 3; ++q)
      EXPECT_EQ(std::memcmp(Plane(1, q).data(), want[size_t(q - 1)].data(), size_t(w * h) * sizeof(float)), 0)
          << "option " << option << " plane " << q;
  }
}

}  // namespace
}  // namespace astrelon::test
