// Division by a flat image, plain and with the fitted flat response.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "../pixelops/slot_images.h"
#include "common/engine_ui.h"
#include "platform/processor_features.h"
#include "registration/calibration/flat_division.h"
#include "registration/calibration/flat_plane_mean.h"
#include "registration/calibration/flat_response_fit.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class FlatDivisionTest : public StoreTest {
protected:
  // The source in slot 1, its copy (the destination) in slot 2.
  static void Source(int w, int h, std::initializer_list<std::vector<float>> planes) {
    PutImage(1, w, h, planes);
    Store.Image[2] = Store.Image[1];
    Store.InUse[2] = 1;
  }
};

// The value at a fraction of the sorted valid values.
double Quantile(std::vector<float> v, double f) {
  std::erase_if(v, [](float x) { return !IsValidPixel(x); });
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[size_t(f * double(v.size() - 1))];
}

// Interquartile range relative to the median: how wide the histogram's peak is.
double RelativeSpread(const std::vector<float>& v) {
  return (Quantile(v, 0.75) - Quantile(v, 0.25)) / Quantile(v, 0.5);
}

TEST_F(FlatDivisionTest, ImageByItselfGivesItsMean) {
  std::vector<float> r(30), g(30), b(30);
  for (size_t i = 0; i < 30; ++i) {
    r[i] = float(10 + 3 * i);
    g[i] = float(1 + i * i);
    b[i] = float(100 - 2 * i);
  }
  r[4] = BlankPixel;
  Source(6, 5, {r, g, b});
  double gm = 0;
  for (float v : g) gm += v;
  gm /= 30;  // the green plane's mean scales every plane
  DivideByImage(1, 2, 1, true, false);
  const std::vector<float>* planes[] = {&r, &g, &b};
  for (int p = 1; p <= 3; ++p) {
    const std::vector<float>& s = *planes[p - 1];
    double mean = 0, n = 0;
    for (float v : s)
      if (IsValidPixel(v)) {
        mean += v;
        n += 1;
      }
    mean /= n;
    for (size_t i = 0; i < 30; ++i) {
      const float got = Store.Image[2].Planes[size_t(p)][i];
      if (!IsValidPixel(s[i])) {
        EXPECT_EQ(got, s[i]);
      } else if (s[i] <= 0.2 * mean) {
        EXPECT_EQ(got, BlankPixel) << p << " " << i;
      } else {
        EXPECT_NEAR(got, gm, 1e-4 * gm) << p << " " << i;
      }
    }
  }
}

TEST_F(FlatDivisionTest, PlainDivisionWithoutLevel) {
  // A 7 x 5 grey image and a smaller 5 x 4 flat.
  std::vector<float> s(35), f(20);
  for (size_t i = 0; i < 35; ++i) s[i] = 1000.0f + 37.5f * float(i);
  for (size_t i = 0; i < 20; ++i) f[i] = 0.7f + 0.013f * float(i);
  f[3] = 0.1f;  // at or below 20 % of the mean: blank
  Source(7, 5, {s});
  PutImage(3, 5, 4, {f});
  double mean = 0;
  for (float v : f) mean += v;
  mean /= 20;
  for (const bool keep : {false, true}) {
    Store.Image[2] = Store.Image[1];
    DivideByImage(1, 2, 3, keep, false);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) {
        const double S = s[size_t(y * 7 + x)];
        const float got = Store.Image[2].At(1, x, y);
        if (x >= 5 || y >= 4) {
          EXPECT_EQ(got, S);
        } else if (x == 3 && y == 0) {
          EXPECT_EQ(got, BlankPixel);
        } else {
          const double want = S * (keep ? mean : 1.0) / f[size_t(y * 5 + x)];
          EXPECT_NEAR(got, want, 1e-6 * want) << x << "," << y;
        }
      }
  }
  // A flat of mean 0.05 counts as 0.1 (and its pixels lie above 20 % of that).
  PutImage(3, 7, 5, {std::vector<float>(35, 0.05f)});
  Store.Image[2] = Store.Image[1];
  DivideByImage(1, 2, 3, true, false);
  EXPECT_NEAR(Store.Image[2].At(1, 2, 2), s[16] * 0.1 / 0.05, 1e-3);
}

