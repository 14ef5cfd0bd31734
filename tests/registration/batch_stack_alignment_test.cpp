// The batch's multi-star alignment installed for the stack combination: frames
// turned, scaled and shifted, with their star pairs stored, stack like the
// frames aligned by scipy's affine transform, within what the two
// interpolations (the program's cubic kernel, scipy's cubic spline) differ by.
#include "registration/matching/batch_stack_alignment.h"

#include <cmath>
#include <sstream>

#include "common/engine_ui.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "registration/combination/batch_combination_inputs.h"
#include "registration/matching/star_assignment.h"
#include "registration/stacking/combine_image_stack.h"
#include "registration/stacking/stack_alignment.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr int W = 64, H = 56, Target = 5;

// Target pixel (c, r) lies at (Tx + A c - B r, Ty + B c + A r) of the frame.
struct TFrameMap {
  double A, B, Tx, Ty;
};

const double Stars[][2] = {{14, 12}, {50, 15}, {20, 44}, {47, 40}, {33, 28}};

float Scene(double x, double y) {
  double v = 100;
  for (const auto& s : Stars) v += 60 * std::exp(-((x - s[0]) * (x - s[0]) + (y - s[1]) * (y - s[1])) / 50.0);
  return float(v);
}

class BatchStackAlignment : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    SetEngineUi(&ui_);
    ResetStarMatching();
    InstallBatchStackAlignment();
    SeriesFileList.clear();
    BatchMarkPairs.clear();
  }
  void TearDown() override {
    RemoveBatchStackAlignment();
    ResetStarMatching();
    SeriesFileList.clear();
    BatchMarkPairs.clear();
    BatchMarkCount = 0;
    SetEngineUi(nullptr);
    StoreTest::TearDown();
  }
  TEngineUi ui_;
  TempDir dir_;
};

TEST_F(BatchStackAlignment, InstalledOnlyWhileTheRunLasts) {
  EXPECT_NE(StackAlignment, nullptr);
  RemoveBatchStackAlignment();
  EXPECT_EQ(StackAlignment, nullptr);
  InstallBatchStackAlignment();
}

TEST_F(BatchStackAlignment, FramesStackLikeScipyAffineTransform) {
  const TFrameMap maps[] = {{1, 0, 0, 0},
                            {1.02 * std::cos(0.09), 1.02 * std::sin(0.09), 3, -2},
                            {0.98 * std::cos(-0.07), 0.98 * std::sin(-0.07), -2, 1.5}};
  std::ostringstream py;
  py.precision(17);
  py << "import numpy as np\nfrom astropy.io import fits\nfrom scipy.ndimage import affine_transform\nout = []\n";
  for (int i = 0; i < 3; ++i) {
    const TFrameMap& m = maps[i];
    const double d = m.A * m.A + m.B * m.B;
    std::vector<float> v(W * H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        // The scene point that the frame shows at (x, y).
        const double c = ((x - m.Tx) * m.A + (y - m.Ty) * m.B) / d, r = (-(x - m.Tx) * m.B + (y - m.Ty) * m.A) / d;
        v[size_t(y * W + x)] = Scene(c, r);
      }
    const std::string path = dir_.file("f" + std::to_string(i) + ".fit");
    MakeImage(40, W, H, {v}, path);
    ASSERT_TRUE(SaveFits(40, -32, path, false, false));
    FreeSlot(40);
    SeriesFileList.push_back(path);
    std::vector<TMarkPair> pairs;
    for (const auto& s : Stars)
      pairs.push_back(
          {float(s[0]), float(s[1]), float(m.Tx + m.A * s[0] - m.B * s[1]), float(m.Ty + m.B * s[0] + m.A * s[1])});
    BatchMarkPairs.push_back(pairs);
    // scipy works in (row, column): the frame's row is Ty + A r + B c, its column Tx - B r + A c.
    py << "f = fits.getdata('" << path << "').astype(np.float64)\n"
       << "out.append(affine_transform(f, [[" << m.A << ", " << m.B << "], [" << -m.B << ", " << m.A << "]], offset=["
       << m.Ty << ", " << m.Tx << "], order=3, mode='constant', cval=np.nan))\n";
  }
  BatchMarkCount = 3;
  Store.FileName[Target] = "/d/stack.fit";
  ASSERT_EQ(CombineImageStack({.TargetSlot = Target, .Count = 3, .Method = TStackMethod::Median}), 3);
  const std::string result = dir_.file("result.raw");
  WriteFloats(result, PlaneValues(Target, 1));
  py << "got = np.fromfile('" << result << "', dtype='<f4').reshape(" << H << ", " << W << ")\n"
     << "want = np.nanmedian(np.array(out), axis=0)\n"
     << "inner = (slice(8, " << H - 8 << "), slice(8, " << W - 8 << "))\n"
     << "err = np.abs(got[inner] - want[inner])\n"
     << "assert err.max() < 0.6 and err.mean() < 0.05, (err.max(), err.mean())\n";
  EXPECT_TRUE(RunPython(py.str()));
  // The last frame's fit is its map, and the grid has nothing left to correct.
  const TFittedTransform& fit = BatchFittedTransform;
  EXPECT_NEAR(fit.A, maps[2].A, 1e-6);
  EXPECT_NEAR(fit.B, maps[2].B, 1e-6);
  EXPECT_NEAR(fit.Tx, maps[2].Tx, 1e-4);
  EXPECT_NEAR(fit.Ty, maps[2].Ty, 1e-4);
  ASSERT_EQ(BatchShiftGrid.NodesPerRow, W / 4 + 2);
  for (float v : BatchShiftGrid.Nodes) ASSERT_LT(std::fabs(v), 1e-4f);
  // The first frame is the reference: the result there is the scene itself.
  EXPECT_NEAR(Store.Image[Target].At(1, 33, 28), Scene(33, 28), 0.4);
}

}  // namespace
}  // namespace astrelon::test
