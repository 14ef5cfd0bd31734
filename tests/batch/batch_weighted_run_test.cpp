// Runs that feed the double-size ("Swarp") accumulation beside the target.
#include "batch/accumulate/weighted_target.h"
#include "batch_run_fixture.h"
#include "platform/memory_probe.h"
#include "store/header_dates.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

class BatchWeightedRunTest : public BatchRunTest {
protected:
  // Three flat 4 x 3 frames of 7 (CCD-TEMP -11, -12, -13) added into sum.fit,
  // the double-size option on as the menu sets it.
  void SwarpBatch() {
    for (int i = 1; i <= 3; ++i) WriteFlat("f000" + std::to_string(i) + ".fit", 4, 3, 7.0f, -10.0 - i);
    BatchSteps = TBatchStepList();
    Files(dir.file("f0001.fit"), "sum.fit");
    Steps({10});
    Step(2).MarksOrInterpolation = 0;
    BatchRun.CombineMode = 0;
  }
};

TEST_F(BatchWeightedRunTest, AnAddRunWithTheOptionWritesTheDoubleSizeImage) {
  SwarpBatch();
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
  SwarpBatch();
  ASSERT_TRUE(Start());
  ui.OnPump = [&] {
    if (BatchRun.FilesDone == 2 && !BatchRun.EndOfRun) PressAbort();
  };
  Run();
  EXPECT_EQ(labels.Label2, "Abbruch!");
  EXPECT_FALSE(Exists(dir.file("Swarp_sum.fit")));
  EXPECT_FALSE(SwarpTarget.Exists());
}

// An earlier result under a name the run would write stays as it was: the
// double-size image of an earlier run, and a file that took the new target's
// name while the run went on; each result goes to the next free name.
TEST_F(BatchWeightedRunTest, EarlierFilesUnderTheResultsNamesStay) {
  struct Case {
    const char* kept;     // the earlier file
    bool duringRun;       // written while the run goes on, else before it
    const char* target;   // where the stack goes
    const char* swarp;    // where the double-size image goes
  } cases[] = {
      {"Swarp_sum.fit", false, "sum.fit", "Swarp_sum_2.fit"},
      {"sum.fit", true, "sum_2.fit", "Swarp_sum_2.fit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kept);
    ResetRun();
    SwarpBatch();
    ui.Messages.clear();
    for (const char* name : {"sum.fit", "sum_2.fit", "Swarp_sum.fit", "Swarp_sum_2.fit"})
      std::filesystem::remove(dir.file(name));
    const std::string kept = dir.file(c.kept);
    if (!c.duringRun) WriteFlat(c.kept, 2, 2, 99.0f);
    ui.OnPump = [&] {
      if (c.duringRun && BatchRun.FilesDone == 2 && !Exists(kept)) WriteFlat(c.kept, 2, 2, 99.0f);
    };
    ASSERT_TRUE(Start());
    Run();
    EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
    EXPECT_TRUE(ui.Messages.empty()) << ui.Messages.front();
    FreeSlot(48);
    ASSERT_TRUE(LoadImageFile(48, kept));
    EXPECT_EQ(PlaneValues(48, 1), std::vector<float>(4, 99.0f));
    FreeSlot(48);
    ASSERT_TRUE(LoadImageFile(48, dir.file(c.target)));
    EXPECT_EQ(PlaneValues(48, 1), std::vector<float>(12, 21.0f));
    FreeSlot(48);
    ASSERT_TRUE(LoadImageFile(48, dir.file(c.swarp)));
    EXPECT_EQ(Store.Image[48].Width, 7);
    FreeSlot(48);
  }
}

// The free memory cannot hold the double-size image: the run stops at its
// first image with "Nicht genug Speicher" and writes nothing.
TEST_F(BatchWeightedRunTest, NoMemoryForTheDoubleSizeImageStopsTheRunBeforeAnythingIsWritten) {
  SwarpBatch();
  // Room for a frame (48 bytes) and its copies, not for the 7 x 5 sums and weights.
  AvailableMemoryOverride = [] { return uint64_t(300); };
  ASSERT_TRUE(Start());
  Run();
  AvailableMemoryOverride = nullptr;
  EXPECT_EQ(ui.Messages, std::vector<std::string>{"Nicht genug Speicher"});
  EXPECT_EQ(labels.Label2, "Abbruch!");
  EXPECT_FALSE(SwarpTarget.Exists());
  EXPECT_FALSE(Exists(dir.file("sum.fit")));
  EXPECT_FALSE(Exists(dir.file("Swarp_sum.fit")));
}

}  // namespace
}  // namespace astrelon::test