// A flat with no pixel to divide by (all 0, all blank, a colour flat with one
// such plane) is refused, plain and automatic: one message, the destination
// unchanged. A flat with one usable pixel still divides.
TEST_F(FlatDivisionTest, FlatWithoutUsablePixelsIsRefused) {
  const std::vector<float> source(35, 500.0f), zero(35, 0.0f), blank(35, BlankPixel), ones(35, 1.0f);
  for (size_t k = 0; k < 3; ++k)
    for (const bool automatic : {false, true}) {
      SCOPED_TRACE(std::to_string(k) + (automatic ? " automatic" : " plain"));
      Source(7, 5, {source, source, source});
      if (k < 2)
        PutImage(3, 7, 5, {k == 0 ? zero : blank});
      else
        PutImage(3, 7, 5, {ones, zero, ones});
      EngineUi().Messages.clear();
      EXPECT_FALSE(DivideByImage(1, 2, 3, true, automatic));
      EXPECT_EQ(Plane(2, 2), source);
      EXPECT_EQ(EngineUi().Messages, std::vector<std::string>{FlatWithoutUsablePixelsText});
    }
  std::vector<float> one = zero;
  one[17] = 4.0f;
  Source(7, 5, {source});
  PutImage(3, 7, 5, {one});
  EngineUi().Messages.clear();
  EXPECT_TRUE(DivideByImage(1, 2, 3, false, false));
  EXPECT_EQ(Store.Image[2].Planes[1][17], 125.0f);
  EXPECT_EQ(Store.Image[2].Planes[1][16], BlankPixel);  // single zero pixels stay blank
  EXPECT_TRUE(EngineUi().Messages.empty());
}

TEST_F(FlatDivisionTest, HistogramPeakAndSearch) {
  // A single high bin; and a peak between two equal bins interpolates above them.
  const std::vector<int32_t> single{0, 0, 1, 9, 1, 0, 0};
  EXPECT_NEAR(HistogramPeak(single), 9, 1e-9);
  const std::vector<int32_t> twin{0, 0, 2, 8, 8, 2, 0, 0};
  EXPECT_GT(HistogramPeak(twin), 8);
  EXPECT_EQ(HistogramPeak(std::vector<int32_t>{5, 9, 1}), 9);  // highest bin at the edge
  // The search climbs a peak with its top at C0 = 1.3, Gx = -2.
  const TFlatResponse r = SearchFlatResponse(
      [](const TFlatResponse& p) { return 100 - std::pow(p.C0 - 1.3, 2) - 0.1 * std::pow(p.Gx + 2, 2); });
  EXPECT_NEAR(r.C0, 1.3, 0.02);
  EXPECT_NEAR(r.Gx, -2, 0.5);
}

// Vignetting v from 1 at the centre to 0.5 in the corners.
double Vignetting(int x, int y, int w, int h) {
  const double r = std::hypot(x - w / 2.0, y - h / 2.0) / std::hypot(w / 2.0, h / 2.0);
  return 1.0 - 0.5 * r * r;
}

TEST_F(FlatDivisionTest, AutomaticFitNarrowsThePeak) {
  // Light (200 + stars) x v, a flat of 0.8 v + 0.2: the plain division leaves a
  // brightness slope that the fitted response takes out.
  const int w = 320, h = 240;
  std::mt19937 rng(5);
  std::normal_distribution<float> noise(0, 2);
  std::vector<float> light(size_t(w * h)), flat(light.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double star = 0;
      for (int k = 0; k < 12; ++k) {
        const double sx = 20 + 23.0 * k, sy = 20 + 17.0 * k;
        star += 3000 * std::exp(-(std::pow(x - sx, 2) + std::pow(y - sy, 2)) / 8);
      }
      const double v = Vignetting(x, y, w, h);
      light[size_t(y * w + x)] = float((200 + star) * v) + noise(rng);
      flat[size_t(y * w + x)] = float(1000 * (0.8 * v + 0.2));
    }
  Source(w, h, {light});
  PutImage(3, w, h, {flat});
  DivideByImage(1, 2, 3, true, false);
  const std::vector<float> plain = Plane(2, 1);
  Store.Image[2] = Store.Image[1];
  DivideByImage(1, 2, 3, true, true);
  const std::vector<float> automatic = Plane(2, 1);
  EXPECT_LT(RelativeSpread(automatic), 0.5 * RelativeSpread(plain));
}

TEST_F(FlatDivisionTest, AutomaticLevelsEachMosaicCellClass) {
  // Green on x + y even (phase 0); red on even rows, blue on odd rows, each with
  // its own gain in the flat and the light.
  const int w = 256, h = 192;
  std::mt19937 rng(8);
  std::normal_distribution<float> noise(0, 1);
  std::vector<float> light(size_t(w * h)), flat(light.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int cls = MosaicCellClass(x, y, 0);
      const double gain = cls == 1 ? 1.0 : (cls == 2 ? 0.6 : 0.35);
      const double v = Vignetting(x, y, w, h);
      light[size_t(y * w + x)] = float(300 * gain * v) + noise(rng);
      flat[size_t(y * w + x)] = float(1000 * gain * v);
    }
  Source(w, h, {light});
  PutImage(3, w, h, {flat});
  DivideByImage(1, 2, 3, true, true);
  std::vector<float> cls[4];
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) cls[MosaicCellClass(x, y, 0)].push_back(Store.Image[2].At(1, x, y));
  const double green = Quantile(cls[1], 0.5);
  EXPECT_GT(green, 0);
  for (int c = 1; c <= 3; ++c) {
    EXPECT_NEAR(Quantile(cls[c], 0.5), green, 0.02 * green) << "class " << c;
    EXPECT_LT(RelativeSpread(cls[c]), 0.05) << "class " << c;
  }
}

