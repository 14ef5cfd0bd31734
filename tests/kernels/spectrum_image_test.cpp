// Spectrum images: padding, layout and scaling against numpy, round trips,
// and the same bits on every code path and worker count.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "../frequency/numpy_oracle.h"
#include "../frequency/spectrum_fixture.h"
#include "kernels/fft/fft_edges.h"
#include "kernels/fft/spectrum_conversion.h"
#include "kernels/fft/spectrum_image.h"
#include "kernels/fft/spectrum_pow2.h"

namespace astrelon {
namespace {

using test::MakeImage;
using test::Sky;

class SpectrumImage : public test::StoreTest {};

// The largest difference relative to the largest reference value (1 when the sizes differ).
double RelativeError(const std::vector<double>& ref, const std::vector<double>& got) {
  if (ref.size() != got.size() || ref.empty()) return 1.0;
  double largest = 0, worst = 0;
  for (size_t i = 0; i < ref.size(); ++i) {
    largest = std::max(largest, std::abs(ref[i]));
    worst = std::max(worst, std::abs(ref[i] - got[i]));
  }
  return worst / largest;
}

TEST_F(SpectrumImage, SizesMeanBinAndRoundTrips) {
  MakeImage(1, 100, 100, 1, Sky);
  const int s = ImageToFft2D(1, 0, 0);
  ASSERT_EQ(s, 2);
  EXPECT_EQ(Store.Image[2].Width, 102);
  EXPECT_EQ(Store.Image[2].Height, 100);
  EXPECT_EQ(Store.Image[2].FftWidth, 100);
  double mean = 0;
  for (float v : Store.Image[1].Planes[1]) mean += v;
  mean /= 10000.0;
  EXPECT_NEAR(Store.Image[2].At(1, 0, 50), mean, 1e-4);
  EXPECT_EQ(Store.Image[2].At(1, 51, 50), 0.0f);  // imaginary part of bin 0

  MakeImage(3, 97, 97, 1, Sky);
  const int t = ImageToFft2D(3, 0, 8);
  EXPECT_EQ(Store.Image[size_t(t)].Width, 110);
  EXPECT_EQ(Store.Image[size_t(t)].Height, 108);

  // Round trips with inner margin 0 return the source size and values; blank
  // pixels come back filled.
  struct TCase {
    int w, h, planes, outer;
  };
  for (const TCase c : {TCase{100, 100, 1, 0}, {97, 61, 3, 8}, {41, 83, 1, 3}, {8, 5, 1, 0}}) {
    Store.Reset();
    MakeImage(1, c.w, c.h, c.planes, Sky);
    Store.Image[1].At(1, 2, 3) = BlankPixel;
    const int spectrum = ImageToFft2D(1, 0, c.outer);
    ASSERT_GE(spectrum, 1);
    const int back = FftToImage2D(spectrum, -1, c.outer);
    ASSERT_GE(back, 1) << c.w << " x " << c.h;
    const TImageSlot& im = Store.Image[size_t(back)];
    ASSERT_EQ(im.Width, c.w);
    ASSERT_EQ(im.Height, c.h);
    ASSERT_EQ(im.PlaneCount, c.planes);
    for (int p = 1; p <= c.planes; ++p)
      for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
          if (p == 1 && x == 2 && y == 3) continue;
          ASSERT_NEAR(im.At(p, x, y), Store.Image[1].At(p, x, y), 1e-5 * std::abs(Store.Image[1].At(p, x, y)))
              << x << ", " << y;
        }
    EXPECT_TRUE(IsValidPixel(im.At(1, 2, 3)));
    EXPECT_NEAR(im.At(1, 2, 3), Store.Image[1].At(1, 3, 3), 30.0);
  }
}

TEST_F(SpectrumImage, InverseRefusesSlotsThatAreNoSpectrumOfTheirSize) {
  MakeImage(1, 109, 50, 1, Sky);
  Store.Image[1].FftWidth = 107;  // asks for N = 108, so a width of 110
  Store.Image[1].FftHeight = 50;
  EXPECT_EQ(FftToImage2D(1, -1, 0), -1);
  EXPECT_EQ(FindFreeSlot(), 2);
  Store.Image[1].FftWidth = 3;  // no recorded size
  EXPECT_EQ(FftToImage2D(1, 5, 0), 5);
  EXPECT_FALSE(Store.InUse[5]);
  MakeImage(2, 18, 16, 1, Sky);
  Store.Image[2].FftWidth = 16;
  Store.Image[2].FftHeight = 16;
  EXPECT_EQ(FftToImage2DPow2(2, -1, 0, 0), 3);
  Store.Image[2].Width = 17;
  EXPECT_EQ(FftToImage2DPow2(2, -1, 0, 0), -1);
}

// Columns N and N + 1 are 0, the inner margin is clamped to half the image, and
// the margins of a 5 × 4 image (outer 3, inner 1) run as worked out by hand:
// ramps over the gap and a box of column means that crosses the wrap.
TEST_F(SpectrumImage, EdgeAdaptation) {
  MakeImage(1, 5, 4, 1, [](int x, int y, int) { return float(x + 10 * y); });
  ASSERT_TRUE(AdaptFftEdges(1, 1, 3, true));
  const TImageSlot& im = Store.Image[1];
  ASSERT_EQ(im.Width, 10);
  ASSERT_EQ(im.Height, 8);
  EXPECT_EQ(im.FftWidth, 5);
  EXPECT_EQ(im.FftHeight, 4);
  const float expected[8][8] = {
      {1.29059f, 1.51176f, 2.51112f, 3.51111f, 4.98740f, 8.93928f, 15.33355f, 6.65452f},
      {10.11647f, 11.0f, 12.0f, 13.0f, 13.92070f, 13.33207f, 12.37966f, 10.98093f},
      {20.08986f, 21.0f, 22.0f, 23.0f, 23.89408f, 23.10794f, 21.83593f, 20.75680f},
      {29.02334f, 30.48953f, 31.48889f, 32.48889f, 32.72016f, 27.43116f, 18.87339f, 25.14640f},
      {25.56853f, 26.61215f, 27.60666f, 28.60660f, 28.44951f, 23.44331f, 15.34311f, 21.66277f},
      {19.73904f, 19.89632f, 20.88245f, 21.88229f, 21.20693f, 17.83656f, 12.38318f, 16.92935f},
      {12.80694f, 12.13174f, 13.11787f, 14.11772f, 14.27482f, 17.08327f, 21.62743f, 16.17607f},
      {5.55629f, 5.39894f, 6.39346f, 7.39340f, 8.43726f, 12.34489f, 18.66757f, 10.56435f}};
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) EXPECT_NEAR(im.At(1, x, y), expected[y][x], 2e-5) << x << ", " << y;
    EXPECT_EQ(im.At(1, 8, y), 0.0f);
    EXPECT_EQ(im.At(1, 9, y), 0.0f);
  }

  MakeImage(2, 20, 20, 1, Sky);
  MakeImage(3, 20, 20, 1, Sky);
  ASSERT_TRUE(AdaptFftEdges(2, 50, 8, true));
  ASSERT_TRUE(AdaptFftEdges(3, 10, 8, true));
  EXPECT_EQ(test::PlaneOf(2, 1), test::PlaneOf(3, 1));
  // Without any margin the image is only widened, columns N, N + 1 zero.
  MakeImage(4, 6, 4, 1, Sky);
  ASSERT_TRUE(AdaptFftEdges(4, 0, 0, true));
  EXPECT_EQ(Store.Image[4].Width, 8);
  EXPECT_EQ(Store.Image[4].At(1, 5, 3), Sky(5, 3, 1));
  EXPECT_EQ(Store.Image[4].At(1, 7, 3), 0.0f);
}

