// Finding a block, a star or a disc of one image in another: block matching,
// the star centroid and the point pairs collected from two windows.
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../pixelops/slot_images.h"
#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "fake_window.h"
#include "kernels/alignment/alignment_points.h"
#include "kernels/alignment/block_match_cost.h"
#include "kernels/alignment/determine_shift.h"
#include "kernels/alignment/stars/find_star_centroid.h"
#include "kernels/alignment/match_quality.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "platform/processor_features.h"
#include "registration/shift_test/shift_finding_sweeps.h"
#include "shell/slots/slot_utilities.h"
#include "store/planes/image_statistics.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

// A smooth texture without repeats inside the test images; (dx, dy) moves its
// content.
float Texture(double x, double y, double dx = 0, double dy = 0) {
  x -= dx;
  y -= dy;
  return float(500 + 120 * std::sin(0.31 * x + 0.7) * std::cos(0.23 * y) + 80 * std::sin(0.13 * x - 0.17 * y) +
               60 * std::cos(0.41 * y + 0.05 * x * 0.3) + 40 * std::sin(0.07 * x * y * 0.02 + 0.9));
}

void PutFunction(int slot, int w, int h, const std::function<float(int, int)>& f) {
  std::vector<float> v(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) v[size_t(y) * size_t(w) + size_t(x)] = f(x, y);
  PutImage(slot, w, h, {v});
}

// Runs a block with the vector path (and its 80-cell grid) on or off.
class SimdGuard {
public:
  explicit SimdGuard(bool on) : old_(SseEnabled) { SseEnabled = on; }
  ~SimdGuard() { SseEnabled = old_; }

private:
  bool old_;
};

TStarSearchOptions MosaicOptions(bool blockMatch = false, int other = 0, TFloatPoint refPoint = {}) {
  TStarSearchOptions o;
  o.IsMosaic = true;
  o.BlockMatch = blockMatch;
  o.OtherSlot = other;
  o.RefPoint = refPoint;
  return o;
}

class ShiftMeasurementTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    MatchQuality = 99.0;
    Settings.ShiftMode = 0;
    BatchRunning = 0;
    BatchDiscMode = 0;
    BatchStarApertures = {1, 1};
  }
  void TearDown() override {
    for (int s = 0; s < SlotArraySize; ++s) Store.Window[size_t(s)] = nullptr, Store.HasWindow[size_t(s)] = 0;
    StoreTest::TearDown();
  }
  static constexpr TWorkRect Block64{68, 131, 48, 111};  // centre (99.5, 79.5)
};

TEST_F(ShiftMeasurementTest, IdenticalImagesAndABrightnessOffsetGiveTheBlockCentre) {
  PutFunction(1, 200, 160, [](int x, int y) { return Texture(x, y); });
  PutFunction(2, 200, 160, [](int x, int y) { return Texture(x, y); });
  PutFunction(3, 200, 160, [](int x, int y) { return Texture(x, y) + 100; });
  for (bool vector : {false, true}) {
    SimdGuard simd(vector);
    for (int second : {2, 3}) {
      MatchQuality = 99.0;
      const TShiftResult r = FindShiftByCorrelation(1, 2, second, 2, Block64, Block64, 100, false, 1.0);
      EXPECT_NEAR(r.Position.X, 99.5, 0.05) << vector << second;
      EXPECT_NEAR(r.Position.Y, 79.5, 0.05);
      EXPECT_FLOAT_EQ(r.UsedScale, 1.0f);
      EXPECT_EQ(MatchQuality, 99.0);
    }
    // A measured contrast factor keeps the position.
    const TShiftResult r = FindShiftByCorrelation(1, 2, 3, 2, Block64, Block64, 100, false, -1);
    EXPECT_NEAR(r.Position.X, 99.5, 0.05);
    EXPECT_NEAR(r.Position.Y, 79.5, 0.05);
    EXPECT_GT(r.UsedScale, 0.5f);
  }
}