TEST_F(FlatDivisionTest, VectorAndScalarPathsAgree) {
  // Colour light and flat with blank light pixels, dark flat pixels and a flat
  // narrower than the light (odd widths leave a tail for the scalar loop).
  const int w = 203, h = 61, fw = 197;
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(0, 3);
  std::vector<std::vector<float>> light(3, std::vector<float>(size_t(w * h))), flat(3, std::vector<float>(size_t(fw * h)));
  for (int p = 0; p < 3; ++p)
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x)
        light[size_t(p)][size_t(y * w + x)] = (x * 7 + y) % 41 == 0 ? BlankPixel : float(400 + 50 * p + x) + noise(rng);
      for (int x = 0; x < fw; ++x)
        flat[size_t(p)][size_t(y * fw + x)] = (x + 3 * y) % 37 == 0 ? 5.0f : float(1000 * Vignetting(x, y, fw, h));
    }
  PutImage(3, fw, h, {flat[0], flat[1], flat[2]});
  const bool savedSse2 = Sse2Enabled;
  for (const bool automatic : {false, true}) {
    std::vector<std::vector<float>> results;
    for (const bool vector : {false, true}) {
      Sse2Enabled = vector;
      Source(w, h, {light[0], light[1], light[2]});
      DivideByImage(1, 2, 3, true, automatic);
      for (int p = 1; p <= 3; ++p) results.push_back(Plane(2, p));
    }
    for (int p = 0; p < 3; ++p)
      EXPECT_EQ(std::memcmp(results[size_t(p)].data(), results[size_t(p + 3)].data(), size_t(w * h) * sizeof(float)), 0)
          << "automatic " << automatic << " plane " << p + 1;
  }
  Sse2Enabled = savedSse2;
}

// The means on threads equal GetPlaneMean's to the bit: planes whose sums are
// exact in any order (noisy levels, whole numbers with small ones, zeros,
// blanks, NaN, subnormals) and planes whose sums round (mixed magnitudes,
// infinity), which fall back to the one running sum.
TEST_F(FlatDivisionTest, PlaneMeansOnThreadsAreGetPlaneMeans) {
  const int w = 517, h = 300;
  std::mt19937 rng(5);
  std::normal_distribution<float> noise(0, 10);
  std::vector<std::vector<float>> kinds(6, std::vector<float>(size_t(w * h)));
  for (size_t i = 0; i < kinds[0].size(); ++i) {
    kinds[0][i] = 16000 + noise(rng);
    kinds[1][i] = float(rng() % 60000) + (i % 997 == 0 ? 3.0f : 0.0f);
    kinds[2][i] = i % 13 == 0 ? 0.0f : i % 17 == 0 ? BlankPixel : i % 19 == 0 ? std::nanf("") : 0.5f + noise(rng) / 64;
    kinds[3][i] = i % 101 == 0 ? 1e-42f : float(i % 7) * 1e-40f;
    kinds[4][i] = i % 48 == 0 ? 0x1p29f : i % 48 == 5 ? -0x1p29f : 0.001f + noise(rng) / 1e4f;
    kinds[5][i] = i == 4000 ? std::numeric_limits<float>::infinity() : 100 + noise(rng);
  }
  for (size_t k = 0; k < kinds.size(); k += 3) {
    PutImage(3, w, h, {kinds[k], kinds[k + 1], kinds[k + 2]});
    const std::vector<int> planes{1, 2, 3};
    for (const bool vector : {false, true}) {
      Sse2Enabled = vector;
      for (const int threads : {2, 8}) {
        const std::array<float, 4> means = FlatPlaneMeans(3, planes, threads);
        for (const int p : planes) {
          const float want = GetPlaneMean(3, p);
          EXPECT_EQ(std::memcmp(&means[size_t(p)], &want, sizeof want), 0) << "kind " << k + size_t(p) - 1;
        }
      }
    }
  }
  Sse2Enabled = false;
}

// The histogram of the automatic fit four samples at a time: the scalar one.
TEST_F(FlatDivisionTest, HistogramOfFourSamplesAtATime) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> flat(0.0, 1.6);
  std::vector<TFlatSample> samples;
  for (int i = 0; i < 4003; ++i)
    samples.push_back({int32_t(rng() % 3000), int32_t(rng() % 2000), float(rng() % 40000) - 2000, flat(rng)});
  const TFlatFrame frame{.Width = 3000, .Height = 2000, .Unit = 700, .ValueRange = 35000, .Bins = 1500};
  const TFlatSampleColumns columns(samples, frame);
  const TFlatResponse curved{.C0 = 0.7, .C1 = 0.35, .C2 = -0.05, .Gx = 2, .Gy = -1.5};
  for (const TFlatResponse& r : {TFlatResponse{}, curved}) {
    std::vector<int32_t> scalar, vector;
    const double a = FlatHistogramPeak(columns, r, frame, scalar, false);
    const double b = FlatHistogramPeak(columns, r, frame, vector, true);
    EXPECT_EQ(scalar, vector);
    EXPECT_EQ(a, b);
  }
}

}  // namespace
}  // namespace astrelon::test