// Spectra of the padded image as numpy computes them: rfft2 with the rows
// shifted so that vertical bin 0 is row M/2, divided by N·M.
TEST_F(SpectrumImage, MixedRadixAndPowerOfTwoSpectraMatchNumpy) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "/usr/bin/python3 cannot import numpy";
  struct TCase {
    int w, h, planes, inner, outer;
  };
  for (const TCase c : {TCase{37, 23, 1, 0, 0}, {40, 30, 3, 2, 8}, {64, 81, 1, 0, 5}, {15, 9, 1, 2, 0}}) {
    Store.Reset();
    MakeImage(1, c.w, c.h, c.planes, Sky);
    const int spectrum = ImageToFft2D(1, c.inner, c.outer);
    ASSERT_GE(spectrum, 1);
    ASSERT_TRUE(CopyImageSlot(1, 10));
    ASSERT_TRUE(AdaptFftEdges(10, c.inner, c.outer, true));
    const int N = Store.Image[10].Width - 2, M = Store.Image[10].Height;
    ASSERT_EQ(Store.Image[size_t(spectrum)].Width, N + 2);
    for (int p = 1; p <= c.planes; ++p) {
      std::vector<double> padded, got;
      for (int y = 0; y < M; ++y)
        for (int x = 0; x < N; ++x) padded.push_back(Store.Image[10].At(p, x, y));
      for (float v : Store.Image[size_t(spectrum)].Planes[size_t(p)]) got.push_back(v);
      test::NumpyOracle np;
      np.Put("padded", padded);
      ASSERT_TRUE(np.Run("a = np.fromfile(d + 'padded.f64').reshape(" + std::to_string(M) + ", " +
                         std::to_string(N) + ")\n"
                         "f = np.fft.fftshift(np.fft.rfft2(a), axes=0) / a.size\n"
                         "np.concatenate([f.real, f.imag], axis=1).tofile(d + 'ref.f64')"));
      EXPECT_LT(RelativeError(np.Get("ref"), got), 1e-6) << c.w << " x " << c.h << " plane " << p;
    }
  }

  // Power of two: sizes without a tail, rows and columns starting at (5, 3), so
  // the image is rolled to put that pixel at the origin; natural row order.
  Store.Reset();
  MakeImage(1, 32, 16, 1, Sky);
  const int spectrum = ImageToFft2DPow2(1, 5, 3, true);
  ASSERT_GE(spectrum, 1);
  ASSERT_EQ(Store.Image[size_t(spectrum)].Width, 34);
  ASSERT_EQ(Store.Image[size_t(spectrum)].Height, 17);
  std::vector<double> image, got;
  for (float v : Store.Image[1].Planes[1]) image.push_back(v);
  for (float v : Store.Image[size_t(spectrum)].Planes[1]) got.push_back(v);
  test::NumpyOracle np;
  np.Put("image", image);
  ASSERT_TRUE(np.Run("a = np.roll(np.fromfile(d + 'image.f64').reshape(16, 32), (-3, -5), axis=(0, 1))\n"
                     "f = np.fft.rfft2(a) / a.size\n"
                     "f = np.concatenate([f.real, f.imag], axis=1)\n"
                     "np.concatenate([f, f[:1]]).tofile(d + 'ref.f64')"));
  EXPECT_LT(RelativeError(np.Get("ref"), got), 1e-6);
}