TEST_F(ShiftMeasurementTest, WholeAndFractionalShiftsOnBothPathsAndAnyThreadCount) {
  PutFunction(1, 220, 170, [](int x, int y) { return Texture(x, y); });
  PutFunction(2, 220, 170, [](int x, int y) { return Texture(x, y, 3, -2); });
  PutFunction(3, 220, 170, [](int x, int y) { return Texture(x, y, -4.3, 2.6); });
  for (bool vector : {false, true}) {
    SimdGuard simd(vector);
    MatchQuality = 99.0;
    TShiftResult r = FindShiftByCorrelation(1, 2, 2, 2, Block64, Block64, 100, false, -1);
    EXPECT_NEAR(r.Position.X, 102.5, 0.1) << vector;
    EXPECT_NEAR(r.Position.Y, 77.5, 0.1);
    EXPECT_GT(MatchQuality, 1.0);
    TShiftResult one, many;
    {
      MulticoreGuard off(false);
      one = FindShiftByCorrelation(1, 2, 3, 2, Block64, Block64, 100, false, -1);
    }
    {
      MulticoreGuard on(true);
      many = FindShiftByCorrelation(1, 2, 3, 2, Block64, Block64, 100, false, -1);
    }
    EXPECT_NEAR(one.Position.X, 99.5 - 4.3, 0.1);
    EXPECT_NEAR(one.Position.Y, 79.5 + 2.6, 0.1);
    EXPECT_EQ(one.Position.X, many.Position.X);
    EXPECT_EQ(one.Position.Y, many.Position.Y);
  }
}

TEST_F(ShiftMeasurementTest, FarShiftSearchedOnThreadsGivesTheSamePosition) {
  // A large block and a far match: the outer rings are computed on threads.
  PutFunction(1, 330, 330, [](int x, int y) { return Texture(x, y); });
  PutFunction(2, 330, 330, [](int x, int y) { return Texture(x, y, -27.6, 25.3); });
  SimdGuard simd(true);
  const TWorkRect block{90, 239, 90, 239};
  TShiftResult one, many;
  double qOne = 0;
  {
    MulticoreGuard off(false);
    one = FindShiftByCorrelation(1, 2, 2, 2, block, block, 100, false, 1.0);
    qOne = MatchQuality;
  }
  MatchQuality = 99.0;
  {
    MulticoreGuard on(true);
    many = FindShiftByCorrelation(1, 2, 2, 2, block, block, 100, false, 1.0);
  }
  EXPECT_NEAR(one.Position.X, 164.5 - 27.6, 0.1);
  EXPECT_NEAR(one.Position.Y, 164.5 + 25.3, 0.1);
  EXPECT_EQ(one.Position.X, many.Position.X);
  EXPECT_EQ(one.Position.Y, many.Position.Y);
  EXPECT_EQ(qOne, MatchQuality);
}

TEST_F(ShiftMeasurementTest, NarrowBlocksGridEdgesAndEmptySearchesFail) {
  PutFunction(1, 120, 100, [](int x, int y) { return Texture(x, y); });
  PutFunction(2, 120, 100, [](int x, int y) { return Texture(x, y, 2.4, 0); });
  // Narrower than 3 pixels: (0, 0) and quality 0.
  TShiftResult r = FindShiftByCorrelation(1, 2, 2, 2, {50, 51, 40, 60}, {50, 51, 40, 60}, 100, false, -1);
  EXPECT_EQ(r.Position.X, 0.0f);
  EXPECT_EQ(r.Position.Y, 0.0f);
  EXPECT_EQ(MatchQuality, 0.0);
  // Radius 8: an 8-cell grid reaching 2 pixels to the right; its last column
  // holds the best match of the shift by 2.4 and gets no sub-pixel step.
  MatchQuality = 99.0;
  const TWorkRect block{40, 59, 30, 49};
  r = FindShiftByCorrelation(1, 2, 2, 2, block, block, 8, false, -1);
  EXPECT_EQ(r.Position.X, 49.5f + 2);
  EXPECT_GT(MatchQuality, 1.0);
  EXPECT_TRUE(r.AtSearchEdge);
  r = FindShiftByCorrelation(1, 2, 2, 2, block, block, 100, false, -1);
  EXPECT_NEAR(r.Position.X, 49.5 + 2.4, 0.1);
  EXPECT_FALSE(r.AtSearchEdge);
  // A search area off the image: nothing evaluated, a failed measurement.
  MatchQuality = 99.0;
  PutFunction(3, 30, 30, [](int x, int y) { return Texture(x, y); });
  r = FindShiftByCorrelation(1, 2, 3, 2, block, {200, 260, 200, 260}, 100, false, -1);
  EXPECT_EQ(r.Position.X, 0.0f);
  EXPECT_EQ(MatchQuality, 0.0);
}

