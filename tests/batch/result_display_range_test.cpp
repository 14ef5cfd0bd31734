// A batch result's display range is its own: lights that carry the raw
// frames' display cards, calibrated in one batch and stacked in another, give
// files without those cards, a stack shown from its own levels, and a Save As
// TIFF (read back by Python) that holds the sky and the galaxy.
#include "batch_run_fixture.h"
#include "shell/save/save_tiff_scaled.h"
#include "star_scene.h"
#include "store/fits/fits_display_cards.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

class ResultDisplayRangeTest : public BatchRunTest {
protected:
  static bool HasDisplayCard(int slot) {
    return FindHeaderKeyword(slot, HistParCardKey) > 0 || FindHeaderKeyword(slot, Hp3CardKey) > 0;
  }
};

TEST_F(ResultDisplayRangeTest, CalibratedAndStackedResultsShowTheirOwnLevels) {
  // Raw lights: a dark level of 413 under a sky of 420 with a galaxy and stars,
  // each shown (and saved with its cards) at the raw range 626 .. 2018.
  TScene night;
  night.Width = 96;
  night.Height = 64;
  night.Sky = 833;
  night.Noise = 8;
  night.Stars = {{20, 15, 3000, 1.4}, {70, 50, 800, 1.4}, {80, 12, 12000, 1.4}};
  night.Blobs = {{48, 32, 80, 9, 5}};
  for (int i = 1; i <= 5; ++i) {
    MakeImage(49, night.Width, night.Height, {night.Render(uint32_t(i))});
    Store.Display[49].Black = 626;
    Store.Display[49].White = 2018;
    ASSERT_TRUE(SaveFits(49, -32, dir.file("light000" + std::to_string(i) + ".fit"), true, false));
    ASSERT_TRUE(HasDisplayCard(49));
    FreeSlot(49);
  }
  WriteFlat("dark.fit", night.Width, night.Height, 413);

  Files(dir.file("light0001.fit"), dir.file("cal.fit"));
  Steps({11});
  Step(2).Values[0] = dir.file("dark.fit");
  ASSERT_TRUE(Start());
  Run();
  ResetRun();
  ResetBatchModule();
  Files(dir.file("cal_0001.FIT"), dir.file("stack.fit"));
  BatchRun.CombineMode = 5;  // Sigma
  Steps({10});
  Step(2).MarksOrInterpolation = 0;
  ASSERT_TRUE(Start());
  Run();

  for (const char* name : {"cal_0001.FIT", "cal_0005.FIT", "stack.fit"}) {
    SCOPED_TRACE(name);
    FreeSlot(48);
    ASSERT_TRUE(LoadImageFile(48, dir.file(name)));
    EXPECT_FALSE(HasDisplayCard(48));
    const TDisplayRecord& d = Store.Display[48];
    EXPECT_LT(d.Black, 420);  // below the calibrated sky
    EXPECT_GT(d.White, 500);  // above the galaxy
  }
  // Save As TIFF of the stack as read writes what the window shows, with a
  // linear display and with the automatic gamma.
  struct TKeptOptions {
    TProgramOptions Kept = Options;
    ~TKeptOptions() { Options = Kept; }
  } kept;
  Options.TiffScale = 0;
  for (const uint8_t gamma : {0, 1}) {
    Options.GammaAdjust = gamma;
    FreeSlot(48);
    ASSERT_TRUE(LoadImageFile(48, dir.file("stack.fit")));
    const std::string tiff = dir.file("stack" + std::to_string(gamma) + ".tif");
    ASSERT_TRUE(SaveTiffScaled(48, 2, tiff));
    EXPECT_TRUE(RunPython("from PIL import Image\nimport numpy as np\n"
                          "a = np.asarray(Image.open('" + tiff + "'), dtype=float)\n"
                          "sky, galaxy = np.median(a[:, :20]), np.median(a[29:36, 44:53])\n"
                          "zero, full = np.mean(a == 0), np.mean(a == 65535)\n"
                          "assert zero < 0.01 and full < 0.01, (zero, full)\n"
                          "assert sky > 20 and galaxy > 2 * sky, (sky, galaxy)\n"));
  }
}

}  // namespace
}  // namespace astrelon::test
