// Fourier deconvolution: a delta PSF returns the image, a Gauss PSF sharpens
// stars blurred by scipy, the spectrum step against numpy, PSF images of every
// size, the abort, the same bits on every path, and the "Stärke" blend.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <numeric>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "frequency/deconvolution/deconvolution.h"
#include "frequency/deconvolution/deconvolution_mix.h"
#include "frequency/deconvolution/deconvolution_psf.h"
#include "frequency/deconvolution/deconvolution_spectrum.h"
#include "frequency/deconvolution/psf_designer.h"
#include "frequency/deconvolution/psf_images.h"
#include "kernels/fft/spectrum_image.h"
#include "numpy_oracle.h"
#include "spectrum_fixture.h"
#include "store/display/display_histogram.h"

namespace astrelon {
namespace {

using test::MakeImage;
using test::PathAndThreads;
using test::PlaneOf;
using test::Sky;

class Deconvolution : public test::StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    saved_ = Options;
    savedSettings_ = Settings;
    AbortRequested = 0;
  }
  void TearDown() override {
    Options = saved_;
    Settings = savedSettings_;
    AbortRequested = 0;
    SetEngineUi(nullptr);
    StoreTest::TearDown();
  }
  // A w × h PSF image in `slot` holding `v` at (x, y) and 0 elsewhere.
  static void DeltaPsf(int slot, int w, int h, int x, int y, float v = 1.0f, int planes = 1) {
    MakeImage(slot, w, h, planes, [=](int i, int j, int) { return i == x && j == y ? v : 0.0f; });
  }
  static double Mean(int slot) {
    const std::vector<float> v = PlaneOf(slot, 1);
    return std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
  }
  TProgramOptions saved_;
  TSettingsVars savedSettings_;
};

double MaxDifference(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size()) return 1e30;
  double worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(double(a[i]) - double(b[i])));
  return worst;
}

TEST_F(Deconvolution, DeltaPsfOfAnySizeGivesTheImageBack) {
  struct Case {
    const char* what;
    int w, h, x, y, planes;
    bool colour;
  };
  // The image is 60 × 40 (transform lengths near 68 × 48 with the outer margin of 8).
  // Without the border level: a 1 × 1 PSF is all border.
  Options.PsfScale = 0;
  for (const Case& c : {Case{"64 x 64 designed size", 64, 64, 31, 31, 1, false},
                        Case{"1 x 1", 1, 1, 0, 0, 1, false},
                        Case{"wider than the transform", 301, 9, 150, 4, 1, false},
                        Case{"taller than the image", 7, 501, 3, 250, 1, false},
                        Case{"even sizes", 10, 6, 4, 2, 1, false},
                        Case{"colour PSF for a grey image", 9, 9, 4, 4, 3, true}}) {
    SCOPED_TRACE(c.what);
    Store.Reset();
    MakeImage(1, 60, 40, 1, Sky);
    ASSERT_TRUE(CopyImageSlot(1, 2));
    DeltaPsf(3, c.w, c.h, c.x, c.y, 5.0f, c.planes);
    if (c.colour)  // planes 2 and 3 would blur; only plane 1 serves a grey image
      for (int p = 2; p <= 3; ++p) std::fill(Store.Image[3].Planes[p].begin(), Store.Image[3].Planes[p].end(), 1.0f);
    const double mean = Mean(1);
    ASSERT_TRUE(DeconvolutionBerechnen(1, 2, 3, 0.0001));
    EXPECT_LT(MaxDifference(PlaneOf(2, 1), PlaneOf(1, 1)), 1e-3);
    EXPECT_NEAR(Mean(2), mean, 1e-4);
    EXPECT_EQ(CountOpenWindows(), 3);  // every work slot went again
  }
}