TEST_F(ShiftMeasurementTest, VectorCostEqualsThePlainCostWithBlanks) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> value(0, 1000);
  for (int32_t w : {3, 8, 13, 64, 67}) {
    const int32_t h = 9, stride = w + 5;
    std::vector<float> a(size_t(w) * h), b(size_t(stride) * h);
    for (float& v : a) v = rng() % 17 == 0 ? BlankPixel : value(rng);
    for (float& v : b) v = rng() % 13 == 0 ? std::nanf("") : value(rng);
    const double plain = BlockMatchCost(a, w, h, b, stride, false);
    const double vec = BlockMatchCost(a, w, h, b, stride, true);
    EXPECT_NEAR(vec, plain, plain * 1e-5) << w;
  }
  const std::vector<float> blank(16, BlankPixel), any(16, 1.0f);
  EXPECT_EQ(BlockMatchCost(blank, 4, 4, any, 4, true), double(NoBlockMatchCost));
  EXPECT_EQ(BlockMatchCost(blank, 4, 4, any, 4, false), double(NoBlockMatchCost));
}

TEST_F(ShiftMeasurementTest, FractionalShiftAgreesWithPhaseCorrelationOfAShiftedTexture) {
  TempDir dir;
  const std::string script = R"(
import numpy as np
from scipy import ndimage
from skimage.registration import phase_cross_correlation
rng = np.random.default_rng(3)
a = ndimage.gaussian_filter(rng.normal(0, 1, (160, 200)), 2.0) * 1000 + 500
b = ndimage.shift(a, (-1.7, 2.4), order=3, mode='nearest')
a.astype('<f4').tofile(r'DIR/a.raw')
b.astype('<f4').tofile(r'DIR/b.raw')
from skimage.filters import window
w = window('hann', a.shape)
s, _, _ = phase_cross_correlation((a - a.mean()) * w, (b - b.mean()) * w, upsample_factor=100)
np.array([-s[1], -s[0]], dtype='<f4').tofile(r'DIR/pc.raw')
)";
  std::string text = script;
  for (size_t at; (at = text.find("DIR")) != std::string::npos;) text.replace(at, 3, dir.path().string());
  ASSERT_TRUE(RunPython(text));
  const std::vector<float> a = ReadFloats(dir.file("a.raw")), b = ReadFloats(dir.file("b.raw"));
  const std::vector<float> pc = ReadFloats(dir.file("pc.raw"));
  ASSERT_EQ(pc.size(), 2u);
  PutImage(1, 200, 160, {a});
  PutImage(2, 200, 160, {b});
  for (bool vector : {false, true}) {
    SimdGuard simd(vector);
    const TShiftResult r = FindShiftByCorrelation(1, 2, 2, 2, Block64, Block64, 100, false, -1);
    EXPECT_NEAR(r.Position.X - 99.5, 2.4, 0.15);
    EXPECT_NEAR(r.Position.Y - 79.5, -1.7, 0.15);
    EXPECT_NEAR(r.Position.X - 99.5, pc[0], 0.15);
    EXPECT_NEAR(r.Position.Y - 79.5, pc[1], 0.15);
  }
}

TEST_F(ShiftMeasurementTest, StarCentroidOfASyntheticStar) {
  PutImage(1, 90, 60, {{}});
  FillGaussianPsf(1, 40.3, 25.7, 2.0);
  UpdateMinMax(1);
  FindStarCentroid(1, {30, 50, 15, 35}, -1, 1);
  EXPECT_NEAR(StarPosition.X, 39.8, 0.1);
  EXPECT_NEAR(StarPosition.Y, 25.2, 0.1);
  EXPECT_GE(StarAperture, 1);
  EXPECT_LE(StarAperture, 5);
  // A noise level of 0.005 counts as 0.01: the same quality.
  MatchQuality = 1e30;
  FindStarCentroid(1, {30, 50, 15, 35}, 0.005f, 1);
  const double q = MatchQuality;
  MatchQuality = 1e30;
  FindStarCentroid(1, {30, 50, 15, 35}, 0.01f, 1);
  EXPECT_EQ(MatchQuality, q);
  MatchQuality = 1e30;
  FindStarCentroid(1, {30, 50, 15, 35}, 0.02f, 1);
  EXPECT_NEAR(MatchQuality, q / 2, q * 1e-6);
}

TEST_F(ShiftMeasurementTest, WideRectanglesAreMeasuredAsDiscs) {
  PutFunction(1, 400, 120, [](int x, int y) { return std::hypot(x - 210.0, y - 60.0) < 30 ? 1000.0f : 10.0f; });
  FindStarCentroid(1, {5, 306, 5, 115}, -1, 1);  // 302 pixels wide
  EXPECT_NEAR(StarPosition.X, 210, 1.0);
  EXPECT_NEAR(StarPosition.Y, 60, 1.0);
}

