// Comet stacks as whole runs on a night's series: aligned on marked stars,
// the nucleus lands where numpy's comet stack has it, and the run's shift
// list reruns to the same target.
#include <cstring>
#include <filesystem>

#include "batch/inputs/shift_list_file.h"
#include "comet_frames.h"
#include "kernels/alignment/float_point.h"
#include "marked_run_fixture.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

using namespace comet;

class CometRunTest : public MarkedRunTest {
protected:
  void SetUp() override {
    MarkedRunTest::SetUp();
    start = WriteFrames(dir);
  }
  // The user's side of a run: boxes on the bright star (on two stars for two
  // marks, on all four in multipoint mode) in the first image, "Keine
  // Kontrolle mehr".
  void PlayTheUser(int marks) {
    answer = [this, marks](int prompt, int target, int) {
      if (prompt == 1 && marks < 3)
        for (int n = 0; n < marks; ++n) DrawBox(target, BoxAround(Stars[2 * n].X, Stars[2 * n].Y, 6));
      if (prompt == 1 && marks == 3)
        for (const TFieldStar& star : Stars) windows[size_t(target)].marks.push_back(BoxAround(star.X, star.Y, 6));
      Ok(true);
    };
  }
  std::vector<float> Target(const std::string& name) {
    FreeSlot(48);
    EXPECT_TRUE(LoadImageFile(48, name)) << name;
    std::vector<float> v = PlaneValues(48, 1);
    FreeSlot(48);
    return v;
  }

  std::string start;
};

TEST_F(CometRunTest, AMarkedCometStackHasTheNucleusWhereNumpyHasItAndItsListRerunsToTheSameBits) {
  struct Case {
    int marks;
    bool byTime;
    const char* x;
    const char* y;
    int32_t combineMode = 0;
  } cases[] = {{1, false, "-1.5", "0.8"}, {1, true, "-0.75", "0.4"}, {2, false, "-1.5", "0.8"},
               {3, false, "-1.5", "0.8"}, {1, false, "-1.5", "0.8", 3}, {3, false, "-1.5", "0.8", 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.marks) + (c.byTime ? " marks, by time" : " marks") + " mode " +
                 std::to_string(c.combineMode));
    // The batch of the case into this target.
    const auto batch = [&](const std::string& target) {
      Restart();
      Files(start, target);
      MarkedAddBatch(c.marks);
      BatchRun.CombineMode = c.combineMode;
      Step(2).Values[0] = c.x;
      Step(2).Values[1] = c.y;
      BatchWindow.TimestampTicked = c.byTime;
    };
    const std::string tag = std::to_string(c.marks) + (c.byTime ? "t" : "") + std::to_string(c.combineMode);
    const std::string name = "comet" + tag + ".fit";
    batch(name);
    PlayTheUser(c.marks);
    ASSERT_TRUE(Start());
    Run();
    EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
    const std::string stacked = c.combineMode == 0 ? "12 Bilder Add" : "12 Bilder Median";
    EXPECT_EQ(labels.Label1, stacked);
    ASSERT_EQ(prompts.size(), 1u) << "only the first image asks";
    const std::vector<float> target = Target(dir.file(name));
    const TNucleusOracle n = MeasureNucleus(target);
    ASSERT_TRUE(n.Ok);
    EXPECT_NEAR(n.Target.X, n.Numpy.X, 0.2);
    EXPECT_NEAR(n.Target.Y, n.Numpy.Y, 0.2);
    EXPECT_LT(n.Target.Sigma, 1.2 * n.OneFrame.Sigma);
    EXPECT_NEAR(n.Numpy.X, StartX, 0.05);
    EXPECT_NEAR(n.Numpy.Y, StartY, 0.05);

    // The list: the stars where they are (tracked), the reference points
    // moved by the comet offset, (k - 1) (X, Y) for frame k.
    // (A multipoint run names the marks the user set.)
    const size_t listed = c.marks < 3 ? size_t(c.marks) : std::size(Stars);
    const std::string listName = dir.file("VList_" + std::to_string(listed) + "Stars_12files.qvl");
    TShiftListFile list;
    std::string error;
    ASSERT_TRUE(ReadShiftListFile(listName, list, error)) << error;
    std::filesystem::remove(listName);
    ASSERT_EQ(list.Count(), Count);
    for (int k = 1; k <= Count; ++k) {
      // Target and work image of the bright star's pair.
      TFloatPoint a{}, b{}, a1{};
      if (c.marks < 3) {
        const TStarPair& p = list.StarPairs[size_t(k - 1)];
        a = {p[0], p[1]};
        b = {p[4], p[5]};
        a1 = {list.StarPairs[0][0], list.StarPairs[0][1]};
      } else {
        ASSERT_EQ(list.MarkPairs[size_t(k - 1)].size(), listed) << k;
        const TMarkPair& p = list.MarkPairs[size_t(k - 1)][0];
        a = {p.Xa, p.Ya};
        b = {p.Xb, p.Yb};
        a1 = {list.MarkPairs[0][0].Xa, list.MarkPairs[0][0].Ya};
      }
      EXPECT_NEAR(a.X - a1.X, -MoveX * (k - 1), 0.05) << k;
      EXPECT_NEAR(a.Y - a1.Y, -MoveY * (k - 1), 0.05) << k;
      EXPECT_NEAR(b.X, Stars[0].X, 0.1) << k;
      EXPECT_NEAR(b.Y, Stars[0].Y, 0.1) << k;
    }

    // The same batch again from the list asks nothing and gives the same bits.
    const std::string again = "again" + tag + ".fit";
    batch(again);
    BatchRun.UseShiftList = true;
    InstallRunShiftList(list);
    BatchRun.ShiftListCount = list.Count();
    ASSERT_TRUE(Start());
    Run();
    EXPECT_TRUE(prompts.empty());
    EXPECT_EQ(labels.Label1, stacked);
    const std::vector<float> rerun = Target(dir.file(again));
    ASSERT_EQ(rerun.size(), target.size());
    size_t differ = 0;
    for (size_t i = 0; i < target.size(); ++i) differ += std::memcmp(&rerun[i], &target[i], sizeof(float)) != 0;
    EXPECT_EQ(differ, 0u);
  }
}

}  // namespace
}  // namespace astrelon::test