TEST_F(Deconvolution, BlankPixelsAndBorderLevelOfThePsfAreLeftOut) {
  Options.PsfScale = 1;
  MakeImage(1, 50, 30, 3, Sky);
  ASSERT_TRUE(CopyImageSlot(1, 2));
  // A delta on a level of 20 with blank pixels, some on the border: the border median goes.
  MakeImage(3, 15, 11, 1, [](int x, int y, int) { return x == 7 && y == 5 ? 120.0f : 20.0f; });
  for (const auto& [x, y] : {std::pair{0, 0}, {3, 4}, {14, 10}}) Store.Image[3].At(1, x, y) = BlankPixel;
  Store.Image[3].At(1, 9, 2) = NAN;
  ASSERT_TRUE(DeconvolutionBerechnen(1, 2, 3, 0.0001));
  for (int p = 1; p <= 3; ++p) EXPECT_LT(MaxDifference(PlaneOf(2, p), PlaneOf(1, p)), 1e-3) << p;
}

TEST_F(Deconvolution, NothingHappensWithoutAUsablePsfOrSlot) {
  MakeImage(1, 40, 30, 1, Sky);
  ASSERT_TRUE(CopyImageSlot(1, 2));
  const std::vector<float> before = PlaneOf(2, 1);
  EXPECT_FALSE(DeconvolutionBerechnen(1, 2, -1, 1.0));
  EXPECT_FALSE(DeconvolutionBerechnen(1, 2, 9, 1.0));  // not in use
  MakeImage(3, 8, 8, 1, [](int, int, int) { return 0.0f; });
  EXPECT_FALSE(DeconvolutionBerechnen(1, 2, 3, 1.0));  // only zeros
  DeltaPsf(3, 8, 8, 3, 3);
  // Every other slot taken: no room for the spectrum.
  for (int s = 4; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 1;
  EXPECT_FALSE(DeconvolutionBerechnen(1, 2, 3, 1.0));
  for (int s = 4; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 0;
  // An image too small to transform.
  MakeImage(4, 3, 3, 1, Sky);
  EXPECT_FALSE(DeconvolutionBerechnen(4, 4, 3, 1.0));
  EXPECT_EQ(PlaneOf(2, 1), before);
  EXPECT_EQ(CountOpenWindows(), 4);
}

// Raises the abort flag at the n-th message pass (as a second click on "&Berechnen" would).
class AbortAt : public TEngineUi {
public:
  explicit AbortAt(int n) : n_(n) {}
  void ProcessMessages() override {
    if (++calls_ == n_) AbortRequested = 1;
  }
  int calls_ = 0;

private:
  int n_;
};

TEST_F(Deconvolution, AbortBetweenStagesLeavesTheDestination) {
  MakeImage(1, 40, 30, 1, Sky);
  DeltaPsf(3, 9, 9, 2, 6);  // off centre: the result would move
  for (int stage = 1; stage <= 4; ++stage) {
    ASSERT_TRUE(CopyImageSlot(1, 2));
    AbortRequested = 0;
    AbortAt ui(stage);
    SetEngineUi(&ui);
    EXPECT_FALSE(DeconvolutionBerechnen(1, 2, 3, 1.0)) << stage;
    EXPECT_EQ(PlaneOf(2, 1), PlaneOf(1, 1)) << stage;
    EXPECT_EQ(CountOpenWindows(), 3) << stage;
  }
  AbortRequested = 0;
  AbortAt none(99);
  SetEngineUi(&none);
  EXPECT_TRUE(DeconvolutionBerechnen(1, 2, 3, 1.0));
  EXPECT_EQ(none.calls_, 4);
  EXPECT_NE(PlaneOf(2, 1), PlaneOf(1, 1));
}

TEST_F(Deconvolution, OnlyTheSelectedChannelsChange) {
  MakeImage(1, 40, 30, 3, Sky);
  ASSERT_TRUE(CopyImageSlot(1, 2));
  Store.Display[2].ChannelSelection = 2;  // green only
  MakeImage(3, 9, 9, 1, [](int x, int y, int) { return float(std::exp(-((x - 4) * (x - 4) + (y - 4) * (y - 4)) / 3.0)); });
  ASSERT_TRUE(DeconvolutionBerechnen(1, 2, 3, 0.01));
  EXPECT_EQ(FirstChannel(2), 2);
  EXPECT_EQ(PlaneOf(2, 1), PlaneOf(1, 1));
  EXPECT_EQ(PlaneOf(2, 3), PlaneOf(1, 3));
  EXPECT_GT(MaxDifference(PlaneOf(2, 2), PlaneOf(1, 2)), 0.1);
}

// Stars blurred by scipy's Gauss filter (σ 1.5) and deconvolved with the
// designer's Gauss PSF of that width come out narrower.
TEST_F(Deconvolution, GaussPsfSharpensStarsBlurredByScipy) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy missing";
  constexpr int W = 120, H = 90;
  const std::vector<std::pair<int, int>> stars = {{20, 20}, {60, 25}, {95, 18}, {30, 65}, {70, 60}, {100, 72}};
  std::vector<double> sharp(size_t(W * H), 100.0);
  for (const auto& [sx, sy] : stars)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const double r2 = (x - sx) * (x - sx) + (y - sy) * (y - sy);
        sharp[size_t(y * W + x)] += 2000.0 * std::exp(-r2 / (2 * 0.7 * 0.7));
      }
  test::NumpyOracle np;
  np.Put("sharp", sharp);
  ASSERT_TRUE(np.Run("from scipy.ndimage import gaussian_filter\n"
                     "a = np.fromfile(d + 'sharp.f64').reshape(" + std::to_string(H) + ", " + std::to_string(W) +
                     ")\n"
                     "gaussian_filter(a, 1.5).tofile(d + 'blurred.f64')\n"));
  const std::vector<double> blurred = np.Get("blurred");
  ASSERT_EQ(blurred.size(), sharp.size());
  MakeImage(1, W, H, 1, [&](int x, int y, int) { return float(blurred[size_t(y * W + x)]); });
  ASSERT_TRUE(CopyImageSlot(1, 2));

  // The designer's Gauss e^(−d²/R²) is that of σ 1.5 for R = 1.5·√2.
  TPsfDesigner d;
  ASSERT_TRUE(BuildDesignerPsf(d, 1, 10, 1.5 * std::sqrt(2.0), 1.0));
  CombineDesignerPsf(d);
  const int psf = PsfGridToNewSlot(d.DesignedPsf, "PSF_0.fit");
  ASSERT_GE(psf, 3);
  ASSERT_TRUE(DeconvolutionBerechnen(1, 2, psf, 0.05));

  // Width of a star: the pixels at or above half its peak over the background.
  auto area = [](int slot, int sx, int sy) {
    const TImageSlot& im = Store.Image[size_t(slot)];
    const double peak = im.At(1, sx, sy) - 100.0;
    int n = 0;
    for (int y = sy - 7; y <= sy + 7; ++y)
      for (int x = sx - 7; x <= sx + 7; ++x) n += im.At(1, x, y) - 100.0 >= peak / 2;
    return n;
  };
  for (const auto& [sx, sy] : stars) {
    EXPECT_LT(area(2, sx, sy), area(1, sx, sy)) << sx << "," << sy;
    EXPECT_GT(Store.Image[2].At(1, sx, sy), Store.Image[1].At(1, sx, sy));
  }
  for (float v : Store.Image[2].Planes[1]) ASSERT_TRUE(std::isfinite(v));
  EXPECT_NEAR(Mean(2), Mean(1), 0.005 * Mean(1));
}