TEST_F(ShiftMeasurementTest, MosaicStarIsFoundByItsProfiles) {
  PutImage(1, 90, 60, {{}});
  FillGaussianPsf(1, 40.3, 25.7, 2.0);
  TImageSlot& im = Store.Image[1];
  // An RGGB mosaic: red and blue sites see less of the star than green.
  for (int y = 0; y < im.Height; ++y)
    for (int x = 0; x < im.Width; ++x) {
      const int cell = (y & 1) * 2 + (x & 1);
      im.At(1, x, y) = im.At(1, x, y) * (cell == 0 ? 0.6f : cell == 3 ? 0.4f : 1.0f) + 20;
    }
  UpdateMinMax(1);
  MosaicSettings.Cells = {McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1};
  FindStarCentroid(1, {30, 50, 15, 35}, -1, 1, MosaicOptions());
  // The profiles find the star's pixel, the fit its centre (the drawn star's
  // pixel-centre position is 39.8, 25.2).
  EXPECT_NEAR(StarPosition.X, 39.8, 0.02);
  EXPECT_NEAR(StarPosition.Y, 25.2, 0.02);
  // Refined by matching against the same star in a copy: the reference point itself.
  CopyImageSlot(1, 2);
  FindStarCentroid(2, {30, 50, 15, 35}, -1, 1, MosaicOptions(true, 1, {40, 25}));
  EXPECT_NEAR(StarPosition.X, 40, 0.1);
  EXPECT_NEAR(StarPosition.Y, 25, 0.1);
}

// A window whose two marks lie at points of their own.
class TwoMarkWindow : public FakeWindow {
public:
  TPointI MarkerImagePoint(int n) const override { return n == 1 ? point1 : point2; }
  TPointI point1, point2;
};

TEST_F(ShiftMeasurementTest, AlignmentPointsFromMarksAndSelections) {
  PutFunction(1, 200, 160, [](int x, int y) { return Texture(x, y); });
  PutFunction(2, 200, 160, [](int x, int y) { return Texture(x, y, 3, -2); });
  TwoMarkWindow r, s;
  Store.Window[1] = &r;
  Store.Window[2] = &s;
  // Nothing collected without windows, nor without marks.
  TAlignPoints p = GetAlignmentPoints(1, 2, false, -1);
  EXPECT_EQ(p.count, 0);
  Store.HasWindow[1] = Store.HasWindow[2] = 1;
  p = GetAlignmentPoints(1, 2, false, -1);
  EXPECT_EQ(p.count, 0);
  EXPECT_EQ(p.A2x, 100.0f);
  EXPECT_EQ(p.B2y, 100.0f);
  // Mark 1 in the reference, selection 1 in the second, block matching.
  Settings.ShiftMode = 1;
  r.marker1 = true;
  r.point1 = {99, 79};
  s.sel1 = true;
  s.rect1 = {68, 48, 131, 111};
  p = GetAlignmentPoints(1, 2, false, -1);
  EXPECT_EQ(p.count, 1);
  EXPECT_EQ(p.A1x, 99.0f);
  // The block is the reference's selection 1 (here the whole image around the mark's place).
  r.marker1 = false;
  r.sel1 = true;
  r.rect1 = {68, 48, 131, 111};
  p = GetAlignmentPoints(1, 2, false, -1);
  EXPECT_EQ(p.count, 1);
  EXPECT_NEAR(p.A1x, 99.5, 1e-6);
  EXPECT_NEAR(p.B1x, 102.5, 0.1);
  EXPECT_NEAR(p.B1y, 77.5, 0.1);
  EXPECT_EQ(p.A2x, 100.0f);
  // Two marks in each window.
  r = {};
  s = {};
  r.marker1 = r.marker2 = s.marker1 = s.marker2 = true;
  r.point1 = {10, 11};
  r.point2 = {150, 120};
  s.point1 = {13, 9};
  s.point2 = {153, 118};
  p = GetAlignmentPoints(1, 2, false, -1);
  EXPECT_EQ(p.count, 2);
  EXPECT_EQ(p.A2x, 150.0f);
  EXPECT_EQ(p.B2x, 153.0f);
  EXPECT_EQ(p.B2y, 118.0f);
  // Only a first mark in the second window: one pair.
  s.marker2 = false;
  p = GetAlignmentPoints(1, 2, false, -1);
  EXPECT_EQ(p.count, 1);
}

