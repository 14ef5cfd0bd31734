// Runs that feed the double-size ("Swarp") accumulation beside the target.
#include "batch/accumulate/weighted_target.h"
#include "batch_run_fixture.h"
#include "store/header_dates.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

class BatchWeightedRunTest : public BatchRunTest {};

TEST_F(BatchWeightedRunTest, AnAddRunWithTheOptionWritesTheDoubleSizeImage) {
  for (int i = 1; i <= 3; ++i) WriteFlat("f000" + std::to_string(i) + ".fit", 4, 3, 7.0f, -10.0 - i);
  Files(dir.file("f0001.fit"), "sum.fit");
  Steps({10});
  Step(2).MarksOrInterpolation = 0;
  BatchRun.CombineMode = 0;
  ASSERT_FALSE(Step(2).OptionCaption.empty()) << "the option is on as the menu sets it";
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
  EXPECT_EQ(labels.Label1, "3 Bilder Add");
  const std::string swarp = dir.file("Swarp_sum.fit");
  ASSERT_TRUE(Exists(swarp));
  FreeSlot(48);
  ASSERT_TRUE(LoadImageFile(48, swarp));
  EXPECT_EQ(Store.Image[48].Width, 7);
  EXPECT_EQ(Store.Image[48].Height, 5);
  for (const float v : PlaneValues(48, 1)) EXPECT_NEAR(v, 7.0f, 1e-4);
  EXPECT_CLOSE(ReadCcdTemperature(48), -12.0, 1e-9);
  // The accumulation is gone; the plain target holds the sum.
  EXPECT_FALSE(SwarpTarget.Exists());
  EXPECT_TRUE(SwarpTarget.Weights[0].empty());
  FreeSlot(48);
  ASSERT_TRUE(LoadImageFile(48, dir.file("sum.fit")));
  EXPECT_EQ(PlaneValues(48, 1), std::vector<float>(12, 21.0f));
}

TEST_F(BatchWeightedRunTest, AnAbortedRunLeavesNoDoubleSizeImage) {
  for (int i = 1; i <= 3; ++i) WriteFlat("f000" + std::to_string(i) + ".fit", 4, 3, 7.0f);
  Files(dir.file("f0001.fit"), "sum.fit");
  Steps({10});
  Step(2).MarksOrInterpolation = 0;
  BatchRun.CombineMode = 0;
  ASSERT_TRUE(Start());
  ui.OnPump = [&] {
    if (BatchRun.FilesDone == 2 && !BatchRun.EndOfRun) PressAbort();
  };
  Run();
  EXPECT_EQ(labels.Label2, "Abbruch!");
  EXPECT_FALSE(Exists(dir.file("Swarp_sum.fit")));
  EXPECT_FALSE(SwarpTarget.Exists());
}

}  // namespace
}  // namespace astrelon::test