// Steps of the PSF rows and the division, written out in numpy.
TEST_F(Deconvolution, SpectrumDivisionMatchesNumpy) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy missing";
  Options.PsfScale = 0;
  MakeImage(1, 50, 37, 1, Sky);
  const int s = ImageToFft2D(1, 0, 5);
  ASSERT_GE(s, 2);
  const int Nx = Store.Image[size_t(s)].Width - 2, Ny = Store.Image[size_t(s)].Height;
  // An uneven PSF of 7 × 5 with its centre off the middle row and column values.
  MakeImage(9, 7, 5, 1, [](int x, int y, int) { return float(1 + x * 3 + y * y + (x == 3 && y == 2 ? 40 : 0)); });
  const std::vector<float> before = PlaneOf(s, 1);
  const TPsfRowSpectra rows = PsfRowSpectra(CopyPsfImage(9), Nx, Ny);
  ASSERT_TRUE(DeconvolveSpectrumPlane(s, 1, rows, 1, 0.3));

  test::NumpyOracle np;
  np.Put("S", std::vector<double>(before.begin(), before.end()));
  const std::vector<float> psf = PlaneOf(9, 1);
  np.Put("psf", std::vector<double>(psf.begin(), psf.end()));
  const std::string N = std::to_string(Nx), M = std::to_string(Ny);
  ASSERT_TRUE(np.Run(
      "Nx, Ny = " + N + ", " + M + "\n"
      "W = Nx + 2; half = Nx // 2 + 1\n"
      "S = np.fromfile(d + 'S.f64').reshape(Ny, W)\n"
      "F = S[:, :half] + 1j * S[:, half:2 * half]\n"
      "psf = np.fromfile(d + 'psf.f64').reshape(5, 7)\n"
      "h, w = psf.shape; cx = (w - 1) // 2; cy = (h - 1) // 2\n"
      "rows = np.zeros((h, Nx))\n"
      "for j in range(Nx):\n"
      "    t = (cx + j) % Nx\n"
      "    if t < w: rows[:, j] = psf[:, t]\n"
      "R = np.fft.rfft(rows, axis=1) / Nx\n"
      "R = R.real.astype(np.float32) + 1j * R.imag.astype(np.float32)\n"
      "col = np.zeros((Ny, half), complex)\n"
      "for r in range(h): col[(r - cy) % Ny] = R[r]\n"
      "H = np.fft.fft(col / Ny, axis=0)\n"
      "row = lambda b: (b + Ny // 2) % Ny\n"
      "P = max(abs(F[row(0), 1])**2, abs(F[row(1), 0])**2, abs(F[row(Ny - 1), 0])**2, 1e-30)\n"
      "dd = Ny // 8; tot = 0.0; cnt = 0\n"
      "for j in range(dd + 1):\n"
      "    for rr in (j, Ny - 1 - j):\n"
      "        for k in range(max(Nx // 2 - dd + j, 0), Nx // 2 + 1):\n"
      "            tot += abs(F[rr, k])**2; cnt += 1\n"
      "C = tot / cnt\n"
      "r = max(np.sqrt(C / P), 1e-30)\n"
      "K = float(np.float32(0.3 * r * 500)); G = K + 1\n"
      "Pm = max(abs(H[0, 0])**2, abs(H[1, 0])**2, abs(H[Ny - 1, 0])**2, 1e-15)\n"
      "K *= Pm; G *= np.sqrt(Pm)\n"
      "for y in range(Ny):\n"
      "    h_ = H[(y + Ny // 2) % Ny]\n"
      "    F[y] = F[y] * np.conj(h_) * G / (abs(h_)**2 + K)\n"
      "out = S.copy(); out[:, :half] = F.real; out[:, half:2 * half] = F.imag\n"
      "out.tofile(d + 'out.f64')\n"));
  const std::vector<double> ref = np.Get("out");
  const std::vector<float> got = PlaneOf(s, 1);
  ASSERT_EQ(ref.size(), got.size());
  double largest = 0, worst = 0;
  for (size_t i = 0; i < ref.size(); ++i) {
    largest = std::max(largest, std::abs(ref[i]));
    worst = std::max(worst, std::abs(ref[i] - double(got[i])));
  }
  EXPECT_LT(worst / largest, 2e-6);
}