// A shift beyond the block match's search (45 pixels against a grid of +-40):
// the user is asked; "No" stops the collection, "Yes" goes on with the edge
// position. Every measured point shows its quality in the status bar; the
// batch is never asked.
TEST_F(ShiftMeasurementTest, ShiftBeyondTheSearchIsPutToTheUser) {
  struct TAnsweringUi : TEngineUi {
    TDialogAnswer AskYesNoCancel(const std::string& text, bool) override {
      Messages.push_back(text);
      return Answer;
    }
    void ShowStatus(const std::string& text) override { Status.push_back(text); }
    TDialogAnswer Answer = TDialogAnswer::No;
    std::vector<std::string> Status;
  } ui;
  SetEngineUi(&ui);
  SimdGuard simd(true);
  // One feature (a galaxy of radius ~8) on a noisy, flat sky.
  const auto sky = [](double dx, unsigned seed) {
    return [dx, rng = std::make_shared<std::mt19937>(seed)](int x, int y) {
      std::normal_distribution<float> noise(0, 1);
      const double ux = x - 131 - dx, uy = y - 91;
      return float(100 + 400 * std::exp(-(ux * ux + uy * uy) / 128.0)) + noise(*rng);
    };
  };
  PutFunction(1, 300, 200, sky(0, 1));
  PutFunction(2, 300, 200, sky(45, 2));
  FakeWindow r, s;
  Store.Window[1] = &r;
  Store.Window[2] = &s;
  Store.HasWindow[1] = Store.HasWindow[2] = 1;
  Settings.ShiftMode = 1;
  r.sel1 = s.sel1 = true;
  r.rect1 = s.rect1 = {100, 60, 163, 123};
  TAlignPoints p = GetAlignmentPoints(1, 2, false, -1);
  EXPECT_TRUE(p.Stopped);
  EXPECT_EQ(p.count, 0);
  EXPECT_EQ(ui.Messages, std::vector<std::string>{ShiftNotMeasuredText});
  ASSERT_EQ(ui.Status.size(), 1u);
  EXPECT_EQ(ui.Status[0].rfind("Übereinstimmungsqualität: ", 0), 0u);
  ui.Answer = TDialogAnswer::Yes;
  p = GetAlignmentPoints(1, 2, false, -1);
  EXPECT_FALSE(p.Stopped);
  EXPECT_EQ(p.count, 1);
  EXPECT_EQ(ui.Messages.size(), 2u);
  BatchRunning = 1;
  p = GetAlignmentPoints(1, 2, false, -1);
  BatchRunning = 0;
  EXPECT_EQ(p.count, 1);
  EXPECT_EQ(ui.Messages.size(), 2u);
  // Within the search: no question, the quality of this measurement shown.
  PutFunction(2, 300, 200, sky(30, 3));
  MatchQuality = 0.5;  // an earlier, weaker match does not hide this one's quality
  p = GetAlignmentPoints(1, 2, false, -1);
  EXPECT_NEAR(p.B1x - p.A1x, 30, 0.1);
  EXPECT_EQ(ui.Messages.size(), 2u);
  EXPECT_NE(ui.Status.back(), MatchQualityText(0.5));
  EXPECT_EQ(MatchQuality, 0.5);
  EXPECT_EQ(MatchQualityText(12.345), "Übereinstimmungsqualität: 12.35");
  SetEngineUi(nullptr);
}

