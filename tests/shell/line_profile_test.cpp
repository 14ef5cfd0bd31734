// The line tool's marking steps and the samples and scales of the line profile.
#include "shell/stamps/line_marking.h"
#include "shell/statistics/line_profile.h"
#include "shell/windows/image_window_state.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

class LineProfileTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    ResetImageWindowState();
    ClearLineMarking();
    LinePrompt = {};
  }
  // A w x h grey image whose pixel (x, y) holds 10 x + y.
  static void Ramp(int slot, int w, int h) {
    std::vector<float> v(size_t(w * h));
    for (int i = 0; i < w * h; ++i) v[size_t(i)] = float(10 * (i % w) + i / w);
    test::MakeImage(slot, w, h, {v});
  }
};

TEST_F(LineProfileTest, SamplesAlongTheLongerAxis) {
  Ramp(1, 12, 12);
  const TLineSamples s = SampleLine(1, {9, 3}, {0, 0});
  EXPECT_TRUE(s.Horizontal);
  EXPECT_EQ(s.Count, 9);
  EXPECT_EQ(s.Start, 0);
  EXPECT_EQ(s.Minor, (std::vector<int32_t>{0, 0, 1, 1, 1, 2, 2, 2, 3, 3}));
  EXPECT_FLOAT_EQ(s.Planes[0][2], 21);
  EXPECT_FLOAT_EQ(s.SampleMin, 0);
  EXPECT_DOUBLE_EQ(s.SampleMax, 93);

  const TLineSamples steep = SampleLine(1, {2, 1}, {3, 9});
  EXPECT_FALSE(steep.Horizontal);
  EXPECT_EQ(steep.Start, 1);
  EXPECT_EQ(steep.Point(0).X, 2);
  EXPECT_EQ(steep.Point(8).X, 3);

  const TLineSamples dot = SampleLine(1, {4, 5}, {4, 5});
  EXPECT_EQ(dot.Count, 0);
  EXPECT_EQ(dot.Minor, std::vector<int32_t>{5});
  const TValueRange flat = DiagramRange(dot);
  EXPECT_DOUBLE_EQ(flat.Low, 44);
  EXPECT_DOUBLE_EQ(flat.High, 46);

  EXPECT_EQ(SampleLine(1, {0, 0}, {12, 3}).PlaneCount, 0);  // an end outside the image
  EXPECT_EQ(SampleLine(2, {0, 0}, {1, 1}).PlaneCount, 0);   // no image
}

TEST_F(LineProfileTest, BlankSamplesStayOutOfTheRange) {
  Ramp(1, 5, 1);
  Store.Image[1].Planes[1][2] = -1e11f;
  const TLineSamples s = SampleLine(1, {0, 0}, {4, 0});
  EXPECT_FLOAT_EQ(s.SampleMin, 0);
  EXPECT_DOUBLE_EQ(s.SampleMax, 40);
  EXPECT_FLOAT_EQ(s.Planes[0][2], -1e11f);
}

TEST_F(LineProfileTest, AxisStepsAndPositions) {
  const TAxisSteps v = ValueAxisSteps(200, 100);
  EXPECT_DOUBLE_EQ(v.Major, 20);
  EXPECT_DOUBLE_EQ(v.Minor, 2);
  const TAxisSteps five = AxisSteps(0.0031, -7);
  EXPECT_NEAR(five.Major, 0.005, 1e-12);
  EXPECT_NEAR(five.Minor, 0.001, 1e-12);
  const TAxisSteps pos = PositionAxisSteps(300, 20, 9);  // 10 labels, raw 0.9
  EXPECT_DOUBLE_EQ(pos.Major, 1);
  EXPECT_DOUBLE_EQ(pos.Minor, 1);
  const TValueRange r{0, 100};
  EXPECT_EQ(ValueToY(100, r, 235), 11);
  EXPECT_EQ(ValueToY(0, r, 235), 211);
  EXPECT_EQ(ValueToY(5, TValueRange{5, 5}, 235), 211);
  EXPECT_EQ(PointTextDigits(700, 10), 10);
  EXPECT_EQ(PointTextDigits(700, 0), 5);
  EXPECT_EQ(PointValueText(12.5f, 5), "12,500");
  EXPECT_EQ(PointValueText(1.23456f, 5), "1,235..");
}

TEST_F(LineProfileTest, MarkingCountsLinesAndRestarts) {
  LinePrompt.LinesNeeded = LinesNeededFor(0);
  EXPECT_EQ(LineMarkPress(3, {1, 2}), TLinePress::Restarted);
  EXPECT_EQ(ToolTargetSlot, 3);
  EXPECT_TRUE(LineMarkMove(3, {5, 6}));
  EXPECT_FALSE(LineMarkMove(4, {5, 6}));
  EXPECT_EQ(LineMarkPress(4, {0, 0}), TLinePress::Ignored);  // another window
  EXPECT_EQ(LineMarkPress(3, {7, 8}), TLinePress::FinishedAll);
  EXPECT_EQ(LineMarking.Lines[1].P2.X, 7);
  EXPECT_EQ(LineMarkPress(3, {2, 2}), TLinePress::Restarted);  // a further press starts line 1 again
  EXPECT_EQ(LinePrompt.LinesMarked, 1);
  EXPECT_EQ(LineMarking.Lines[1].Drawn, 0);

  ResetImageWindowState();
  ClearLineMarking();
  LinePrompt = {};
  LinePrompt.LinesNeeded = LinesNeededFor(2);
  LineMarkPress(1, {0, 0});
  EXPECT_EQ(LineMarkPress(1, {5, 0}), TLinePress::Finished);
  EXPECT_EQ(LineMarkPress(1, {0, 5}), TLinePress::Started);
  EXPECT_EQ(LineMarkPress(1, {5, 5}), TLinePress::FinishedAll);
  EXPECT_EQ(LineMarking.Lines[1].Drawn + LineMarking.Lines[2].Drawn, 2);
}

}  // namespace
}  // namespace astrelon