TEST_F(Deconvolution, SameBitsOnEveryPathWorkerCountAndRun) {
  MakeImage(1, 600, 400, 1, Sky);
  TPsfDesigner d;
  ASSERT_TRUE(BuildDesignerPsf(d, 1, 5, 2.0, 1.3));
  CombineDesignerPsf(d);
  const int psf = PsfGridToNewSlot(d.DesignedPsf, "PSF_0.fit");
  std::vector<float> first;
  for (const auto& [vector, multicore] : {std::pair{true, true}, {false, false}, {true, false}, {false, true},
                                          {true, true}}) {
    const PathAndThreads path(vector, multicore);
    ASSERT_TRUE(CopyImageSlot(1, 5));
    ASSERT_TRUE(DeconvolutionBerechnen(1, 5, psf, 0.2));
    const std::vector<float> got = PlaneOf(5, 1);
    if (first.empty())
      first = got;
    else
      EXPECT_EQ(std::memcmp(got.data(), first.data(), got.size() * sizeof(float)), 0) << vector << multicore;
  }
}

class DeconvolutionMix : public test::StoreTest {};

TEST_F(DeconvolutionMix, StrengthBlendsLinearToQuadraticAtValidPixels) {
  const TProgramOptions saved = Options;
  MakeImage(1, 30, 20, 3, Sky);   // source
  MakeImage(2, 30, 20, 3, [](int, int, int) { return -7.0f; });  // destination
  MakeImage(3, 30, 20, 3, [](int x, int y, int p) { return float(x - 15) * 0.5f + float(y % 3) * float(p); });  // d
  Store.Display[1].Black = 100;
  Store.Display[1].White = 180;  // R = 40
  Store.Image[1].At(1, 4, 4) = BlankPixel;
  Store.Image[3].At(2, 5, 5) = BlankPixel;
  const std::atomic<bool> go{false};
  for (const int32_t position : {0, 30, 12}) {
    std::vector<float> first;
    // The vector path and its scalar twin, on one and on all cores: the same bits.
    for (const auto& [vector, multicore] : {std::pair{true, true}, {false, false}, {true, false}, {false, true}}) {
      const PathAndThreads path(vector, multicore);
      ASSERT_TRUE(MixDeconvolutionResult(1, 2, 3, position, go));
      const std::vector<float> got = PlaneOf(2, 2);
      if (first.empty()) first = got;
      EXPECT_EQ(std::memcmp(got.data(), first.data(), got.size() * sizeof(float)), 0) << vector << multicore;
      const double s = position / 30.0;
      for (int p = 1; p <= 3; ++p)
        for (int y = 0; y < 20; ++y)
          for (int x = 0; x < 30; ++x) {
            const float v = Store.Image[1].At(p, x, y), dd = Store.Image[3].At(p, x, y);
            const float value = Store.Image[2].At(p, x, y);
            if (!IsValidPixel(v) || !IsValidPixel(dd))
              EXPECT_EQ(value, -7.0f);
            else
              EXPECT_NEAR(value, v + dd * ((1 - s) + s * std::abs(dd) / 40.0), 1e-4) << position;
          }
    }
  }
  // A stop flag ends it with nothing further written.
  MakeImage(2, 30, 20, 3, [](int, int, int) { return -7.0f; });
  const std::atomic<bool> stop{true};
  EXPECT_FALSE(MixDeconvolutionResult(1, 2, 3, 30, stop));
  EXPECT_EQ(Store.Image[2].At(1, 0, 0), -7.0f);
  // Images of different sizes are not mixed.
  MakeImage(4, 31, 20, 3, Sky);
  EXPECT_FALSE(MixDeconvolutionResult(1, 2, 4, 30, go));
  Options = saved;
}

}  // namespace
}  // namespace astrelon