TEST_F(ShiftMeasurementTest, TwoFaintStarsCombineTheirQualities) {
  std::mt19937 rng(11);
  std::normal_distribution<float> noise(100, 3);
  for (int slot : {1, 2}) {
    PutImage(slot, 160, 100, {{}});
    const double dx = slot == 2 ? 2.0 : 0.0;
    FillGaussianPsf(slot, 40.5 + dx, 30.5, 1.5);
    TImageSlot& im = Store.Image[size_t(slot)];
    std::vector<float> second(im.Planes[1].begin(), im.Planes[1].end());
    std::fill(im.Planes[1].begin(), im.Planes[1].end(), 0.0f);
    FillGaussianPsf(slot, 110.5 + dx, 60.5, 1.5);
    for (size_t k = 0; k < second.size(); ++k) im.Planes[1][k] = (im.Planes[1][k] + 0.6f * second[k]) * 0.02f + noise(rng);
    UpdateMinMax(slot);
  }
  FakeWindow r, s;
  Store.Window[1] = &r;
  Store.Window[2] = &s;
  Store.HasWindow[1] = Store.HasWindow[2] = 1;
  r.sel1 = s.sel1 = r.sel2 = s.sel2 = true;
  r.rect1 = s.rect1 = {30, 20, 55, 42};
  r.rect2 = s.rect2 = {98, 50, 124, 72};
  const TAlignPoints p = GetAlignmentPoints(1, 2, false, -1);
  ASSERT_EQ(p.count, 2);
  EXPECT_NEAR(p.B1x - p.A1x, 2.0, 0.3);
  EXPECT_NEAR(p.B2x - p.A2x, 2.0, 0.3);
  const double combined = MatchQuality;
  // Each star of the second image measured alone with the same noise level.
  const float t = EstimatePlaneNoise(2, 1) + 0.001f;
  MatchQuality = 99.0;
  FindStarCentroid(2, {30, 55, 20, 42}, t, BatchStarApertures[0]);
  const double q1 = MatchQuality;
  MatchQuality = 99.0;
  FindStarCentroid(2, {98, 124, 50, 72}, t, BatchStarApertures[1]);
  const double q2 = std::min(q1, MatchQuality);
  ASSERT_LT(q1, 90.0);
  EXPECT_NEAR(combined, (0.2 * std::max(q1, q2) + std::min(q1, q2)) / 1.2, 1e-9);
}

TEST_F(ShiftMeasurementTest, DiscModeGivesTheSelectionCentreMovedByTheDiscs) {
  PutFunction(1, 300, 200, [](int x, int y) { return std::hypot(x - 150.0, y - 100.0) < 40 ? 1000.0f : 10.0f; });
  PutFunction(2, 300, 200, [](int x, int y) { return std::hypot(x - 157.0, y - 96.0) < 40 ? 1000.0f : 10.0f; });
  FakeWindow r, s;
  Store.Window[1] = &r;
  Store.Window[2] = &s;
  Store.HasWindow[1] = Store.HasWindow[2] = 1;
  r.sel1 = s.sel1 = true;
  r.rect1 = s.rect1 = {60, 20, 250, 180};
  const TShiftResult shift = [&] {
    BatchRunning = 1;
    BatchDiscMode = 1;
    return DetermineShift(1, 2, 1, -1, false, {60, 250, 20, 180});
  }();
  EXPECT_TRUE(shift.DiscDisplacement);
  EXPECT_NEAR(shift.Position.X, 7, 1.0);
  EXPECT_NEAR(shift.Position.Y, -4, 1.0);
  Settings.ShiftMode = 1;
  const TAlignPoints p = GetAlignmentPoints(1, 2, false, -1);
  EXPECT_EQ(p.count, 1);
  EXPECT_NEAR(p.A1x, 150, 1.0);  // the disc of the reference
  EXPECT_NEAR(p.B1x, 155 + shift.Position.X, 1e-4);  // selection centre + displacement
  EXPECT_NEAR(p.B1y, 100 + shift.Position.Y, 1e-4);
  BatchRunning = 0;
  BatchDiscMode = 0;
}

}  // namespace
}  // namespace astrelon::test

namespace astrelon::test {
namespace {

TEST_F(ShiftMeasurementTest, SweepsOfSyntheticStarsMeasureSmallErrors) {
  for (int mode : {0, 1}) {
    Settings.ShiftMode = mode;
    PutImage(1, 200, 120, {{}});
    PutImage(2, 200, 120, {{}});
    TShiftSweepSettings s;
    s.Noise = 0;
    s.SubPixel = 0.3;
    const double quiet = RunShiftFindingSweeps(1, 2, s, 1);
    EXPECT_LT(quiet, 42 * 0.05 * 0.05) << mode;  // within 0.05 px per step
    s.Noise = 2;
    const double noisy = RunShiftFindingSweeps(1, 2, s, 1);
    EXPECT_LT(noisy, 42 * 0.3 * 0.3);
    EXPECT_EQ(noisy, RunShiftFindingSweeps(1, 2, s, 1));  // one seed, one result
    // The picture: per step a zero mark and an error mark (on it when the
    // error rounds to 0), nothing else.
    int marks = 0, other = 0;
    for (float v : Store.Image[2].Planes[1]) {
      marks += v == 6000.0f || v == 10000.0f;
      other += v != 0 && v != 6000.0f && v != 10000.0f;
    }
    EXPECT_GE(marks, 42);
    EXPECT_LE(marks, 84);
    EXPECT_EQ(other, 0);
  }
}

}  // namespace
}  // namespace astrelon::test