TEST_F(SpectrumImage, PowerOfTwoRoundTripUndoesTheStartOffsets) {
  MakeImage(1, 45, 27, 3, Sky);
  const int spectrum = ImageToFft2DPow2(1, 7, 4, false);
  ASSERT_GE(spectrum, 1);
  EXPECT_EQ(Store.Image[size_t(spectrum)].Width, 66);
  EXPECT_EQ(Store.Image[size_t(spectrum)].Height, 32);
  const int back = FftToImage2DPow2(spectrum, -1, 64 - 7, 32 - 4);
  ASSERT_GE(back, 1);
  const TImageSlot& im = Store.Image[size_t(back)];
  ASSERT_EQ(im.Width, 45);
  ASSERT_EQ(im.Height, 27);
  for (int p = 1; p <= 3; ++p)
    for (int y = 0; y < 27; ++y)
      for (int x = 0; x < 45; ++x) ASSERT_NEAR(im.At(p, x, y), Store.Image[1].At(p, x, y), 2e-3) << x << ", " << y;
}

// Every code path and worker count gives the same bits.
TEST_F(SpectrumImage, SameBitsForEveryPathAndWorkerCount) {
  MakeImage(1, 301, 203, 3, Sky);
  std::vector<std::vector<float>> results;
  for (const bool vector : {false, true})
    for (const bool multicore : {false, true}) {
      test::PathAndThreads guard(vector, multicore);
      const int spectrum = ImageToFft2D(1, 2, 8);
      const int back = FftToImage2D(spectrum, -1, 8);
      const int pow2 = ImageToFft2DPow2(1, 3, 2, true);
      const int pow2Back = FftToImage2DPow2(pow2, -1, 3, 2);
      std::vector<float> all;
      for (const int s : {spectrum, back, pow2, pow2Back})
        for (int p = 1; p <= 3; ++p) {
          const std::vector<float> q = test::PlaneOf(s, p);
          all.insert(all.end(), q.begin(), q.end());
        }
      results.push_back(all);
      for (const int s : {spectrum, back, pow2, pow2Back}) FreeSlot(s);
    }
  for (size_t i = 1; i < results.size(); ++i) EXPECT_TRUE(results[i] == results[0]) << "run " << i;
}

// Centre peak and corner power of a 10 × 8 spectrum (N = 8, zero frequency in row 4).
TEST_F(SpectrumImage, CentrePeakAndCornerPower) {
  MakeImage(1, 10, 8, 1, [](int, int, int) { return 0.0f; });
  TImageSlot& im = Store.Image[1];
  const int half = 5;
  im.At(1, 0, 4) = 10.0f;                            // bin (0, 0)
  im.At(1, 1, 4) = 3.0f, im.At(1, half + 1, 4) = 4.0f;  // bin (1, 0): power 25
  im.At(1, 0, 5) = 2.0f;                             // bin (0, +1)
  im.At(1, half, 3) = 1.0f;                          // bin (0, −1)
  EXPECT_DOUBLE_EQ(CentrePeak(1, 1, false), 25.0);
  EXPECT_DOUBLE_EQ(CentrePeak(1, 1, true), 100.0);
  // d = 1: rows 0 and 7 count columns 3 and 4, rows 1 and 6 column 4.
  EXPECT_DOUBLE_EQ(CornerPower(1, 1), 0.0);
  for (const auto& [x, y] : {std::pair{3, 0}, {4, 0}, {3, 7}, {4, 7}, {4, 1}}) im.At(1, x, y) = 1.0f;
  im.At(1, half + 4, 6) = 2.0f;
  im.At(1, 2, 0) = 50.0f;  // outside the triangles
  EXPECT_DOUBLE_EQ(CornerPower(1, 1), 9.0 / 6.0);
}

}  // namespace
}  // namespace astrelon
